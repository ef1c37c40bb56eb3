#include "write/trend_chart.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>

#include "analyse/rates.h"
#include "write/chart_parts.h"
#include "write/csv_output.h"
#include "write/figure_text.h"

namespace quenda::results {
namespace {

constexpr double kWidth = 1000;
constexpr double kHeaderHeight = 78;
constexpr double kPanelHeight = 290;
constexpr double kPanelGap = 18;
constexpr double kPlotLeft = 84;
constexpr double kPlotRight = 20;
constexpr double kPlotWidth = kWidth - 2 * kMargin - kPlotLeft - kPlotRight;
constexpr double kStripHeight = 88;
constexpr double kTotalTop = 44;
constexpr double kMeanTop = 160;
// Up to this many runs each gets a dot; beyond, the line alone is clearer.
constexpr std::size_t kMostDots = 60;
constexpr int kTimeTicks = 5;

// "YYYY-MM-DD HH:MM" of a count of seconds since 1970.
std::string civil_text(double seconds, bool with_time) {
  using namespace std::chrono;
  const sys_seconds instant{std::chrono::seconds(static_cast<std::int64_t>(std::floor(seconds)))};
  const sys_days day = floor<days>(instant);
  const year_month_day date(day);
  const auto in_day = duration_cast<minutes>(instant - day).count();
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%d-%02u-%02u %02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(in_day / 60), static_cast<int>(in_day % 60));
  const std::string result = text.data();
  return with_time ? result : result.substr(0, result.find(' '));
}

// Seconds since 1970 of a run's local date and time, as if in UTC: only
// the distances between runs matter.
double instant(const NameMetadata& when) {
  int year = 0, hour = 0, minute = 0, second = 0;
  unsigned month = 0, day = 0;
  std::sscanf(when.local_date.c_str(), "%d-%u-%u", &year, &month, &day);
  std::sscanf(when.local_time.c_str(), "%d:%d:%d", &hour, &minute, &second);
  const std::chrono::sys_days date =
      std::chrono::year(year) / std::chrono::month(month) / std::chrono::day(day);
  return static_cast<double>(date.time_since_epoch().count()) * 86400.0 + hour * 3600.0 +
         minute * 60.0 + second;
}

class TrendChart : Svg {
 public:
  TrendChart(const std::vector<TrendPoint>& points, const Departures& departures)
      : points_(points), departures_(departures) {
    for (const TrendPoint& point : points) instants_.push_back(instant(point.when));
    if (!instants_.empty()) {
      first_ = *std::min_element(instants_.begin(), instants_.end());
      last_ = *std::max_element(instants_.begin(), instants_.end());
    }
  }

  std::string draw() {
    header();
    for (int i = 0; i < kTestCount; ++i) {
      panel(kTests[i].id, kMargin + kHeaderHeight + i * (kPanelHeight + kPanelGap));
    }
    return finish();
  }

 private:
  void header() {
    std::string title = "Quenda Lite history: " + std::to_string(points_.size()) +
                        (points_.size() == 1 ? " run" : " runs");
    if (!points_.empty()) {
      title += ", " + points_.front().when.local_date + " " + points_.front().when.local_time +
               " to " + points_.back().when.local_date + " " + points_.back().when.local_time;
    }
    open(kWidth,
         kMargin + kHeaderHeight + kTestCount * (kPanelHeight + kPanelGap) - kPanelGap + kMargin,
         title);
    std::set<std::string> nodes;
    for (const TrendPoint& point : points_) nodes.insert(point.when.processor_name);
    std::string collectors = nodes.size() == 1 ? "collector: " : "collectors: ";
    auto node = nodes.begin();
    for (std::size_t i = 0; i < std::min<std::size_t>(nodes.size(), 5); ++i, ++node) {
      collectors += (i > 0 ? ", " : "") + *node;
    }
    if (nodes.size() > 5) collectors += ", and " + std::to_string(nodes.size() - 5) + " more";
    text(kMargin, kMargin + 40, collectors, "font-size=\"12\" fill=\"#444444\"");
    const double y = kMargin + 62;
    rule(kMargin, y, kWorkersColour, "total of the workers");
    rule(kMargin + 200, y, kMeanColour, "mean per worker");
    circle(kMargin + 380, y - 4, 4, kReportVerdictColour);
    text(kMargin + 390, y, "the report's verdict: its workers differ significantly",
         "font-size=\"12\"");
    circle(kMargin + 720, y - 4, 5, kSignificantColour);
    text(kMargin + 730, y, "newest run below its history", "font-size=\"12\"");
  }

  double x_of(std::size_t run) const {
    if (last_ == first_) return kPlotLeft + kPlotWidth / 2;
    return kPlotLeft + (instants_[run] - first_) / (last_ - first_) * kPlotWidth;
  }

