#include "write/csv_output.h"

#include <array>
#include <charconv>

#include "write/text_escape.h"

namespace quenda::results {

// A text cell quoted where it has to be, doubling inner quotes. A spreadsheet
// takes a cell that starts with =, +, -, @, tab or carriage return for a
// formula, so such a cell gets a single quote in front, which the
// spreadsheet shows as text. Figures are never text cells: "-inf" stays a
// number.
std::string csv_text_cell(std::string_view raw) {
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
  return quoted + '"';
}

std::string to_csv(const RunResults& run, std::string room) {
  std::string& csv = room;
  csv.assign(
      "processor_name,local_date,local_time,test,rank,seconds,files_per_sec,"
      "million_accesses_per_sec,mb_per_sec,partial,node,measurement\n");
  std::string run_cells = ",,";
  if (run.metadata) {
    run_cells = csv_text_cell(run.metadata->processor_name) + "," +
                csv_text_cell(run.metadata->local_date) + "," +
                csv_text_cell(run.metadata->local_time);
  }
  // Every row says whether its run was stopped, so that the rows of a
  // partial run stay apart from whole runs once many CSVs are concatenated.
  const std::string_view partial_cell = run.partial ? ",true," : ",false,";
  for (const TestResults& test : run.tests) {
    const std::string test_cells = run_cells + "," + csv_text_cell(test_key(test.id)) + ",";
    for (const WorkerFigures& worker : test.workers) {
      const Figures& f = worker.figures;
      csv += test_cells;
      std::array<char, 24> rank{};
      csv.append(rank.data(),
                 std::to_chars(rank.data(), rank.data() + rank.size(), worker.rank).ptr);
      // A figure's cell is empty where the file does not hold it.
      for (const Figure& value :
           {f.seconds, f.files_per_sec, f.million_accesses_per_sec, f.mb_per_sec}) {
        csv += ',';
        if (value) csv += exact_text(*value);
      }
      csv += partial_cell;
      if (!worker.node.empty()) csv += csv_text_cell(worker.node);
      csv += worker.measurement ? ",true\n" : ",false\n";
    }
  }
  return room;
}

}  // namespace quenda::results
