#include "write/chart_parts.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "write/text_escape.h"

namespace quenda::results {
namespace {

// The two halves of 10^power whose product scales a value by 10^power for
// every power a double's range spans: neither factor overflows to
// infinity or vanishes to zero.
std::pair<double, double> power_of_ten(int power) {
  const int half = power / 2;
  return {std::pow(10.0, half), std::pow(10.0, power - half)};
}

double times_power_of_ten(double value, int power) {
  const auto [first, second] = power_of_ten(power);
  return value * first * second;
}

// Appends `value` rounded to tenths as %g prints it. Tenths below a million
// have at most six digits: the text is the whole tenths and, unless it is
// nought, the tenth. The page's coordinates are all of this kind; anything
// else takes the long way.
void append_number(std::string& out, double value) {
  const double tenths = std::round(value * 10.0);
  if (!(std::abs(tenths) < 1e6) || (tenths == 0.0 && std::signbit(tenths))) {
    out += report_text(tenths / 10.0);
    return;
  }
  const auto whole = static_cast<long>(std::abs(tenths));
  std::array<char, 16> digits{};
  char* end = std::to_chars(digits.data(), digits.data() + digits.size(), whole / 10).ptr;
  if (whole % 10 != 0) {
    *end++ = '.';
    *end++ = static_cast<char>('0' + whole % 10);
  }
  if (tenths < 0) out += '-';
  out.append(digits.data(), end);
}

}  // namespace

std::string number(double value) {
  std::string text;
  append_number(text, value);
  return text;
}

void Svg::put_part(double coordinate) { append_number(svg_, coordinate); }

void Svg::put_text(std::string_view text) { append_xml_text(svg_, text); }

void Svg::open(double width, double height, std::string_view title) {
  put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "width=\"",
      width, "\" height=\"", height, "\" viewBox=\"0 0 ", width, ' ', height,
      "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
  text(kMargin, kMargin + 20, title, "font-size=\"20\" font-weight=\"bold\"");
}

std::string Svg::finish() {
  svg_ += "</svg>\n";
  return std::move(svg_);
}

void Svg::text(double x, double y, std::string_view content, std::string_view attributes) {
  put("<text x=\"", x, "\" y=\"", y, '"');
  if (!attributes.empty()) put(' ', attributes);
  put('>');
  put_text(content);
  put("</text>\n");
}

void Svg::line(double x1, double y1, double x2, double y2, std::string_view attributes) {
  put("<line x1=\"", x1, "\" y1=\"", y1, "\" x2=\"", x2, "\" y2=\"", y2, "\" ", attributes, "/>\n");
}

void Svg::end_element(std::string_view tag, std::string_view title) {
  if (title.empty()) return put("/>\n");
  put("><title>");
  put_text(title);
  put("</title></", tag, ">\n");
}

void Svg::element(std::string_view tag, std::string_view lead, std::string_view rest,
                  std::string_view title) {
  put('<', tag);
  if (!lead.empty()) put(' ', lead);
  put(' ', rest);
  end_element(tag, title);
}

void Svg::rect(double x, double y, double width, double height, std::string_view fill,
               std::string_view lead, std::string_view title) {
  put("<rect");
  if (!lead.empty()) put(' ', lead);
  put(" x=\"", x, "\" y=\"", y, "\" width=\"", width, "\" height=\"", height, "\" fill=\"", fill,
      '"');
  end_element("rect", title);
}

void Svg::circle(double x, double y, double radius, std::string_view fill, std::string_view lead,
                 std::string_view title) {
  put("<circle");
  if (!lead.empty()) put(' ', lead);
  put(" cx=\"", x, "\" cy=\"", y, "\" r=\"", radius, "\" fill=\"", fill, '"');
  end_element("circle", title);
}

void Svg::rule(double x, double y, std::string_view colour, std::string_view caption,
               std::string_view dashes) {
  std::string style = "stroke=\"" + std::string(colour) + "\" stroke-width=\"2\"";
  if (!dashes.empty()) style += " stroke-dasharray=\"" + std::string(dashes) + '"';
  line(x, y - 4, x + 30, y - 4, style);
  text(x + 36, y, caption, "font-size=\"12\"");
}

void Svg::open_panel(TestId id, double x, double y, double width, double height) {
  put("<g class=\"panel\" data-test=\"", test_key(id), "\" transform=\"translate(", x, ' ', y,
      ")\">\n");
  element("rect", "",
          "width=\"" + number(width) + "\" height=\"" + number(height) +
              "\" fill=\"none\" stroke=\"#dddddd\"");
  text(10, 20, test_label(id), "font-size=\"14\" font-weight=\"bold\"");
}

void Svg::close_panel() { svg_ += "</g>\n"; }

void Svg::grid(const Scale& scale, double left, double right, double bottom, double height) {
  for (int i = 0; i <= scale.intervals(); ++i) {
    const double y = bottom - height * i / scale.intervals();
    line(left, y, right, y, "stroke=\"#eeeeee\"");
    text(left - 6, y + 4, scale.label(i), "font-size=\"10\" text-anchor=\"end\" fill=\"#444444\"");
  }
}

Scale::Scale(double largest, double headroom) {
  if (!(largest > 0.0)) largest = 1.0;
  exponent_ = static_cast<int>(std::floor(std::log10(largest)));
  down_ = power_of_ten(-exponent_);
  const double top = times_power_of_ten(largest, -exponent_) * headroom;
  const double raw = top / 4.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double scaled = raw / magnitude;
  const double step = scaled <= 1.0   ? 1.0
                      : scaled <= 2.0 ? 2.0
                      : scaled <= 2.5 ? 2.5
                      : scaled <= 5.0 ? 5.0
                                      : 10.0;
  step_ = step * magnitude;
  // About four; rounding can add one. The clamp is the loop's bound. The
  // top grid line never falls below the largest figure, or its bar would
  // be cut.
  intervals_ = std::clamp(static_cast<int>(std::ceil(top / step_ - 1e-9)), 1, kMaxIntervals);
  if (step_ * intervals_ < top) ++intervals_;
}

double Scale::share(double value) const {
  const double share = value * down_.first * down_.second / (step_ * intervals_);
  if (!(share > 0.0)) return 0.0;
  return std::min(share, 1.0);
}

std::string Scale::label(int i) const {
  double units = step_ * i;
  const double value = times_power_of_ten(units, exponent_);
  if (std::isfinite(value) && (value != 0.0 || i == 0)) return report_text(value);
  int exponent = exponent_;
  for (; units >= 10.0; units /= 10.0) ++exponent;
  const std::string digits = std::to_string(std::abs(exponent));
  return report_text(units) + (exponent < 0 ? "e-" : "e+") + (digits.size() < 2 ? "0" : "") +
         digits;
}

}  // namespace quenda::results
