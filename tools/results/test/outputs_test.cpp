#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "chart_check.h"
#include "read/results_file.h"
#include "report_figures.h"
#include "sample_report.h"
#include "support/files.h"
#include "support/process.h"
#include "write/csv_output.h"
#include "write/json_output.h"
#include "write/svg_chart.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

using nlohmann::json;
using samples::csv_rows;
using samples::json_figure;
using testing::count_occurrences;

RunResults sample(int world_size, const std::string& text = "") {
  return parse_results(text.empty() ? samples::results_text(samples::sample_run(world_size)) : text,
                       samples::sample_file_name("node-a"),
                       ParseOptions{.allow_partial = !text.empty()});
}

// A group of the run's figures and its JSON object: the same figures under
// their names, and no others (a worker's rank apart).
void expect_same_group(const Figures& figures, const json& group) {
  std::size_t named = group.contains("rank") ? 1 : 0;
  for (const auto& [figure, key] :
       {std::pair{&figures.seconds, "seconds"}, std::pair{&figures.files_per_sec, "files_per_sec"},
        std::pair{&figures.million_accesses_per_sec, "million_accesses_per_sec"},
        std::pair{&figures.mb_per_sec, "mb_per_sec"}}) {
    if (!*figure) continue;
    named += group.contains(std::string(key) + "_reason") ? 2 : 1;
    ASSERT_TRUE(group.contains(key)) << key << " in " << group;
    EXPECT_EQ(json_figure(group, key), *figure) << key;
  }
  EXPECT_EQ(group.size(), named) << group;
}

// Without workers, the file tests print no mean and no verdict, and the
// JSON holds neither.
TEST(JsonOutput, HoldsTheRunsMetadataAndEveryFigureTheReportPrints) {
  for (const int world_size : {1, 3}) {
    SCOPED_TRACE("world size " + std::to_string(world_size));
    const RunResults run = sample(world_size);
    const json document = json::parse(to_json(run));
    const json metadata{
        {"schema_version", 2},        {"source_file", samples::sample_file_name("node-a")},
        {"partial", false},           {"processor_name", "node-a"},
        {"local_date", "2026-03-04"}, {"local_time", "05:06:07"},
        {"threads", world_size},      {"worker_count", world_size - 1}};
    for (const auto& [key, value] : metadata.items()) EXPECT_EQ(document[key], value) << key;
    EXPECT_FALSE(document.contains("partial_reason"));

    // In report order, as the file is written (a plain json would sort them).
    std::vector<std::string> keys;
    const auto ordered = nlohmann::ordered_json::parse(to_json(run));
    for (const auto& [key, value] : ordered["tests"].items()) keys.push_back(key);
    EXPECT_EQ(keys,
              (std::vector<std::string>{"stream_handling", "descriptor_handling", "bytewise_write",
                                        "bytewise_read", "block_read", "block_write"}));

    for (const TestResults& test : run.tests) {
      SCOPED_TRACE(std::string(test_key(test.id)));
      const json& entry = document["tests"][std::string(test_key(test.id))];
      const bool files = measure_of(test.id) == Measure::kFiles;
      EXPECT_EQ(entry["measure"], files ? "files" : "accesses");
      EXPECT_EQ(entry["label"], std::string(test_label(test.id)));
      expect_same_group(test.single, entry["single"]);
      ASSERT_EQ(entry["workers"].size(), static_cast<std::size_t>(world_size - 1));
      for (std::size_t i = 0; i < entry["workers"].size(); ++i) {
        EXPECT_EQ(entry["workers"][i]["rank"], i + 1);
        expect_same_group(test.workers[i].figures, entry["workers"][i]);
      }
      expect_same_group(test.total, entry["total"]);
      const bool unprinted = files && world_size == 1;
      EXPECT_EQ(entry["mean"].is_null(), unprinted);
      expect_same_group(test.mean, entry["mean"]);
      EXPECT_EQ(json_figure(entry, "improvement"), test.improvement);
      EXPECT_EQ(entry["significant"], unprinted ? json() : json(*test.significant));
    }
  }
  // A whole figure is still written as a float, as scripts have read it.
  EXPECT_NE(to_json(sample(1)).find("\"mb_per_sec\": 0.0\n"), std::string::npos);
}

