#include "report_figures.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <tuple>

namespace quenda::results::samples {
namespace {

using nlohmann::json;

// The unit a line names, or "" for a line without a figure.
std::string unit_of(const std::string& line) {
  if (line.find("Secs.") != std::string::npos) return "seconds";
  if (line.find("Files/sec.") != std::string::npos) return "files";
  if (line.find("Millions Access") != std::string::npos) return "millions";
  if (line.find("MB/sec.") != std::string::npos) return "mb";
  if (line.find(" times.") != std::string::npos) return "times";
  return "";
}

void add(std::vector<PrintedFigure>& figures, const std::string& unit, const json& object,
         const std::string& key) {
  if (const auto value = json_figure(object, key)) figures.push_back(PrintedFigure{unit, *value});
}

void add_timed(std::vector<PrintedFigure>& figures, const json& group, bool files) {
  add(figures, "seconds", group, "seconds");
  if (files) {
    add(figures, "files", group, "files_per_sec");
  } else {
    add(figures, "millions", group, "million_accesses_per_sec");
    add(figures, "mb", group, "mb_per_sec");
  }
}

void add_handling(std::vector<PrintedFigure>& figures, const json& test) {
  for (const json& worker : test["workers"]) add_timed(figures, worker, true);
  add(figures, "files", test["total"], "files_per_sec");
  add(figures, "times", test, "improvement");
  if (!test["mean"].is_null()) add(figures, "files", test["mean"], "files_per_sec");
}

void add_totals(std::vector<PrintedFigure>& figures, const json& test) {
  add(figures, "millions", test["total"], "million_accesses_per_sec");
  add(figures, "mb", test["total"], "mb_per_sec");
  add(figures, "times", test, "improvement");
}

}  // namespace

bool operator==(const PrintedFigure& a, const PrintedFigure& b) {
  if (a.unit != b.unit) return false;
  if (std::isnan(a.value) || std::isnan(b.value)) return std::isnan(a.value) && std::isnan(b.value);
  return a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const PrintedFigure& figure) {
  return out << figure.unit << ' ' << figure.value;
}

std::vector<PrintedFigure> printed_figures(const std::string& report) {
  std::vector<PrintedFigure> figures;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string unit = unit_of(line);
    if (unit.empty()) continue;
    std::istringstream tokens(line);
    std::vector<double> numbers;
    for (std::string token; tokens >> token;) {
      char* end = nullptr;
      const double value = std::strtod(token.c_str(), &end);
      if (end == token.c_str() + token.size()) numbers.push_back(value);  // a whole token
    }
    if (numbers.size() != 1) {
      ADD_FAILURE() << "a line with " << numbers.size() << " numbers: " << line;
      continue;
    }
    figures.push_back(PrintedFigure{unit, numbers[0]});
  }
  return figures;
}

std::vector<bool> printed_verdicts(const std::string& report) {
  std::vector<bool> verdicts;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.ends_with("tend to be significant.")) verdicts.push_back(true);
    if (line.ends_with("tend to be not significant.")) verdicts.push_back(false);
  }
  return verdicts;
}

std::vector<PrintedFigure> json_figures_in_report_order(const json& run) {
  const json& tests = run["tests"];
  std::vector<PrintedFigure> figures;
  add_timed(figures, tests["stream_handling"]["single"], true);
  add_timed(figures, tests["descriptor_handling"]["single"], true);
  for (const char* key : {"bytewise_write", "bytewise_read", "block_read", "block_write"}) {
    add_timed(figures, tests[key]["single"], false);
  }
  add_handling(figures, tests["stream_handling"]);
  add_handling(figures, tests["descriptor_handling"]);

  // A cluster phase: the workers of its two tests in the order run, then
  // the totals and the means, the write's first.
  using Phase = std::tuple<std::array<const char*, 2>, const char*, const char*>;
  for (const auto& [workers, write, read] :
       {Phase{{"bytewise_write", "bytewise_read"}, "bytewise_write", "bytewise_read"},
        Phase{{"block_read", "block_write"}, "block_write", "block_read"}}) {
    for (const char* key : workers) {
      for (const json& worker : tests[key]["workers"]) add_timed(figures, worker, false);
    }
    add_totals(figures, tests[write]);
    add_totals(figures, tests[read]);
    for (const char* key : {write, read}) add(figures, "mb", tests[key]["mean"], "mb_per_sec");
  }
  return figures;
}

std::vector<bool> json_verdicts_in_report_order(const json& run) {
  std::vector<bool> verdicts;
  for (const char* key : {"stream_handling", "descriptor_handling", "bytewise_write",
                          "bytewise_read", "block_write", "block_read"}) {
    const json& significant = run["tests"][key]["significant"];
    if (!significant.is_null()) verdicts.push_back(significant.get<bool>());
  }
  return verdicts;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream split(line + ",");
    rows.emplace_back();
    for (std::string cell; std::getline(split, cell, ',');) rows.back().push_back(cell);
  }
  return rows;
}

std::optional<double> json_figure(const json& object, const std::string& key) {
  const json& figure = object.at(key);
  if (figure.is_number()) return figure.get<double>();
  EXPECT_TRUE(figure.is_null()) << key << ": " << figure;
  if (!object.contains(key + "_reason")) return std::nullopt;
  const std::string reason = object[key + "_reason"].get<std::string>();
  if (reason == "not finite: inf") return INFINITY;
  if (reason == "not finite: -inf") return -INFINITY;
  if (reason == "not finite: nan") return NAN;
  ADD_FAILURE() << "not a reason: " << reason;
  return 0.0;
}

}  // namespace quenda::results::samples
