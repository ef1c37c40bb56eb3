#include "write/figure_text.h"

#include <array>
#include <charconv>

namespace quenda::results {

std::string exact_text(double value) {
  std::array<char, 64> buffer{};  // more than any double takes
  return std::string(buffer.data(),
                     std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr);
}

std::string report_text(double value, int digits) {
  // As the report's streams print it: %g in the C locale, without a
  // stream's set-up for every figure.
  std::array<char, 64> buffer{};
  return std::string(buffer.data(), std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                  value, std::chars_format::general, digits)
                                        .ptr);
}

}  // namespace quenda::results