TEST(JsonOutput, WritesInfiniteUndefinedAndMissingFiguresAsSuch) {
  RunResults run = sample(2);
  TestResults& stream = run.tests[0];
  stream.workers[0].figures.files_per_sec = INFINITY;
  stream.total.files_per_sec = -INFINITY;
  stream.improvement = NAN;
  stream.mean.files_per_sec.reset();
  run.metadata.reset();
  const json document = json::parse(to_json(run));
  EXPECT_EQ(nlohmann::ordered_json::parse(to_json(run)).begin().key(), "schema_version");
  const json& entry = document["tests"]["stream_handling"];
  for (const auto& [object, key, reason] :
       {std::tuple{&entry["workers"][0], "files_per_sec", "not finite: inf"},
        std::tuple{&entry["total"], "files_per_sec", "not finite: -inf"},
        std::tuple{&entry, "improvement", "not finite: nan"}}) {
    EXPECT_TRUE((*object)[key].is_null()) << key;
    EXPECT_EQ((*object)[std::string(key) + "_reason"], reason) << key;
  }
  EXPECT_TRUE(entry["mean"]["files_per_sec"].is_null());
  EXPECT_FALSE(entry["mean"].contains("files_per_sec_reason"));
  EXPECT_TRUE(document["processor_name"].is_null());
  EXPECT_TRUE(document["local_date"].is_null());
  EXPECT_TRUE(document["local_time"].is_null());
}

TEST(JsonOutput, MarksAPartialRunAsTheCsvDoesOnEveryRow) {
  const std::string text = samples::results_text(samples::sample_run(3));
  const int cut = samples::nth_line_starting(text, "Thread:2@node-a It was: ");
  const RunResults run = sample(3, samples::first_lines(text, cut));
  const json document = json::parse(to_json(run));
  EXPECT_EQ(document["partial"], true);
  EXPECT_EQ(document["partial_reason"], run.partial_reason);

  const auto rows = csv_rows(to_csv(run));
  // Both workers of the file tests and of byte-wise writing, where the file
  // ends.
  ASSERT_EQ(rows.size(), 1u + 3 * 2);
  for (std::size_t row = 1; row < rows.size(); ++row) {
    ASSERT_EQ(rows[row].size(), 12u) << row;
    EXPECT_EQ(rows[row][9], "true") << row;
  }
  EXPECT_EQ(rows[6][3], "bytewise_write");
  EXPECT_EQ(rows[6][8], "");  // its MB/sec is past the end
}

TEST(CsvOutput, HasOneRowPerTestAndWorkerThatReadsBackExactly) {
  const RunResults run = sample(3);
  const auto rows = csv_rows(to_csv(run));
  ASSERT_EQ(rows.size(), 1u + kTestCount * 2);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"processor_name", "local_date", "local_time", "test", "rank",
                                      "seconds", "files_per_sec", "million_accesses_per_sec",
                                      "mb_per_sec", "partial", "node", "measurement"}));
  std::size_t row = 1;
  const auto expect_cell = [](const std::string& cell, const Figure& figure) {
    if (!figure) {
      EXPECT_EQ(cell, "");
    } else {
      EXPECT_EQ(std::strtod(cell.c_str(), nullptr), *figure) << cell;
    }
  };
  for (const TestResults& test : run.tests) {
    for (const WorkerFigures& worker : test.workers) {
      SCOPED_TRACE("row " + std::to_string(row));
      const auto& cells = rows[row++];
      ASSERT_EQ(cells.size(), 12u);
      EXPECT_EQ(
          std::vector(cells.begin(), cells.begin() + 5),
          (std::vector<std::string>{"node-a", "2026-03-04", "05:06:07",
                                    std::string(test_key(test.id)), std::to_string(worker.rank)}));
      expect_cell(cells[5], worker.figures.seconds);
      expect_cell(cells[6], worker.figures.files_per_sec);
      expect_cell(cells[7], worker.figures.million_accesses_per_sec);
      expect_cell(cells[8], worker.figures.mb_per_sec);
      EXPECT_EQ(cells[9], "false");
    }
  }
  EXPECT_EQ(csv_rows(to_csv(sample(1))).size(), 1u);
}

