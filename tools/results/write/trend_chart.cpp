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
#include "write/text_escape.h"

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
constexpr double kSeriesHeading = 34;
constexpr double kChangeBand = 18;
constexpr double kLegendLine = 18;
// A change's mark and its label: neither red (the tool's judgement) nor
// grey (the report's verdict).
constexpr char kChangeColour[] = "#7b4fa0";
constexpr std::size_t kLongestChangeLabel = 48;
// Up to this many runs each gets a dot; beyond, the line alone is clearer.
constexpr std::size_t kMostDots = 60;
constexpr int kTimeTicks = 5;

// "<first local date and time> to <last>" of runs in time order.
std::string span_of(const std::vector<TrendPoint>& points) {
  return points.front().when.local_date + " " + points.front().when.local_time + " to " +
         points.back().when.local_date + " " + points.back().when.local_time;
}

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

class TrendChart : Svg {
 public:
  explicit TrendChart(const std::vector<TrendSeries>& series) : series_(series) {}

  std::string draw() {
    const bool headings = series_.size() > 1 || !series_.front().cluster.empty();
    double height = kMargin + header_height() - kPanelGap + kMargin;
    for (const TrendSeries& series : series_) {
      height += (headings ? kSeriesHeading : 0) + (has_changes(series) ? kChangeBand : 0) +
                kTestCount * (kPanelHeight + kPanelGap);
    }
    header(height);
    double y = kMargin + header_height();
    for (const TrendSeries& series : series_) {
      select(series);
      put("<g class=\"series\" data-cluster=\"");
      put_text(series.cluster);
      put("\">\n");
      if (headings) {
        text(kMargin, y + 20, series_heading(series, series.cluster),
             "font-size=\"16\" font-weight=\"bold\"");
        y += kSeriesHeading;
      }
      if (has_changes(series)) {
        change_labels(y + 13);
        y += kChangeBand;
      }
      for (int i = 0; i < kTestCount; ++i) {
        panel(kTests[i].id, y);
        y += kPanelHeight + kPanelGap;
      }
      put("</g>\n");
    }
    return finish();
  }

 private:
  const std::vector<TrendPoint>& points() const { return series_now_->points; }

  // Draws `series` from here on: its runs along its own time axis.
  void select(const TrendSeries& series) {
    series_now_ = &series;
    first_ = last_ = series.points.empty() ? 0 : series.points.front().instant;
    for (const TrendPoint& point : series.points) {
      first_ = std::min(first_, point.instant);
      last_ = std::max(last_, point.instant);
    }
    utc_ = std::all_of(series.points.begin(), series.points.end(),
                       [](const TrendPoint& point) { return point.source == TimeSource::kRecord; });
  }

  void header(double height) {
    std::set<std::string> nodes;
    for (const TrendSeries& series : series_) {
      for (const TrendPoint& point : series.points) nodes.insert(point.when.processor_name);
    }
    const std::string title = "Quenda Lite history: " + runs_charted(series_);
    open(kWidth, height, title);
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
    if (any_changes()) rule(kMargin, y + kLegendLine, kChangeColour, "setup changed", "4 3");
  }

  // Room for the legend's second line, where a run's setup changed.
  double header_height() const { return kHeaderHeight + (any_changes() ? kLegendLine : 0); }

  bool any_changes() const { return std::any_of(series_.begin(), series_.end(), has_changes); }

  double x_of(std::size_t run) const {
    if (last_ == first_) return kPlotLeft + kPlotWidth / 2;
    return kPlotLeft + (points()[run].instant - first_) / (last_ - first_) * kPlotWidth;
  }

