#include "write/svg_chart.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "analyse/rates.h"
#include "write/chart_parts.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

// Page and panel geometry, in pixels.
constexpr double kHeaderHeight = 84;     // with a legend of one row
constexpr double kLegendRowHeight = 18;  // each further row of the legend
constexpr double kPanelGap = 24;
constexpr double kPanelHeight = 300;
constexpr double kPlotLeft = 76;
constexpr double kPlotRight = 16;
constexpr double kPlotTop = 78;
constexpr double kPlotBottom = 46;
constexpr double kMinPlotWidth = 380;
constexpr double kMinSlotPerWorker = 8;  // wider panels for large clusters
constexpr double kMaxBarWidth = 48;
constexpr double kValueLabelSlot = 56;  // narrower slots get no value label
constexpr double kRankDigitWidth = 7;   // a digit of a 10-pixel rank label, and then some
// A rate above zero gets at least this height, so that a worker a hundred
// times slower than the rest still shows a bar and not a gap.
constexpr double kMinBarHeight = 2;
// Kept free above the tallest bar for its value and the slowest worker's
// label.
constexpr double kLabelRoom = 40;
constexpr double kMarkerHeight = 8;          // the triangle over the slowest worker's bar
constexpr double kLabelLineHeight = 13;      // of the slowest worker's two lines of 11 pixels
constexpr double kLabelCharWidth = 6.4;      // a character of those lines, and then some
constexpr double kValueLabelHalfWidth = 26;  // half a 10-pixel value label, "0.913219"
constexpr double kNodeCharWidth = 7;   // a character of a bold 10-pixel node name, and then some
constexpr double kNodeRowHeight = 13;  // each row of node names under the rank labels
constexpr int kMaxNodeRows = 6;        // beyond these, a name that does not fit is left out

constexpr const char kSlowBarColour[] = "#e45756";
constexpr const char kSingleColour[] = "#d95f02";
constexpr const char kQuietColour[] = "#666666";
constexpr const char kMarkerColour[] = "#222222";
constexpr const char kOutlierBand[] = "#fbe3e1";

std::string figure_text(const Figure& value) { return value ? report_text(*value) : "n/a"; }

// The room each legend entry takes (symbol and caption), in the order
// shown: a worker's rate, the slowest worker, single process, mean.
constexpr std::array<double, 4> kLegendWidths{125, 330, 255, 160};

// The legend's entries laid out from the left margin of a page `width`
// wide, wrapped where it is too narrow for one row: each entry's x and row.
std::vector<std::pair<double, int>> legend_places(double width) {
  std::vector<std::pair<double, int>> places;
  double x = kMargin;
  int row = 0;
  for (const double entry : kLegendWidths) {
    if (x > kMargin && x + entry > width - kMargin) {
      x = kMargin;
      ++row;
    }
    places.emplace_back(x, row);
    x += entry;
  }
  return places;
}

// A node's group of bars: its slots, and the row of its name.
struct NodeGroup {
  std::string name;
  std::size_t first = 0;  // slot of its first bar
  std::size_t count = 0;
  int row = -1;  // -1: the name did not fit
};

// The groups of a panel, in the order of the nodes' first workers, their
// names dealt to the first row where they clear the name before them.
std::vector<NodeGroup> node_groups(const TestNodes& nodes, double slot) {
  std::vector<NodeGroup> groups;
  std::vector<double> row_end(kMaxNodeRows, -1e300);
  std::size_t first = 0;
  for (const NodeFigures& node : nodes.nodes) {
    NodeGroup& group = groups.emplace_back(NodeGroup{node.name, first, node.ranks.size()});
    first += group.count;
    const double centre = slot * (static_cast<double>(group.first) + group.count / 2.0);
    const double half = kNodeCharWidth * static_cast<double>(valid_text(group.name).size()) / 2;
    for (int row = 0; row < kMaxNodeRows; ++row) {
      if (centre - half > row_end[row] + 6) {
        group.row = row;
        row_end[row] = centre + half;
        break;
      }
    }
  }
  return groups;
}

// Where a worker's bar ended up in its panel.
struct BarPlace {
  double centre = 0;
  double top = 0;
};

