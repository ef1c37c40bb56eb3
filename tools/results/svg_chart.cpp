#include "svg_chart.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "figure_text.h"

namespace quenda::results {
namespace {

// Page and panel geometry, in pixels.
constexpr double kMargin = 24;
constexpr double kHeaderHeight = 84;
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

constexpr const char kBarColour[] = "#4c78a8";
constexpr const char kSlowBarColour[] = "#e45756";
constexpr const char kSingleColour[] = "#d95f02";
constexpr const char kMeanColour[] = "#1b9e77";
constexpr const char kSignificantColour[] = "#c0392b";
constexpr const char kQuietColour[] = "#666666";

std::string escape(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        escaped += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return escaped;
}

std::string number(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::round(value * 10.0) / 10.0;
  return text.str();
}

std::string figure_text(const Figure& value) { return value ? report_text(*value) : "n/a"; }

// The rate a panel plots for a group of figures.
Figure plotted(const Figures& figures, Measure measure) {
  return measure == Measure::kFiles ? figures.files_per_sec : figures.mb_per_sec;
}

bool drawable(const Figure& value) { return value && std::isfinite(*value); }

// A round step that divides [0, top] into about four intervals.
double tick_step(double top) {
  const double raw = top / 4.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double scaled = raw / magnitude;
  const double step = scaled <= 1.0   ? 1.0
                      : scaled <= 2.0 ? 2.0
                      : scaled <= 2.5 ? 2.5
                      : scaled <= 5.0 ? 5.0
                                      : 10.0;
  return step * magnitude;
}

class Chart {
 public:
  explicit Chart(const RunResults& run) : run_(run) {
    svg_.imbue(std::locale::classic());
    workers_ = 0;
    for (const TestResults& test : run.tests) {
      workers_ = std::max(workers_, static_cast<int>(test.workers.size()));
    }
    plot_width_ = std::max(kMinPlotWidth, kMinSlotPerWorker * workers_);
    panel_width_ = kPlotLeft + plot_width_ + kPlotRight;
    // The report's pairs side by side (Lower/Higher, write/read, read/write),
    // unless a large cluster makes the panels wide.
    columns_ = plot_width_ > kMinPlotWidth ? 1 : 2;
    const int rows = (kTestCount + columns_ - 1) / columns_;
    width_ = 2 * kMargin + columns_ * panel_width_ + (columns_ - 1) * kPanelGap;
    height_ = kMargin + kHeaderHeight + rows * (kPanelHeight + kPanelGap) - kPanelGap + kMargin;
  }

  std::string draw() {
    svg_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(width_) << "\" height=\""
         << number(height_) << "\" viewBox=\"0 0 " << number(width_) << ' ' << number(height_)
         << "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
         << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    header();
    for (int i = 0; i < kTestCount; ++i) {
      const double x = kMargin + (i % columns_) * (panel_width_ + kPanelGap);
      const double y = kMargin + kHeaderHeight + (i / columns_) * (kPanelHeight + kPanelGap);
      panel(run_.tests[i], x, y);
    }
    svg_ << "</svg>\n";
    return svg_.str();
  }

 private:
  void text(double x, double y, std::string_view content, std::string_view attributes = "") {
    svg_ << "<text x=\"" << number(x) << "\" y=\"" << number(y) << '"';
    if (!attributes.empty()) svg_ << ' ' << attributes;
    svg_ << '>' << escape(content) << "</text>\n";
  }

  void line(double x1, double y1, double x2, double y2, std::string_view attributes) {
    svg_ << "<line x1=\"" << number(x1) << "\" y1=\"" << number(y1) << "\" x2=\"" << number(x2)
         << "\" y2=\"" << number(y2) << "\" " << attributes << "/>\n";
  }

