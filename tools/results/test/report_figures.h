// The figures a report prints, read the simple way: every line that names a
// unit holds one number. The round trips compare the tool's JSON against
// these, so the two sides are read by different code.
#ifndef QUENDA_TOOLS_RESULTS_TEST_REPORT_FIGURES_H_
#define QUENDA_TOOLS_RESULTS_TEST_REPORT_FIGURES_H_

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quenda::results::samples {

struct PrintedFigure {
  std::string unit;  // "seconds", "files", "millions", "mb" or "times"
  double value = 0.0;
};

// Equal units and equal values, where two undefined values are equal.
bool operator==(const PrintedFigure& a, const PrintedFigure& b);
std::ostream& operator<<(std::ostream& out, const PrintedFigure& figure);

// Every figure of a results file or of the console output, top to bottom.
std::vector<PrintedFigure> printed_figures(const std::string& report);

// Every verdict, top to bottom: true for "significant".
std::vector<bool> printed_verdicts(const std::string& report);

// The tool's JSON figures in the order the report prints them, leaving out
// the ones the JSON holds as null.
std::vector<PrintedFigure> json_figures_in_report_order(const nlohmann::json& run);
std::vector<bool> json_verdicts_in_report_order(const nlohmann::json& run);

// The cells of every line of a CSV text without quoted commas.
std::vector<std::vector<std::string>> csv_rows(const std::string& csv);

// The figure `key` of a JSON object as a double: a number as it is, a null
// with its reason "not finite: inf", "-inf" or "nan" as that value, nothing
// for a null without a reason.
std::optional<double> json_figure(const nlohmann::json& object, const std::string& key);

}  // namespace quenda::results::samples

#endif  // QUENDA_TOOLS_RESULTS_TEST_REPORT_FIGURES_H_