  // One strip of a panel: grid, scale labels, the series as a path broken
  // where a figure is missing, and dots on the runs. Returns the y of every
  // run's value (NaN where it has none).
  std::vector<double> strip(TestId id, double top, std::string_view name,
                            Figure TrendPoint::Test::*member, const char* colour) {
    const std::string unit = rate_unit(id);
    double largest = 0.0;
    for (const TrendPoint& point : points_) {
      const Figure& value = point.tests[static_cast<int>(id)].*member;
      if (drawable(value)) largest = std::max(largest, *value);
    }
    const Scale scale(largest, 1.08);
    const double bottom = top + kStripHeight;
    const double right = kPlotLeft + kPlotWidth;
    grid(scale, kPlotLeft, right, bottom, kStripHeight);
    text(kPlotLeft + 4, top - 4, std::string(name) + ", " + unit,
         std::string("font-size=\"11\" fill=\"") + colour + '"');

    std::vector<double> ys(points_.size(), NAN);
    std::string series;
    bool open = false;
    for (std::size_t i = 0; i < points_.size(); ++i) {
      const Figure& value = points_[i].tests[static_cast<int>(id)].*member;
      if (!value || std::isnan(*value)) {
        open = false;
        continue;
      }
      ys[i] = bottom - scale.share(*value) * kStripHeight;
      series +=
          (open ? " L " : (series.empty() ? "M " : " M ")) + number(x_of(i)) + ' ' + number(ys[i]);
      open = true;
    }
    element("path", member == &TrendPoint::Test::total ? "class=\"total\"" : "class=\"mean\"",
            "d=\"" + series + "\" fill=\"none\" stroke=\"" + colour +
                "\" stroke-width=\"1.5\" stroke-linejoin=\"round\"");
    for (std::size_t i = 0; points_.size() <= kMostDots && i < points_.size(); ++i) {
      if (!std::isnan(ys[i])) circle(x_of(i), ys[i], 2.5, colour);
    }
    return ys;
  }

  void panel(TestId id, double y) {
    open_panel(id, kMargin, y, kWidth - 2 * kMargin, kPanelHeight);
    strip(id, kTotalTop, "total", &TrendPoint::Test::total, kWorkersColour);
    const std::vector<double> means =
        strip(id, kMeanTop, "mean per worker", &TrendPoint::Test::mean, kMeanColour);
    std::size_t marked = 0;
    for (std::size_t i = 0; i < points_.size(); ++i) {
      const TrendPoint& point = points_[i];
      if (point.tests[static_cast<int>(id)].significant != true) continue;
      ++marked;
      const double cy = std::isnan(means[i]) ? kMeanTop + kStripHeight : means[i];
      circle(x_of(i), cy, points_.size() > kMostDots ? 2 : 4, kReportVerdictColour,
             "class=\"significant\" data-run=\"" + std::to_string(i) + '"',
             point.when.local_date + " " + point.when.local_time + ", " +
                 point.when.processor_name +
                 ": the report's verdict: differences between threads significant");
    }
    text(kWidth - 2 * kMargin - 10, 20,
         "the report's verdict: significant differences in " + std::to_string(marked) + " of " +
             std::to_string(points_.size()) + " runs",
         "font-size=\"12\" text-anchor=\"end\" fill=\"#444444\"");
    const Departure& departure = departures_.tests[static_cast<int>(id)];
    if (departure.flagged && !std::isnan(means.back())) {
      const std::size_t newest = points_.size() - 1;
      circle(x_of(newest), means.back(), 6, kSignificantColour,
             "class=\"departs\" data-run=\"" + std::to_string(newest) + "\" fill-opacity=\"0.85\"",
             "newest run at " + report_text(*departure.share * 100.0, 3) +
                 "% of its history's typical mean per worker");
    }
    // The time axis, with the date (and the time, over a short span) at
    // evenly spaced instants.
    const double axis = kMeanTop + kStripHeight;
    const bool with_time = last_ - first_ < 3 * 86400.0;
    const int ticks = last_ == first_ ? 0 : kTimeTicks;
    for (int i = 0; i <= ticks; ++i) {
      const double share = ticks == 0 ? 0.5 : static_cast<double>(i) / ticks;
      const double x = kPlotLeft + share * kPlotWidth;
      line(x, axis, x, axis + 4, "stroke=\"#888888\"");
      const char* anchor = ticks > 0 && i == 0       ? "start"
                           : ticks > 0 && i == ticks ? "end"
                                                     : "middle";
      text(x, axis + 18, civil_text(first_ + share * (last_ - first_), with_time),
           std::string("font-size=\"10\" fill=\"#444444\" text-anchor=\"") + anchor + '"');
    }
    close_panel();
  }

  const std::vector<TrendPoint>& points_;
  const Departures& departures_;
  std::vector<double> instants_;
  double first_ = 0;
  double last_ = 0;
};

}  // namespace

std::string trend_csv_header() {
  return "local_date,local_time,processor_name,workers,test,unit,single,total,mean,verdict\n";
}

std::string trend_csv_rows(const TrendPoint& point) {
  const auto cell = [](const Figure& value) { return value ? exact_text(*value) : std::string(); };
  const std::string run_cells =
      csv_text_cell(point.when.local_date) + "," + csv_text_cell(point.when.local_time) + "," +
      csv_text_cell(point.when.processor_name) + "," + std::to_string(point.workers) + ",";
  std::string rows;
  for (int i = 0; i < kTestCount; ++i) {
    const TrendPoint::Test& test = point.tests[i];
    rows += run_cells + std::string(test_key(kTests[i].id)) + "," + rate_unit(kTests[i].id) + "," +
            cell(test.single) + "," + cell(test.total) + "," + cell(test.mean) + "," +
            (test.significant ? (*test.significant ? "significant" : "not significant") : "") +
            "\n";
  }
  return rows;
}

std::string trend_svg(const std::vector<TrendPoint>& points, const Departures& departures) {
  return TrendChart(points, departures).draw();
}

}  // namespace quenda::results