  void header() {
    std::string title = "Quenda Lite results";
    if (run_.metadata) {
      title += ": " + run_.metadata->processor_name + ", " + run_.metadata->local_date + " " +
               run_.metadata->local_time;
    }
    text(kMargin, kMargin + 20, title, "font-size=\"20\" font-weight=\"bold\"");
    std::string subtitle = "Thread(s): " + std::to_string(run_.threads) + " (" +
                           std::to_string(run_.worker_count()) + " worker(s)), " + run_.source_file;
    text(kMargin, kMargin + 42, subtitle, "font-size=\"12\" fill=\"#444444\"");
    if (run_.partial) {
      // The reason up to its first clause: where the file ends, not what
      // was expected there.
      const std::string reason = run_.partial_reason.substr(0, run_.partial_reason.find(';'));
      text(kMargin, kMargin + 58, "Partial run: " + reason,
           std::string("font-size=\"12\" font-weight=\"bold\" fill=\"") + kSignificantColour + '"');
    }
    const double y = kMargin + 74;
    double x = kMargin;
    const auto swatch = [&](const char* colour, std::string_view caption, double width) {
      svg_ << "<rect x=\"" << number(x) << "\" y=\"" << number(y - 10) << "\" width=\"14\" "
           << "height=\"12\" fill=\"" << colour << "\"/>\n";
      text(x + 20, y, caption, "font-size=\"12\"");
      x += width;
    };
    const auto rule = [&](const char* colour, std::string_view dashes, std::string_view caption,
                          double width) {
      line(x, y - 4, x + 30, y - 4,
           std::string("stroke=\"") + colour + "\" stroke-width=\"2\"" +
               (dashes.empty() ? "" : " stroke-dasharray=\"" + std::string(dashes) + '"'));
      text(x + 36, y, caption, "font-size=\"12\"");
      x += width;
    };
    swatch(kBarColour, "a worker's rate", 130);
    swatch(kSlowBarColour, "the slowest, where differences are significant", 310);
    rule(kSingleColour, "6 4", "single process (the collector alone)", 260);
    rule(kMeanColour, "", "mean of the workers", 0);
  }

