// A run as a JSON document: metadata, then per test the single-process
// figures, every worker's figures, the total, improvement, mean and verdict.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
#define QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_

#include <nlohmann/json.hpp>
#include <string>

#include "analyse/node_figures.h"
#include "read/results_file.h"

namespace quenda::results {

// Figures are JSON numbers with the value the report printed; a figure the
// file does not hold is null; an infinite or undefined one (a timer that
// measured nothing) is the string "inf", "-inf" or "nan", since JSON has no
// such numbers.
// With the figures by node (a rank map was given), every worker also has
// "node" and "measurement", and every test "nodes" and "outlier_nodes".
std::string to_json(const RunResults& run, const RunNodes* nodes = nullptr);

// One figure as above, for every JSON document the tool writes.
nlohmann::ordered_json figure_json(const Figure& value);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