class Chart : Svg {
 public:
  Chart(const RunResults& run, const RunNodes* nodes, std::string room)
      : Svg(std::move(room)), run_(run), nodes_(nodes) {
    std::size_t workers = 0;
    for (const TestResults& test : run.tests) workers = std::max(workers, test.workers.size());
    plot_width_ = std::max(kMinPlotWidth, kMinSlotPerWorker * static_cast<double>(workers));
    panel_width_ = kPlotLeft + plot_width_ + kPlotRight;
    // The report's pairs side by side (Lower/Higher, write/read, read/write),
    // unless a large cluster makes the panels wide.
    columns_ = plot_width_ > kMinPlotWidth ? 1 : 2;
    if (nodes_) {
      int rows = 0;
      for (const TestResults& test : run.tests) {
        for (const NodeGroup& group :
             node_groups((*nodes_)[static_cast<int>(test.id)], slot_of(test))) {
          rows = std::max(rows, group.row + 1);
        }
      }
      panel_height_ = kPanelHeight + kNodeRowHeight * rows + 4;
    }
    const int rows = (kTestCount + columns_ - 1) / columns_;
    width_ = 2 * kMargin + columns_ * panel_width_ + (columns_ - 1) * kPanelGap;
    header_height_ = kHeaderHeight + kLegendRowHeight * legend_places(width_).back().second;
    height_ = kMargin + header_height_ + rows * (panel_height_ + kPanelGap) - kPanelGap + kMargin;
  }

  std::string draw() {
    header();
    for (int i = 0; i < kTestCount; ++i) {
      const double x = kMargin + (i % columns_) * (panel_width_ + kPanelGap);
      const double y = kMargin + header_height_ + (i / columns_) * (panel_height_ + kPanelGap);
      panel(run_.tests[i], x, y);
    }
    return finish();
  }

 private:
  double slot_of(const TestResults& test) const {
    return test.workers.empty() ? plot_width_
                                : plot_width_ / static_cast<double>(test.workers.size());
  }

  // Under the rank labels, each node's name centred under its bars, red
  // where it is flagged; flagged groups on a pale red band, and a thin line
  // between groups.
  void node_marks(const std::vector<NodeGroup>& groups, const std::vector<std::string>& outliers,
                  double slot, double bottom) {
    for (const NodeGroup& group : groups) {
      const double left = kPlotLeft + slot * static_cast<double>(group.first);
      const double width = slot * static_cast<double>(group.count);
      const std::string node = "data-node=\"" + xml_text(group.name) + '"';
      const bool outlier =
          std::find(outliers.begin(), outliers.end(), group.name) != outliers.end();
      if (outlier) {
        rect(left, kPlotTop, width, bottom - kPlotTop, kOutlierBand,
             "class=\"outlier-node\" " + node);
      }
      if (group.first > 0) {
        line(left, kPlotTop, left, bottom + 4, "stroke=\"#bbbbbb\" stroke-width=\"1\"");
      }
      if (group.row < 0) continue;
      text(left + width / 2, bottom + 28 + kNodeRowHeight * group.row, group.name,
           "class=\"node-label\" " + node +
               " font-size=\"10\" font-weight=\"bold\" text-anchor=\"middle\" fill=\"" +
               (outlier ? kSignificantColour : std::string("#444444")) + '"' +
               (outlier ? " data-flagged=\"true\"" : ""));
    }
  }