  void panel(const TestResults& test, double x, double y) {
    const Measure measure = measure_of(test.id);
    const std::string unit = measure == Measure::kFiles ? "Files/sec" : "MB/sec";
    const Figure single = plotted(test.single, measure);
    const bool has_mean = !test.workers.empty();
    const Figure mean = has_mean ? plotted(test.mean, measure) : Figure();

    svg_ << "<g class=\"panel\" data-test=\"" << test_key(test.id) << "\" transform=\"translate("
         << number(x) << ' ' << number(y) << ")\">\n";
    svg_ << "<rect width=\"" << number(panel_width_) << "\" height=\"" << number(kPanelHeight)
         << "\" fill=\"none\" stroke=\"#dddddd\"/>\n";
    text(10, 20, test_label(test.id), "font-size=\"14\" font-weight=\"bold\"");
    std::string figures = "single " + figure_text(single);
    if (has_mean) figures += ", mean " + figure_text(mean);
    figures += " " + unit;
    text(10, 38, figures, "font-size=\"12\"");
    // Without workers the report's verdict compares nothing; it is left out.
    if (test.significant && !test.workers.empty()) {
      const bool differs = *test.significant;
      text(10, 55,
           differs ? "differences between threads: significant"
                   : "differences between threads: not significant",
           std::string("font-size=\"12\" fill=\"") + (differs ? kSignificantColour : kQuietColour) +
               '"');
    }

    // The scale covers every finite figure shown, with room for the labels
    // above the tallest bar.
    double largest = 0.0;
    const auto consider = [&largest](const Figure& value) {
      if (drawable(value)) largest = std::max(largest, *value);
    };
    consider(single);
    consider(mean);
    for (const WorkerFigures& worker : test.workers) consider(plotted(worker.figures, measure));
    if (largest <= 0.0) largest = 1.0;
    const double step = tick_step(largest * 1.1);
    const double top = std::ceil(largest * 1.1 / step) * step;

    const double plot_height = kPanelHeight - kPlotTop - kPlotBottom;
    const double bottom = kPlotTop + plot_height;
    const double right = kPlotLeft + plot_width_;
    const auto y_of = [&](double value) {
      return bottom - std::clamp(value / top, 0.0, 1.0) * plot_height;
    };

    for (int i = 0; i * step <= top * (1 + 1e-9); ++i) {
      const double value = i * step;
      line(kPlotLeft, y_of(value), right, y_of(value), "stroke=\"#eeeeee\"");
      text(kPlotLeft - 6, y_of(value) + 4, report_text(value),
           "font-size=\"10\" text-anchor=\"end\" fill=\"#444444\"");
    }
    text(14, kPlotTop + plot_height / 2, unit,
         "font-size=\"11\" text-anchor=\"middle\" fill=\"#444444\" transform=\"rotate(-90 14 " +
             number(kPlotTop + plot_height / 2) + ")\"");

    const std::size_t count = test.workers.size();
    if (count == 0) {
      const bool cut_off = run_.worker_count() > 0;  // a partial run ends before them
      text(kPlotLeft + plot_width_ / 2, kPlotTop + plot_height / 2,
           cut_off ? "the results file ends before the workers" : "no workers in this run",
           std::string("font-size=\"12\" text-anchor=\"middle\" fill=\"") + kQuietColour + '"');
    }
    // Where the benchmark itself calls the differences significant, the
    // slowest worker is the one to look at first.
    std::optional<double> slowest;
    if (test.significant == true && count > 1) {
      for (const WorkerFigures& worker : test.workers) {
        const Figure value = plotted(worker.figures, measure);
        if (drawable(value) && (!slowest || *value < *slowest)) slowest = *value;
      }
    }
    const double slot = count > 0 ? plot_width_ / static_cast<double>(count) : plot_width_;
    const double bar_width = std::max(1.0, std::min(kMaxBarWidth, slot * 0.7));
    // Rank labels as often as they fit side by side.
    const double label_width =
        kRankDigitWidth * (static_cast<double>(std::to_string(count).size()) + 1.0);
    const auto label_every = static_cast<std::size_t>(std::max(1.0, std::ceil(label_width / slot)));
    std::vector<std::pair<double, double>> label_positions;  // bar centre, bar top
    for (std::size_t i = 0; i < count; ++i) {
      const WorkerFigures& worker = test.workers[i];
      const Figure value = plotted(worker.figures, measure);
      // An infinite rate (a timer that saw no time pass) fills the panel; a
      // missing or undefined one stays flat.
      double height = 0.0;
      if (drawable(value)) height = bottom - y_of(*value);
      if (value && std::isinf(*value) && *value > 0) height = plot_height;
      const double centre = kPlotLeft + slot * (static_cast<double>(i) + 0.5);
      const bool slow = slowest && drawable(value) && *value == *slowest;
      svg_ << "<rect class=\"bar\" data-rank=\"" << worker.rank << '"'
           << (slow ? " data-slowest=\"true\"" : "") << " x=\"" << number(centre - bar_width / 2)
           << "\" y=\"" << number(bottom - height) << "\" width=\"" << number(bar_width)
           << "\" height=\"" << number(height) << "\" fill=\""
           << (slow ? kSlowBarColour : kBarColour) << "\"><title>thread " << worker.rank << ": "
           << escape(figure_text(value)) << ' ' << unit << "</title></rect>\n";
      label_positions.emplace_back(centre, bottom - height);
      if (i % label_every == 0) {
        text(centre, bottom + 14, std::to_string(worker.rank),
             "font-size=\"10\" text-anchor=\"middle\" fill=\"#444444\"");
      }
    }
    line(kPlotLeft, bottom, right, bottom, "stroke=\"#888888\"");
    text(kPlotLeft + plot_width_ / 2, bottom + 32, "thread (worker rank)",
         "font-size=\"11\" text-anchor=\"middle\" fill=\"#444444\"");

    // The lines go over the bars so that they stay visible across them, and
    // the value labels over the lines, on a white halo, so that they stay
    // readable where a line crosses them.
    if (drawable(single)) {
      line(kPlotLeft, y_of(*single), right, y_of(*single),
           std::string("class=\"single-rate\" stroke=\"") + kSingleColour +
               "\" stroke-width=\"2\" stroke-dasharray=\"6 4\"");
    }
    if (drawable(mean)) {
      line(kPlotLeft, y_of(*mean), right, y_of(*mean),
           std::string("class=\"mean-rate\" stroke=\"") + kMeanColour + "\" stroke-width=\"2\"");
    }
    if (slot >= kValueLabelSlot) {
      for (std::size_t i = 0; i < count; ++i) {
        const auto [centre, top_of_bar] = label_positions[i];
        text(centre, top_of_bar - 4, figure_text(plotted(test.workers[i].figures, measure)),
             "font-size=\"10\" text-anchor=\"middle\" stroke=\"#ffffff\" stroke-width=\"3\" "
             "paint-order=\"stroke\"");
      }
    }
    svg_ << "</g>\n";
  }

  const RunResults& run_;
  std::ostringstream svg_;
  int workers_ = 0;
  int columns_ = 2;
  double plot_width_ = 0;
  double panel_width_ = 0;
  double width_ = 0;
  double height_ = 0;
};

}  // namespace

std::string to_svg(const RunResults& run) { return Chart(run).draw(); }

}  // namespace quenda::results
