// A run as a JSON document: metadata, then per test the single-process
// figures, every worker's figures, the total, improvement, mean and verdict.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
#define QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_

#include <nlohmann/json.hpp>
#include <string>

#include "analyse/node_figures.h"
#include "read/results_file.h"
#include "read/run_record.h"

namespace quenda::results {

// The version of the layout of every JSON document the tool writes, its
// first member. Documents without it wrote a figure that is not finite as
// the string "inf", "-inf" or "nan".
inline constexpr int kJsonSchemaVersion = 2;

// Figures are JSON numbers with the value the report printed.
// With the figures by node (a rank map was given), every worker also has
// "node" and "measurement", and every test "nodes" and "outlier_nodes".
// With the run's record, "record" holds it (record_json).
std::string to_json(const RunResults& run, const RunNodes* nodes = nullptr,
                    const RunRecord* record = nullptr);

// A run's record as the batch script wrote it, its members under the same
// names, with "path", where it was read from, first.
nlohmann::ordered_json record_json(const RunRecord& record);

// Sets `key` of `object` to a figure, for every JSON document the tool
// writes: a number; null where the file does not hold it; null with
// "<key>_reason" beside it ("not finite: inf", "-inf" or "nan") where it is
// infinite or undefined (a timer that measured nothing), since JSON has no
// such numbers.
void put_figure(nlohmann::ordered_json& object, const std::string& key, const Figure& value);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