  void header() {
    std::string title = "Quenda Lite results";
    if (run_.metadata) {
      title += ": " + run_.metadata->processor_name + ", " + run_.metadata->local_date + " " +
               run_.metadata->local_time;
    }
    open(width_, height_, title);
    text(kMargin, kMargin + 42,
         "Thread(s): " + std::to_string(run_.threads) + " (" + std::to_string(run_.worker_count()) +
             " worker(s)), " + run_.source_file,
         "font-size=\"12\" fill=\"#444444\"");
    if (run_.partial) {
      // The reason up to its first clause: where the file ends, not what
      // was expected there.
      const std::string reason = run_.partial_reason.substr(0, run_.partial_reason.find(';'));
      text(kMargin, kMargin + 58, "Partial run: " + reason,
           std::string("font-size=\"12\" font-weight=\"bold\" fill=\"") + kSignificantColour + '"');
    }
    const auto places = legend_places(width_);
    const auto x = [&](int entry) { return places[entry].first; };
    const auto y = [&](int entry) {
      return kMargin + 74 + kLegendRowHeight * places[entry].second;
    };
    swatch(x(0), y(0), kWorkersColour, "a worker's rate");
    marker(x(1) + 5, y(1) - 2);
    text(x(1) + 14, y(1), "the slowest worker", "font-size=\"12\"");
    swatch(x(1) + 140, y(1), kSlowBarColour, "a flagged node's workers");
    rule(x(2), y(2), kSingleColour, "single process (the collector alone)", "6 4");
    rule(x(3), y(3), kMeanColour, "mean of the workers");
  }

  void swatch(double x, double y, const char* colour, std::string_view caption) {
    rect(x, y - 10, 14, 12, colour);
    text(x + 20, y, caption, "font-size=\"12\"");
  }

  // A triangle pointing down at (x, tip_y).
  void marker(double x, double tip_y, std::string_view lead = "") {
    const std::string base = number(tip_y - kMarkerHeight);
    element("path", lead,
            "d=\"M " + number(x - 5) + ' ' + base + " L " + number(x + 5) + ' ' + base + " L " +
                number(x) + ' ' + number(tip_y) + " Z\" fill=\"" + kMarkerColour + '"');
  }

