#include "write/figure_text.h"

#include <array>
#include <charconv>
#include <locale>
#include <sstream>

namespace quenda::results {

std::string exact_text(double value) {
  std::array<char, 64> buffer{};  // more than any double takes
  return std::string(buffer.data(),
                     std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr);
}

std::string report_text(double value, int digits) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.precision(digits);
  text << value;
  return text.str();
}

}  // namespace quenda::results
