#include "write/text_escape.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace quenda::results {
namespace {

constexpr char32_t kNotUtf8 = 0xFFFFFFFF;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The code point that starts at `text[at]` and the bytes it takes, or
// kNotUtf8 and one byte where no well-formed sequence starts (overlong
// forms, surrogates and values past U+10FFFF included).
std::pair<char32_t, std::size_t> decode(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
  const std::uint8_t first = byte(0);
  if (first < 0x80) return {first, 1};
  // C0 and C1 would start overlong forms, F5 to FF values past U+10FFFF.
  if (first < 0xC2 || first > 0xF4) return {kNotUtf8, 1};
  const std::size_t length = first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
  char32_t value = first & (0x7F >> length);
  // The range of the second byte, narrower where the shortest form or the
  // last code point ends, or where the surrogates begin.
  const std::uint8_t low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
  const std::uint8_t high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
  if (text.size() - at < length) return {kNotUtf8, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {kNotUtf8, 1};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, length};
}

// Printable ASCII, which every output takes as it is.
bool plain(char c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

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

std::string valid_text(std::string_view bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), plain)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto [c, length] = decode(bytes, at);
    // XML takes no control character but tab and line feed, nor U+FFFE or U+FFFF.
    const bool allowed = c < 0x20 ? c == '\t' || c == '\n' : c != 0xFFFE && c != 0xFFFF;
    if (c != kNotUtf8 && allowed) {
      text += bytes.substr(at, length);
    } else {
      text += kReplacement;
    }
    at += length;
  }
  return text;
}

void append_xml_text(std::string& out, std::string_view bytes) {
  const auto special = [](char c) {
    return !plain(c) || c == '&' || c == '<' || c == '>' || c == '"';
  };
  if (std::none_of(bytes.begin(), bytes.end(), special)) {
    out += bytes;
    return;
  }
  for (const char c : valid_text(bytes)) {
    const std::string_view entity = c == '&'   ? "&amp;"
                                    : c == '<' ? "&lt;"
                                    : c == '>' ? "&gt;"
                                    : c == '"' ? "&quot;"
                                               : "";
    out += entity.empty() ? std::string_view(&c, 1) : entity;
  }
}

std::string xml_text(std::string_view bytes) {
  std::string escaped;
  append_xml_text(escaped, bytes);
  return escaped;
}

std::string printable(std::string_view bytes) {
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string text;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto [c, length] = decode(bytes, at);
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == '\\';
    if (c != kNotUtf8 && !control) {
      text += bytes.substr(at, length);
    } else {
      for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[at + i]);
        text.append({'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]});
      }
    }
    at += length;
  }
  return text;
}

}  // namespace quenda::results