  void panel(const TestResults& test, double x, double y) {
    const Measure measure = measure_of(test.id);
    const std::string unit = measure == Measure::kFiles ? "Files/sec" : "MB/sec";
    const std::size_t count = test.workers.size();
    const Figure single = headline_rate(test.single, measure);
    const Figure mean = count > 0 ? headline_rate(test.mean, measure) : Figure();
    // The slowest worker is labelled wherever the workers differ, whatever
    // the verdict: one worker far behind the rest is worth a look even when
    // the others pull the verdict to "not significant". Bars are red only
    // where the tool flags their node; the report's own verdict is quoted
    // in grey, since its fixed thresholds call tiny differences of fast
    // workers significant.
    std::vector<Figure> rates;
    std::optional<double> least;
    std::optional<double> most;
    std::size_t slowest = 0;
    for (const WorkerFigures& worker : test.workers) {
      const Figure value = headline_rate(worker.figures, measure);
      rates.push_back(value);
      if (!drawable(value)) continue;
      if (!least || *value < *least) {
        least = *value;
        slowest = rates.size() - 1;
      }
      most = std::max(most.value_or(*value), *value);
    }
    const bool labelled = count > 1 && least && *least < *most;
    const TestNodes* nodes = nodes_ ? &(*nodes_)[static_cast<int>(test.id)] : nullptr;

    open_panel(test.id, x, y, panel_width_, panel_height_);
    std::string figures = "single " + figure_text(single);
    if (count > 0) figures += ", mean " + figure_text(mean);
    text(10, 38, figures + " " + unit, "font-size=\"12\"");
    // Without workers the report's verdict compares nothing; it is left out.
    if (test.significant && count > 0) {
      text(10, 55,
           std::string("the report's verdict: differences between threads ") +
               (*test.significant ? "" : "not ") + "significant",
           std::string("font-size=\"12\" fill=\"") + kReportVerdictColour + '"');
    }

    // The scale covers every finite figure shown, with room for the labels
    // above the tallest bar.
    double largest = std::max(0.0, most.value_or(0.0));
    for (const Figure& value : {single, mean}) {
      if (drawable(value)) largest = std::max(largest, *value);
    }
    const double plot_height = kPanelHeight - kPlotTop - kPlotBottom;
    const Scale scale(largest, plot_height / (plot_height - kLabelRoom));

    const double bottom = kPlotTop + plot_height;
    const double right = kPlotLeft + plot_width_;
    const auto y_of = [&](double value) { return bottom - scale.share(value) * plot_height; };

    grid(scale, kPlotLeft, right, bottom, plot_height);
    text(14, kPlotTop + plot_height / 2, unit,
         "font-size=\"11\" text-anchor=\"middle\" fill=\"#444444\" transform=\"rotate(-90 14 " +
             number(kPlotTop + plot_height / 2) + ")\"");

    if (count == 0) {
      const bool cut_off = run_.worker_count() > 0;  // a partial run ends before them
      text(kPlotLeft + plot_width_ / 2, kPlotTop + plot_height / 2,
           cut_off ? "the results file ends before the workers" : "no workers in this run",
           std::string("font-size=\"12\" text-anchor=\"middle\" fill=\"") + kQuietColour + '"');
    }
    const double slot = slot_of(test);
    // Each worker's slot: by node, in the order the nodes come first,
    // without a map in rank order.
    std::vector<std::size_t> position(count);
    std::iota(position.begin(), position.end(), std::size_t{0});
    if (nodes) {
      const std::vector<NodeGroup> groups = node_groups(*nodes, slot);
      node_marks(groups, nodes->outliers, slot, bottom);
      std::map<std::string, std::size_t> next;  // each node's next free slot
      for (const NodeGroup& group : groups) next[group.name] = group.first;
      for (std::size_t i = 0; i < count; ++i) position[i] = next[test.workers[i].node]++;
    }
    const double bar_width = std::max(1.0, std::min(kMaxBarWidth, slot * 0.7));
    // Rank labels as often as they fit side by side.
    const double label_width =
        kRankDigitWidth * (static_cast<double>(std::to_string(count).size()) + 1.0);
    const auto label_every = static_cast<std::size_t>(std::max(1.0, std::ceil(label_width / slot)));
    std::vector<BarPlace> places;
    std::string lead;  // a bar's attributes and tooltip, their room reused from bar to bar
    std::string title;
    for (std::size_t i = 0; i < count; ++i) {
      const Figure& value = rates[i];
      const std::string rank = std::to_string(test.workers[i].rank);
      // An infinite rate (a timer that saw no time pass) fills the panel; a
      // missing or undefined one stays flat.
      double height = value ? bottom - y_of(*value) : 0.0;
      if (value && *value > 0) height = std::max(height, kMinBarHeight);
      const double centre = kPlotLeft + slot * (static_cast<double>(position[i]) + 0.5);
      const bool red = nodes && std::find(nodes->outliers.begin(), nodes->outliers.end(),
                                          test.workers[i].node) != nodes->outliers.end();
      lead.assign("class=\"bar\" data-rank=\"").append(rank) += '"';
      if (red) lead += " data-flagged=\"true\"";
      title.assign("thread ").append(rank).append(": ").append(figure_text(value)) += ' ';
      rect(centre - bar_width / 2, bottom - height, bar_width, height,
           red ? kSlowBarColour : kWorkersColour, lead, title += unit);
      places.push_back(BarPlace{centre, bottom - height});
      if (position[i] % label_every == 0) {
        text(centre, bottom + 14, rank, "font-size=\"10\" text-anchor=\"middle\" fill=\"#444444\"");
      }
    }
    line(kPlotLeft, bottom, right, bottom, "stroke=\"#888888\"");
    text(kPlotLeft + plot_width_ / 2, panel_height_ - kPanelHeight + bottom + 32,
         nodes_ ? "thread (worker rank), by node; flagged nodes in red" : "thread (worker rank)",
         "font-size=\"11\" text-anchor=\"middle\" fill=\"#444444\"");

    // The lines go over the bars so that they stay visible across them, and
    // the value labels over the lines, on a white halo, so that they stay
    // readable where a line crosses them. The dashed single-process line
    // goes over the wider mean line: where the two rates nearly agree, the
    // mean still shows through the dashes.
    if (drawable(mean)) {
      line(kPlotLeft, y_of(*mean), right, y_of(*mean),
           std::string("class=\"mean-rate\" stroke=\"") + kMeanColour + "\" stroke-width=\"3\"");
    }
    if (drawable(single)) {
      line(kPlotLeft, y_of(*single), right, y_of(*single),
           std::string("class=\"single-rate\" stroke=\"") + kSingleColour +
               "\" stroke-width=\"2\" stroke-dasharray=\"6 4\"");
    }
    const bool value_labels = slot >= kValueLabelSlot;
    for (std::size_t i = 0; value_labels && i < count; ++i) {
      if (labelled && i == slowest) continue;  // its label gives the rate
      text(places[i].centre, places[i].top - 4, figure_text(rates[i]),
           "font-size=\"10\" text-anchor=\"middle\" stroke=\"#ffffff\" stroke-width=\"3\" "
           "paint-order=\"stroke\"");
    }
    if (labelled) {
      std::string share;
      if (drawable(mean) && *mean > 0 && std::isfinite(*least / *mean)) {
        share = ", " + report_text(*least / *mean * 100.0, 3) + "% of the mean";
      }
      label_slowest(test.workers[slowest].rank, report_text(*least) + " " + unit + share, places,
                    slowest, bar_width, value_labels);
    }
    close_panel();
  }

