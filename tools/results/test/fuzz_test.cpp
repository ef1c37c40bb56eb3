// A real results file mutated a few hundred times, the same way on every
// run (a fixed seed): cut short, bits flipped, figures swapped for the
// extremes of double, odd bytes in the processor names. Every mutation is
// converted or refused in bounded time without a crash, and every
// conversion gives strict JSON, a CSV of whole rows and a well-formed chart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "chart_check.h"
#include "csv_output.h"
#include "json_output.h"
#include "process.h"
#include "results_file.h"
#include "sample_report.h"
#include "svg_chart.h"
#include "text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

constexpr int kMutations = 400;
constexpr std::uint64_t kSeed = 20261208;

// Figures the report can print, at the edges of what a double holds.
constexpr std::array<const char*, 14> kExtremes{
    "1.79769e+308", "-1.79769e+308", "4.94066e-324", "2.22507e-308", "1e+308", "9.99999e+307",
    "1.3e+308",     "nan",           "-nan",         "inf",          "-inf",   "0",
    "-0",           "1e-300"};

// Bytes that file names and lines should not hold, or that mean something
// to a terminal, a spreadsheet or an XML reader.
constexpr std::array<const char*, 12> kOddBytes{"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xEF\xBF\xBE",
                                                "\x01", "\x1B[2J",  "<&\"'>",       "=",
                                                "\t",   "\r",       "\xE2\x82",     "@"};

class Mutator {
 public:
  explicit Mutator(const std::string& original) : original_(original) {
    static const std::regex kFigure(R"((-?\d[\d.e+-]*) (Secs|Files|Millions|MB|times))");
    for (std::sregex_iterator it(original.begin(), original.end(), kFigure), end; it != end; ++it) {
      figures_.emplace_back(static_cast<std::size_t>(it->position(1)),
                            static_cast<std::size_t>(it->length(1)));
    }
  }

  std::size_t figure_count() const { return figures_.size(); }

  // A file name and a text, changed in one to three ways.
  std::pair<std::string, std::string> next() {
    std::string name = "node-a";
    std::string text = original_;
    // Figures first, from the end, while the original offsets still hold.
    if (pick(3) == 0) {
      std::vector<std::size_t> chosen;
      for (std::size_t n = 1 + pick(4); n > 0; --n) chosen.push_back(pick(figures_.size()));
      std::sort(chosen.rbegin(), chosen.rend());
      chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
      for (const std::size_t i : chosen) {
        text.replace(figures_[i].first, figures_[i].second, kExtremes[pick(kExtremes.size())]);
      }
    }
    for (std::size_t n = 1 + pick(3); n > 0; --n) {
      switch (pick(4)) {
        case 0:  // a run stopped at any byte
          text.resize(pick(text.size() + 1));
          break;
        case 1:  // a damaged disk or transfer
          if (!text.empty()) text[pick(text.size())] ^= static_cast<char>(1u << pick(8));
          break;
        case 2:  // a machine that calls itself odd names
          name.insert(pick(name.size() + 1), kOddBytes[pick(kOddBytes.size())]);
          break;
        default:  // the same inside the file, where the workers' lines name it
          for (std::size_t at = text.find("@node-a"); at != std::string::npos;
               at = text.find("@node-a", at + 1)) {
            text.insert(at + 1, kOddBytes[pick(kOddBytes.size())]);
          }
      }
    }
    return {samples::sample_file_name(name), text};
  }

  std::size_t pick(std::size_t count) { return count == 0 ? 0 : random_() % count; }

 private:
  std::string original_;
  std::vector<std::pair<std::size_t, std::size_t>> figures_;  // offset, length
  std::mt19937_64 random_{kSeed};
};

// The rows of a CSV as a spreadsheet reads them, quoted cells joined.
std::vector<std::vector<std::string>> csv_records(const std::string& csv) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
        records.back().back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        records.back().back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else {
      records.back().back() += c;
    }
  }
  EXPECT_FALSE(quoted) << "a quoted cell never ends";
  if (records.back() == std::vector<std::string>(1)) records.pop_back();
  return records;
}

TEST(ResultsFuzz, EveryMutationIsConvertedWellFormedOrRefused) {
  const std::string original = samples::results_text(samples::sample_run(4));
  Mutator mutator(original);
  ASSERT_GT(mutator.figure_count(), 80u);
  samples::TemporaryFolder folder;
  std::vector<fs::path> charts;
  int refused = 0;
  static const std::regex kEdgeInAttribute(R"(="[^"]*(nan|inf)[^"]*")");

  for (int i = 0; i < kMutations; ++i) {
    const auto [name, text] = mutator.next();
    const bool allow_partial = mutator.pick(2) == 0;
    SCOPED_TRACE("mutation " + std::to_string(i) + ", " + printable(name));
    const auto start = std::chrono::steady_clock::now();
    RunResults run;
    try {
      run = parse_results(text, name, ParseOptions{.allow_partial = allow_partial});
    } catch (const ParseError& error) {
      EXPECT_GE(error.line(), 1);
      // Fit for a terminal: the lines it quotes have their control bytes
      // escaped.
      EXPECT_EQ(std::count_if(error.reason().begin(), error.reason().end(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                0)
          << error.reason();
      ++refused;
      continue;
    }
    const std::string json = to_json(run);
    const std::string csv = to_csv(run);
    const std::string svg = to_svg(run);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    EXPECT_TRUE(nlohmann::json::accept(json)) << json;
    for (const std::vector<std::string>& record : csv_records(csv)) {
      ASSERT_EQ(record.size(), 10u) << csv;
      EXPECT_EQ(std::string_view("=+-@\t\r").find(record[0].substr(0, 1)), std::string::npos)
          << record[0];
    }
    EXPECT_EQ(valid_text(csv), csv);
    EXPECT_EQ(valid_text(svg), svg);
    EXPECT_FALSE(std::regex_search(svg, kEdgeInAttribute));
    charts.push_back(folder.path() / ("chart-" + std::to_string(i) + ".svg"));
    samples::write_file(charts.back(), svg);
  }
  // Both ends are reached: many mutations convert, many are refused.
  EXPECT_GT(charts.size(), static_cast<std::size_t>(kMutations / 5));
  EXPECT_GT(refused, kMutations / 5);
  EXPECT_EQ(samples::xml_problems(charts), "");
}

}  // namespace
}  // namespace quenda::results
