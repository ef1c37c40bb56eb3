#include "figure_text.h"

#include <array>
#include <charconv>
#include <locale>
#include <sstream>

namespace quenda::results {

std::string exact_text(double value) {
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  // 64 characters hold any double; an error cannot happen.
  if (error != std::errc()) return "nan";
  return std::string(buffer.data(), end);
}

std::string report_text(double value, int digits) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.precision(digits);
  text << value;
  return text.str();
}

}  // namespace quenda::results