TEST(CsvOutput, QuotesProcessorNamesAndKeepsThemFromBeingFormulas) {
  RunResults run = sample(2);
  run.tests[0].workers[0].figures.seconds = -INFINITY;
  // The processor name's cell as written, then the row's first figures.
  const std::vector<std::pair<std::string, std::string>> cases{
      {"rack \"7\", node 2", "\"rack \"\"7\"\", node 2\""},
      {"node-a", "node-a"},
      {"=1+2", "'=1+2"},
      {"-node", "'-node"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tnode", "'\tnode"},
      {"n\xFFode", "n\xEF\xBF\xBDode"},
  };
  for (const auto& [name, cell] : cases) {
    run.metadata->processor_name = name;
    // A figure is a number, whatever its first character.
    EXPECT_NE(to_csv(run).find("\n" + cell + ",2026-03-04,05:06:07,stream_handling,1,-inf,"),
              std::string::npos)
        << to_csv(run);
  }
}

// One bar's attributes in a chart's panel.
struct Bar {
  int rank = 0;
  double y = 0;
  double height = 0;
};

std::string panel_of(const std::string& svg, const std::string& key) {
  const std::size_t start = svg.find("<g class=\"panel\" data-test=\"" + key + "\"");
  if (start == std::string::npos) return {};
  return svg.substr(start, svg.find("</g>", start) - start);
}

std::vector<Bar> bars_of(const std::string& panel) {
  static const std::regex kBar(
      R"re(<rect class="bar" data-rank="(\d+)"( data-flagged="true")? x="[-\d.]+" y="([-\d.]+)" width="[\d.]+" height="([\d.]+)")re");
  std::vector<Bar> bars;
  for (std::sregex_iterator it(panel.begin(), panel.end(), kBar), end; it != end; ++it) {
    bars.push_back(Bar{std::stoi((*it)[1]), std::stod((*it)[3]), std::stod((*it)[4])});
  }
  return bars;
}

// An attribute of the <line> of `css_class` in a panel; empty when the line
// or the attribute is not there.
std::string line_attribute(const std::string& panel, const std::string& css_class,
                           const std::string& attribute) {
  const std::size_t at = panel.find("class=\"" + css_class + "\"");
  if (at == std::string::npos) return {};
  const std::size_t start = panel.rfind("<line", at);
  const std::string element = panel.substr(start, panel.find("/>", at) - start);
  std::smatch match;
  if (!std::regex_search(element, match, std::regex(" " + attribute + "=\"([^\"]*)\""))) return {};
  return match[1];
}

// The y of the horizontal <line> of `css_class` in a panel.
std::optional<double> line_y(const std::string& panel, const std::string& css_class) {
  const std::string y = line_attribute(panel, css_class, "y1");
  if (y.empty()) return std::nullopt;
  EXPECT_EQ(y, line_attribute(panel, css_class, "y2")) << "not horizontal";
  return std::stod(y);
}

TEST(SvgChart, IsWellFormedWithOneBarPerWorkerInEveryPanel) {
  testing::TemporaryFolder folder;
  // Processor names come from file names, which hold whatever bytes a
  // machine calls itself by.
  const std::vector<std::pair<int, std::string>> cases{{1, "<rack & \"node\">"},
                                                       {3, "n\xFF\xFE\x01od\xEF\xBF\xBE"},
                                                       {41, "\xED\xA0\x80\xC0\xAF\r\x1B"}};
  for (const auto& [world_size, name] : cases) {
    SCOPED_TRACE("world size " + std::to_string(world_size));
    RunResults run = sample(world_size);
    run.metadata->processor_name = name;
    run.source_file = samples::sample_file_name(name);
    const auto path = folder.path() / ("chart-" + std::to_string(world_size) + ".svg");
    testing::write_file(path, to_svg(run));
    EXPECT_EQ(samples::xml_problems({path}), "");
    // The JSON holds the same characters, as strict UTF-8 (which parse()
    // demands), with JSON's escapes where the chart has U+FFFD.
    EXPECT_EQ(valid_text(json::parse(to_json(run))["processor_name"].get<std::string>()),
              valid_text(name));
    EXPECT_EQ(samples::xpath_count(path, "//*[local-name()='g'][@class='panel']"), kTestCount);
    for (const quenda::TestInfo& info : quenda::kTests) {
      const std::string panel = "//*[local-name()='g'][@class='panel'][@data-test='" +
                                std::string(test_key(info.id)) + "']/*";
      EXPECT_EQ(samples::xpath_count(path, panel + "[local-name()='rect'][@class='bar']"),
                world_size - 1)
          << panel;
    }
    // The single-process line in every panel; the mean only with workers.
    EXPECT_EQ(samples::xpath_count(path, "//*[local-name()='line'][@class='single-rate']"),
              kTestCount);
    EXPECT_EQ(samples::xpath_count(path, "//*[local-name()='line'][@class='mean-rate']"),
              world_size > 1 ? kTestCount : 0);
    // The slowest worker is labelled in the three tests whose workers differ.
    EXPECT_EQ(samples::xpath_count(path,
                                   "//*[local-name()='g'][@class='panel']/"
                                   "*[local-name()='text'][@class='slowest-label']"),
              world_size > 2 ? 3 : 0);
  }
}

TEST(SvgChart, DrawsBarsAndLinesToOneScaleTheSingleProcessLineOnTop) {
  RunResults run = sample(4);
  TestResults& stream = run.tests[0];
  stream.single.files_per_sec = 100.0;
  stream.workers[0].figures.files_per_sec = 50.0;
  stream.workers[1].figures.files_per_sec = 100.0;
  stream.workers[2].figures.files_per_sec = 150.0;
  stream.mean.files_per_sec = 100.0;
  stream.significant = true;
  const std::string svg = to_svg(run);

  const std::string panel = panel_of(svg, "stream_handling");
  const std::vector<Bar> bars = bars_of(panel);
  ASSERT_EQ(bars.size(), 3u);
  EXPECT_EQ(bars[0].rank, 1);
  EXPECT_EQ(bars[2].rank, 3);
  EXPECT_NEAR(bars[1].height, 2 * bars[0].height, 0.11);
  EXPECT_NEAR(bars[2].height, 3 * bars[0].height, 0.11);
  EXPECT_GT(bars[0].height, 10.0);
  // Coordinates to a tenth of a pixel, in the fewest digits: 50 on a scale
  // of 200 over 176 pixels, in the first of three slots of 126.7 pixels.
  EXPECT_NE(panel.find("data-rank=\"1\" x=\"115.3\" y=\"210\" width=\"48\" height=\"44\""),
            std::string::npos)
      << panel;
  // Worker 2 runs at the single-process rate and at the mean: its bar ends
  // where both lines are.
  EXPECT_EQ(line_y(panel, "single-rate"), bars[1].y);
  EXPECT_EQ(line_y(panel, "mean-rate"), bars[1].y);
  // The dashed single-process line is drawn last, over a wider solid mean
  // that shows between and beside its dashes.
  EXPECT_GT(panel.find("class=\"single-rate\""), panel.find("class=\"mean-rate\""));
  EXPECT_NE(line_attribute(panel, "single-rate", "stroke-dasharray"), "");
  EXPECT_EQ(line_attribute(panel, "mean-rate", "stroke-dasharray"), "");
  EXPECT_GT(std::stod(line_attribute(panel, "mean-rate", "stroke-width")),
            std::stod(line_attribute(panel, "single-rate", "stroke-width")));
  // The report's verdict is quoted in grey and paints no bar red.
  EXPECT_EQ(count_occurrences(panel, "data-flagged"), 0);
  EXPECT_NE(panel.find("fill=\"#777777\">the report's verdict: differences between threads "
                       "significant<"),
            std::string::npos);
}

TEST(SvgChart, KeepsBarsForFiguresItCannotScale) {
  testing::TemporaryFolder folder;
  // From infinity down to the smallest subnormal, as the report prints them.
  for (const double value : {double{INFINITY}, 1.79769e308, 1.5e308, 1.3e308, 1e300, 0.5,
                             2.22507e-308, 4.94066e-324, 937.13, 0.0734}) {
    SCOPED_TRACE(value);
    RunResults run = sample(4);
    TestResults& block = run.tests[static_cast<int>(TestId::kBlockRead)];
    block.single.mb_per_sec = block.mean.mb_per_sec = value;
    block.workers[0].figures.mb_per_sec = value;
    block.workers[1].figures.mb_per_sec = NAN;
    block.workers[2].figures.mb_per_sec.reset();
    const std::string svg = to_svg(run);
    const std::vector<Bar> bars = bars_of(panel_of(svg, "block_read"));
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_GT(bars[0].height, 100.0);  // most of the plot, or all of it
    // A finite figure stays under the top grid line, with room for its label.
    EXPECT_LE(bars[0].height, std::isinf(value) ? 300 - 78 - 46 : 300 - 78 - 46 - 40);
    EXPECT_EQ(bars[1].height, 0.0);
    EXPECT_EQ(bars[2].height, 0.0);
    EXPECT_NE(svg.find("<title>thread 2: nan MB/sec</title>"), std::string::npos);
    EXPECT_NE(svg.find("<title>thread 3: n/a MB/sec</title>"), std::string::npos);
    EXPECT_FALSE(std::regex_search(svg, std::regex(R"(="[^"]*(nan|inf)[^"]*")")));
    testing::write_file(folder.path() / "chart.svg", svg);
    EXPECT_EQ(samples::xml_problems({folder.path() / "chart.svg"}), "");
  }
}

TEST(SvgChart, MarksTheSlowestWorkerWhateverTheVerdict) {
  RunResults run = sample(4);
  TestResults& block = run.tests[static_cast<int>(TestId::kBlockWrite)];
  block.single.mb_per_sec = 18.0;
  block.workers[0].figures.mb_per_sec = 30.0;
  block.workers[1].figures.mb_per_sec = 0.1;  // 300 times slower than the others
  block.workers[2].figures.mb_per_sec = 33.0;
  block.mean.mb_per_sec = 21.0;
  block.significant = false;
  std::string panel = panel_of(to_svg(run), "block_write");
  const std::vector<Bar> bars = bars_of(panel);
  ASSERT_EQ(bars.size(), 3u);

  // A bar two pixels high at least, on the same baseline as the others: a
  // slow worker, not a missing one. At this scale it would be 0.3 pixels.
  EXPECT_GE(bars[1].height, 2.0);
  EXPECT_LT(bars[1].height, 3.0);
  EXPECT_NEAR(bars[1].y + bars[1].height, bars[0].y + bars[0].height, 0.11);
  // Not red: without a rank map the tool judges no node.
  EXPECT_EQ(count_occurrences(panel, "data-flagged"), 0);

  // A marker right over the slow bar, and above it who and how slow.
  static const std::regex kMarker(
      R"re(<path class="slowest-marker" data-rank="(\d+)" d="M [\d.]+ ([\d.]+) L [\d.]+ [\d.]+ L [\d.]+ ([\d.]+) Z")re");
  static const std::regex kLabel(
      R"re(<text class="slowest-label" data-rank="(\d+)" x="[\d.]+" y="([\d.]+)"[^>]*><tspan[^>]*>([^<]*)</tspan><tspan[^>]*>([^<]*)</tspan></text>)re");
  EXPECT_EQ(count_occurrences(panel, "class=\"slowest-marker\""), 1);
  EXPECT_EQ(count_occurrences(panel, "class=\"slowest-label\""), 1);
  std::smatch marker;
  ASSERT_TRUE(std::regex_search(panel, marker, kMarker)) << panel;
  EXPECT_EQ(marker[1], "2");
  const double marker_top = std::stod(marker[2]);
  const double tip = std::stod(marker[3]);
  EXPECT_LE(tip, bars[1].y);
  EXPECT_GE(tip, bars[1].y - 4);
  std::smatch label;
  ASSERT_TRUE(std::regex_search(panel, label, kLabel)) << panel;
  EXPECT_EQ(label[1], "2");
  EXPECT_LT(std::stod(label[2]), marker_top);
  EXPECT_EQ(label[3], "slowest: thread 2");
  EXPECT_EQ(label[4], "0.1 MB/sec, 0.476% of the mean");
  // Its rate is in the label; no second value label over the bar.
  EXPECT_EQ(count_occurrences(panel, ">0.1</text>"), 0);
  EXPECT_EQ(count_occurrences(panel, ">30</text>"), 1);

  // Nor where the report calls the differences significant.
  block.significant = true;
  panel = panel_of(to_svg(run), "block_write");
  EXPECT_EQ(count_occurrences(panel, "data-flagged"), 0);
  EXPECT_EQ(count_occurrences(panel, "class=\"slowest-marker\" data-rank=\"2\""), 1);

  // Workers that are all equally fast have no slowest; nor has one alone.
  const std::string svg = to_svg(run);
  EXPECT_EQ(count_occurrences(panel_of(svg, "descriptor_handling"), "slowest-"), 0);
  EXPECT_EQ(count_occurrences(panel_of(svg, "stream_handling"), "class=\"slowest-marker\""), 1);
  EXPECT_EQ(count_occurrences(to_svg(sample(2)), "slowest-"), 0);
}

}  // namespace
}  // namespace quenda::results