  // A marker over the slowest worker's bar and, above it, its rank and rate.
  // The two lines rise over whatever bar or value label they would cover,
  // with a dotted leader down to the marker, and stay inside the plot.
  void label_slowest(std::uint64_t rank, const std::string& rate,
                     const std::vector<BarPlace>& places, std::size_t index, double bar_width,
                     bool value_labels) {
    const std::string heading = "slowest: thread " + std::to_string(rank);
    const double width =
        kLabelCharWidth * static_cast<double>(std::max(heading.size(), rate.size()));
    const double right = kPlotLeft + plot_width_;
    const BarPlace own = places[index];
    double x = own.centre;
    double left_edge = own.centre - width / 2;
    std::string anchor = "middle";
    if (left_edge < kPlotLeft + 2) {
      x = left_edge = kPlotLeft + 2;
      anchor = "start";
    } else if (own.centre + width / 2 > right - 2) {
      x = right - 2;
      left_edge = x - width;
      anchor = "end";
    }
    const double right_edge = left_edge + width;

    const double marker_tip = own.top - 2;
    const double marker_top = marker_tip - kMarkerHeight;
    double baseline = marker_top - 5;  // of the lower line
    const double half = std::max(bar_width / 2, value_labels ? kValueLabelHalfWidth : 0.0);
    for (std::size_t i = 0; i < places.size(); ++i) {
      if (i == index) continue;
      const BarPlace& other = places[i];
      if (other.centre + half < left_edge - 4 || other.centre - half > right_edge + 4) continue;
      baseline = std::min(baseline, other.top - (value_labels ? 16 : 4));
    }
    // No higher than the panel's own heading lines allow.
    baseline = std::max(baseline, kPlotTop + kLabelLineHeight - 6);

    if (baseline < marker_top - 8) {
      line(own.centre, baseline + 4, own.centre, marker_top - 2,
           std::string("class=\"slowest-leader\" stroke=\"") + kMarkerColour +
               "\" stroke-width=\"1\" stroke-dasharray=\"2 2\"");
    }
    marker(own.centre, marker_tip,
           "class=\"slowest-marker\" data-rank=\"" + std::to_string(rank) + '"');
    put("<text class=\"slowest-label\" data-rank=\"", std::to_string(rank), "\" x=\"", x, "\" y=\"",
        baseline, "\" font-size=\"11\" text-anchor=\"", anchor, "\" fill=\"", kMarkerColour,
        "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"><tspan x=\"", x, "\" y=\"",
        baseline - kLabelLineHeight, "\" font-weight=\"bold\">");
    put_text(heading);
    put("</tspan><tspan x=\"", x, "\" y=\"", baseline, "\">");
    put_text(rate);
    put("</tspan></text>\n");
  }

  const RunResults& run_;
  const RunNodes* nodes_;
  int columns_ = 2;
  double header_height_ = kHeaderHeight;
  double panel_height_ = kPanelHeight;
  double plot_width_ = 0;
  double panel_width_ = 0;
  double width_ = 0;
  double height_ = 0;
};

}  // namespace

std::string to_svg(const RunResults& run, const RunNodes* nodes, std::string room) {
  return Chart(run, nodes, std::move(room)).draw();
}

}  // namespace quenda::results
