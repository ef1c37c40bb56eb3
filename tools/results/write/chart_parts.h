// What the run chart and the history chart draw with: coordinates as text,
// the page with its texts and lines, and a vertical scale of round steps.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_CHART_PARTS_H_
#define QUENDA_TOOLS_RESULTS_WRITE_CHART_PARTS_H_

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "read/results_file.h"

namespace quenda::results {

inline constexpr double kMargin = 24;  // around the page, in pixels

inline constexpr char kWorkersColour[] = "#4c78a8";  // their rates, their total
inline constexpr char kMeanColour[] = "#1b9e77";
// Red is the tool's own judgement (a flagged node, a run below its
// history) and nothing else; the report's verdict is shown in grey, as
// what the benchmark said, never as an alarm.
inline constexpr char kSignificantColour[] = "#c0392b";
inline constexpr char kReportVerdictColour[] = "#777777";

// A coordinate rounded to a tenth of a pixel, in the classic locale.
std::string number(double value);

// A figure that has a place on a scale: present and finite.
inline bool drawable(const std::optional<double>& value) { return value && std::isfinite(*value); }

// A panel's vertical scale: `intervals` round steps from zero, counted in
// units of 10^exponent. Every figure from the smallest subnormal to the
// largest double has a scale whose top is a double of about ten units:
// scaled down first, a figure near the largest double cannot overflow the
// headroom above it, and the number of grid lines does not depend on it.
class Scale {
 public:
  // Covers `largest` (finite; 1 where it is not above zero) times
  // `headroom`.
  Scale(double largest, double headroom);

  int intervals() const { return intervals_; }

  // Where `value` stands between zero (0) and the top (1). Infinity is at
  // the top; an undefined or negative value at zero.
  double share(double value) const;

  // The label of grid line `i` (0 at the axis). Near the largest double the
  // top line stands for a value past it, written as digits and a power.
  std::string label(int i) const;

 private:
  static constexpr int kMaxIntervals = 8;
  int exponent_ = 0;
  std::pair<double, double> down_;  // what scales a figure to units of 10^exponent_
  double step_ = 1.0;               // in units of 10^exponent_
  int intervals_ = 1;
};

// An SVG page being written, in the classic locale. An element's `lead`
// attributes come before its geometry, `attributes` after it.
class Svg {
 public:
  // The page replaces the text of `room`, whose memory it reuses.
  explicit Svg(std::string room = {}) : svg_(std::move(room)) { svg_.clear(); }

  // Starts the page, `width` by `height` pixels on a white background,
  // with `title` over it.
  void open(double width, double height, std::string_view title);

  // The page, closed.
  std::string finish();

  void text(double x, double y, std::string_view content, std::string_view attributes = "");
  void line(double x1, double y1, double x2, double y2, std::string_view attributes);
  void rect(double x, double y, double width, double height, std::string_view fill,
            std::string_view lead = "", std::string_view title = "");
  void circle(double x, double y, double radius, std::string_view fill, std::string_view lead = "",
              std::string_view title = "");
  // `<tag lead rest/>`, or with `title` as its tooltip.
  void element(std::string_view tag, std::string_view lead, std::string_view rest,
               std::string_view title = "");

  // A legend entry: a line of `colour` (dashed where `dashes` is given) at
  // (x, y) with its caption.
  void rule(double x, double y, std::string_view colour, std::string_view caption,
            std::string_view dashes = "");

  // A framed panel of test `id` at (x, y), named in its top left corner;
  // close_panel ends it.
  void open_panel(TestId id, double x, double y, double width, double height);
  void close_panel();

  // The grid lines of `scale` from `left` to `right`, over `height` up
  // from `bottom`, each labelled left of `left`.
  void grid(const Scale& scale, double left, double right, double bottom, double height);

 protected:
  // Appends each part: text as it is, a coordinate as number() writes it.
  template <typename... Parts>
  void put(const Parts&... parts) {
    (put_part(parts), ...);
  }
  void put_text(std::string_view text);  // as xml_text() writes it

  std::string svg_;

 private:
  void put_part(std::string_view text) { svg_ += text; }
  void put_part(char c) { svg_ += c; }
  void put_part(double coordinate);
  // The end of an element whose attributes are written: `/>`, or its
  // tooltip and closing tag.
  void end_element(std::string_view tag, std::string_view title);
};

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_CHART_PARTS_H_
