// A real results file mutated a few hundred times, the same way on every
// run (a fixed seed): cut short, bits flipped, figures swapped for the
// extremes of double, odd bytes in processor names. Each is converted or
// refused, quickly and without a crash; each conversion gives strict JSON,
// whole CSV rows and a well-formed chart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "chart_check.h"
#include "write/csv_output.h"
#include "write/json_output.h"
#include "support/files.h"
#include "support/process.h"
#include "sample_report.h"
#include "write/svg_chart.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

constexpr std::array<const char*, 12> kExtremes{
    "1.79769e+308", "-1.79769e+308", "4.94066e-324", "2.22507e-308", "9.99999e+307", "1.3e+308",
    "nan",          "-nan",          "inf",          "-inf",         "-0",           "1e-300"};
// No comma, quote or line end: the CSV's quoting has tests of its own, and
// without them every line is a row of ten cells.
constexpr std::array<const char*, 9> kOddBytes{
    "\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xEF\xBF\xBE", "\x1B[2J", "<&'>", "=", "\t", "\r"};

TEST(ResultsFuzz, EveryMutationIsConvertedWellFormedOrRefused) {
  const std::string original = samples::results_text(samples::sample_run(4));
  std::vector<std::size_t> figures;  // where each figure starts
  static const std::regex kFigure(R"(\d[\d.e+-]* (Secs|Files|Millions|MB|times))");
  for (std::sregex_iterator it(original.begin(), original.end(), kFigure), end; it != end; ++it) {
    figures.push_back(static_cast<std::size_t>(it->position()));
  }
  ASSERT_GT(figures.size(), 80u);
  std::mt19937_64 random(20261208);
  const auto pick = [&random](std::size_t count) { return count ? random() % count : 0; };
  testing::TemporaryFolder folder;
  std::vector<std::filesystem::path> charts;
  int refused = 0;
  for (int i = 0; i < 400; ++i) {
    std::string name = "node-a";
    std::string text = original;
    for (std::size_t n = 1 + pick(3); n > 0; --n) {
      switch (pick(5)) {
        case 0:  // a stopped run
          text.resize(pick(text.size() + 1));
          break;
        case 1:  // a damaged copy
          if (!text.empty()) text[pick(text.size())] ^= static_cast<char>(1u << pick(8));
          break;
        case 2:
          name.insert(pick(name.size() + 1), kOddBytes[pick(kOddBytes.size())]);
          break;
        default: {
          // A figure at the edge of double, where the text still has it.
          const std::size_t at = figures[pick(figures.size())];
          const std::size_t length = text.find(' ', at) - std::min(at, text.size());
          if (at < text.size() && length < 20) text.replace(at, length, kExtremes[pick(12)]);
        }
      }
    }
    const std::string file_name = samples::sample_file_name(name);
    SCOPED_TRACE("mutation " + std::to_string(i) + ", " + printable(file_name));
    const auto start = std::chrono::steady_clock::now();
    RunResults run;
    try {
      run = parse_results(text, file_name, ParseOptions{.allow_partial = pick(2) == 0});
    } catch (const ParseError& error) {
      EXPECT_GE(error.line(), 1);
      ++refused;
      continue;
    }
    const std::string csv = to_csv(run);
    const std::string svg = to_svg(run);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // Strict JSON, laid out to the byte as the library lays it out.
    const std::string json = to_json(run);
    EXPECT_EQ(nlohmann::ordered_json::parse(json).dump(2) + "\n", json);
    std::istringstream rows(csv);
    for (std::string row; std::getline(rows, row);) {
      EXPECT_EQ(std::count(row.begin(), row.end(), ','), 11) << row;
      EXPECT_TRUE(row[0] == ',' || !std::strchr("=+-@\t\r", row[0])) << row;
    }
    EXPECT_EQ(valid_text(csv + svg), csv + svg);
    EXPECT_FALSE(std::regex_search(svg, std::regex(R"(="[^"]*(nan|inf)[^"]*")")));
    charts.push_back(folder.path() / ("chart-" + std::to_string(i) + ".svg"));
    testing::write_file(charts.back(), svg);
  }
  // Both ends are reached: many mutations convert, many are refused.
  EXPECT_GT(charts.size(), 80u);
  EXPECT_GT(refused, 80);
  EXPECT_EQ(samples::xml_problems(charts), "");
}

}  // namespace
}  // namespace quenda::results