  // One strip of a panel: grid, scale labels, the series as a path broken
  // where a figure is missing, and dots on the runs. Returns the y of every
  // run's value (NaN where it has none).
  std::vector<double> strip(TestId id, double top, std::string_view name,
                            Figure TrendPoint::Test::*member, const char* colour) {
    double largest = 0.0;
    for (const TrendPoint& point : points()) {
      const Figure& value = point.tests[static_cast<int>(id)].*member;
      if (drawable(value)) largest = std::max(largest, *value);
    }
    const Scale scale(largest, 1.08);
    const double bottom = top + kStripHeight;
    const double right = kPlotLeft + kPlotWidth;
    grid(scale, kPlotLeft, right, bottom, kStripHeight);
    text(kPlotLeft + 4, top - 4, std::string(name) + ", " + rate_unit(id),
         std::string("font-size=\"11\" fill=\"") + colour + '"');

    std::vector<double> ys(points().size(), NAN);
    std::string series;
    bool open = false;
    for (std::size_t i = 0; i < points().size(); ++i) {
      const Figure& value = points()[i].tests[static_cast<int>(id)].*member;
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
    for (std::size_t i = 0; points().size() <= kMostDots && i < points().size(); ++i) {
      if (!std::isnan(ys[i])) circle(x_of(i), ys[i], 2.5, colour);
    }
    return ys;
  }

  static bool has_changes(const TrendSeries& series) {
    return std::any_of(series.points.begin(), series.points.end(),
                       [](const TrendPoint& point) { return !point.changes.empty(); });
  }

  // Above the series' panels, what changed at each marked run, at its
  // place on the time axis; a label that would run into one already drawn
  // is left to the line's tooltip.
  void change_labels(double y) {
    std::vector<std::pair<double, double>> taken;
    for (std::size_t i = 0; i < points().size(); ++i) {
      std::string label = points()[i].changes;
      if (label.empty()) continue;
      if (label.size() > kLongestChangeLabel) {
        label.replace(kLongestChangeLabel - 3, label.npos, "...");
      }
      const double x = kMargin + x_of(i);
      const double width = 6.2 * static_cast<double>(label.size());
      const bool right_half = x_of(i) > kPlotLeft + kPlotWidth / 2;
      const double left = right_half ? x - width : x;
      if (std::any_of(taken.begin(), taken.end(), [&](const auto& box) {
            return left < box.second + 8 && box.first < left + width + 8;
          })) {
        continue;
      }
      taken.emplace_back(left, left + width);
      text(x, y, label,
           std::string("class=\"change-label\" font-size=\"10\" fill=\"") + kChangeColour +
               "\" text-anchor=\"" + (right_half ? "end" : "start") + '"');
    }
  }

  // A dashed line through both strips at each run whose worker count or
  // setup differs from the run before it, what changed as its tooltip.
  void changes() {
    for (std::size_t i = 0; i < points().size(); ++i) {
      const std::string& what = points()[i].changes;
      if (what.empty()) continue;
      const double x = x_of(i);
      element("line", "class=\"change\" data-run=\"" + std::to_string(i) + '"',
              "x1=\"" + number(x) + "\" y1=\"" + number(kTotalTop - 6) + "\" x2=\"" + number(x) +
                  "\" y2=\"" + number(kMeanTop + kStripHeight) + "\" stroke=\"" + kChangeColour +
                  "\" stroke-width=\"1.2\" stroke-dasharray=\"4 3\"",
              points()[i].when.local_date + " " + points()[i].when.local_time + ": " + what);
    }
  }

  // The newest run's nodes that depart from their own history in this test.
  void node_departures(TestId id) {
    std::string flagged;
    for (const NodeDeparture& node : series_now_->nodes.judged) {
      if (!node.flagged || node.test != static_cast<int>(id)) continue;
      if (!flagged.empty()) flagged += ", ";
      flagged += node.node;
      flagged += " at " + report_text(node.share * 100.0, 3) + "%";
    }
    if (flagged.empty()) return;
    text(kWidth - 2 * kMargin - 10, kPanelHeight - 8,
         "newest run's nodes below their history: " + flagged,
         std::string("class=\"node-departs\" font-size=\"12\" text-anchor=\"end\" fill=\"") +
             kSignificantColour + '"');
  }

  void panel(TestId id, double y) {
    open_panel(id, kMargin, y, kWidth - 2 * kMargin, kPanelHeight);
    strip(id, kTotalTop, "total", &TrendPoint::Test::total, kWorkersColour);
    const std::vector<double> means =
        strip(id, kMeanTop, "mean per worker", &TrendPoint::Test::mean, kMeanColour);
    std::size_t marked = 0;
    for (std::size_t i = 0; i < points().size(); ++i) {
      const TrendPoint& point = points()[i];
      if (point.tests[static_cast<int>(id)].significant != true) continue;
      ++marked;
      const double cy = std::isnan(means[i]) ? kMeanTop + kStripHeight : means[i];
      circle(x_of(i), cy, points().size() > kMostDots ? 2 : 4, kReportVerdictColour,
             "class=\"significant\" data-run=\"" + std::to_string(i) + '"',
             point.when.local_date + " " + point.when.local_time + ", " +
                 point.when.processor_name +
                 ": the report's verdict: differences between threads significant");
    }
    text(kWidth - 2 * kMargin - 10, 20,
         "the report's verdict: significant differences in " + std::to_string(marked) + " of " +
             std::to_string(points().size()) + " runs",
         "font-size=\"12\" text-anchor=\"end\" fill=\"#444444\"");
    changes();
    node_departures(id);
    const Departure& departure = series_now_->departures.tests[static_cast<int>(id)];
    if (departure.flagged && !std::isnan(means.back())) {
      const std::size_t newest = points().size() - 1;
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
      // A series placed by its records' UTC starts has its axis in UTC.
      text(x, axis + 18,
           civil_text(first_ + share * (last_ - first_), with_time) +
               (with_time && utc_ ? " UTC" : ""),
           std::string("font-size=\"10\" fill=\"#444444\" text-anchor=\"") + anchor + '"');
    }
    close_panel();
  }

  const std::vector<TrendSeries>& series_;
  const TrendSeries* series_now_ = nullptr;
  double first_ = 0;
  double last_ = 0;
  bool utc_ = false;
};

}  // namespace

