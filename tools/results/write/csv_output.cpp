#include "write/csv_output.h"

#include "write/figure_text.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

// A text cell quoted where it has to be, doubling inner quotes. A spreadsheet
// takes a cell that starts with =, +, -, @, tab or carriage return for a
// formula, so such a cell gets a single quote in front, which the
// spreadsheet shows as text. Figures are never text cells: "-inf" stays a
// number.
std::string cell(std::string_view raw) {
  std::string text = valid_text(raw);
  if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string cell(const Figure& value) { return value ? exact_text(*value) : std::string(); }

}  // namespace

std::string csv_text_cell(std::string_view raw) { return cell(raw); }

std::string to_csv(const RunResults& run) {
  std::string csv =
      "processor_name,local_date,local_time,test,rank,seconds,files_per_sec,"
      "million_accesses_per_sec,mb_per_sec,partial,node,measurement\n";
  std::string run_cells;
  if (run.metadata) {
    run_cells = cell(run.metadata->processor_name) + "," + cell(run.metadata->local_date) + "," +
                cell(run.metadata->local_time);
  } else {
    run_cells = ",,";
  }
  // Every row says whether its run was stopped, so that the rows of a
  // partial run stay apart from whole runs once many CSVs are concatenated.
  const std::string partial_cell = run.partial ? "true" : "false";
  for (const TestResults& test : run.tests) {
    for (const WorkerFigures& worker : test.workers) {
      const Figures& f = worker.figures;
      csv += run_cells + "," + cell(test_key(test.id)) + "," + std::to_string(worker.rank) + "," +
             cell(f.seconds) + "," + cell(f.files_per_sec) + "," +
             cell(f.million_accesses_per_sec) + "," + cell(f.mb_per_sec) + "," + partial_cell +
             "," + cell(worker.node) + "," + (worker.measurement ? "true" : "false") + "\n";
    }
  }
  return csv;
}

}  // namespace quenda::results