std::string series_heading(const TrendSeries& series, const std::string& cluster) {
  const std::size_t runs = series.points.size();
  return (series.cluster.empty() ? "runs of no named cluster" : "cluster " + cluster) + ": " +
         std::to_string(runs) + (runs == 1 ? " run, " : " runs, ") + span_of(series.points);
}

std::string runs_charted(const std::vector<TrendSeries>& series) {
  std::size_t runs = 0;
  for (const TrendSeries& one : series) runs += one.points.size();
  return std::to_string(runs) + (runs == 1 ? " run" : " runs") +
         (series.size() == 1 ? ", " + span_of(series.front().points)
                             : " of " + std::to_string(series.size()) + " clusters");
}

std::string trend_csv_header() {
  return "local_date,local_time,processor_name,workers,test,unit,single,total,mean,verdict,"
         "cluster,start_utc,time_source,changes\n";
}

std::string trend_csv_rows(const TrendPoint& point) {
  const auto cell = [](const Figure& value) { return value ? exact_text(*value) : std::string(); };
  const std::string run_cells =
      csv_text_cell(point.when.local_date) + "," + csv_text_cell(point.when.local_time) + "," +
      csv_text_cell(point.when.processor_name) + "," + std::to_string(point.workers) + ",";
  const std::string run_tail =
      "," + csv_text_cell(point.cluster) + "," + csv_text_cell(point.start_utc) + "," +
      time_source_key(point.source) + "," + csv_text_cell(point.changes) + "\n";
  std::string rows;
  for (int i = 0; i < kTestCount; ++i) {
    const TrendPoint::Test& test = point.tests[i];
    rows += run_cells + std::string(test_key(kTests[i].id)) + "," + rate_unit(kTests[i].id) + "," +
            cell(test.single) + "," + cell(test.total) + "," + cell(test.mean) + "," +
            (test.significant ? (*test.significant ? "significant" : "not significant") : "") +
            run_tail;
  }
  return rows;
}

std::string trend_node_csv_header() {
  return "cluster,local_date,local_time,node,test,unit,median\n";
}

std::string trend_node_csv_rows(const TrendPoint& point) {
  const std::string run_cells = csv_text_cell(point.cluster) + "," +
                                csv_text_cell(point.when.local_date) + "," +
                                csv_text_cell(point.when.local_time) + ",";
  std::string rows;
  for (const NodePoint& node : point.nodes) {
    for (int i = 0; i < kTestCount; ++i) {
      rows += run_cells + csv_text_cell(node.name) + "," + std::string(test_key(kTests[i].id)) +
              "," + rate_unit(kTests[i].id) + "," +
              (node.median[i] ? exact_text(*node.median[i]) : std::string()) + "\n";
    }
  }
  return rows;
}

std::string trend_svg(const std::vector<TrendSeries>& series) { return TrendChart(series).draw(); }

}  // namespace quenda::results
