// A run as CSV: one row per test and worker, for spreadsheets and for
// concatenating the runs of several machines.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_CSV_OUTPUT_H_
#define QUENDA_TOOLS_RESULTS_WRITE_CSV_OUTPUT_H_

#include <string>
#include <string_view>

#include "read/results_file.h"

namespace quenda::results {

// Header "processor_name,local_date,local_time,test,rank,seconds,
// files_per_sec,million_accesses_per_sec,mb_per_sec,partial,node,
// measurement"; a cell the test does not have (or the file does not hold) is
// empty, and `partial` is "true" on every row of a stopped run, else
// "false". `node` is empty without a rank map; `measurement` is "false"
// where the job log says the test failed on that worker. Numbers read back
// exactly. The text replaces that of `room`, whose memory it reuses.
std::string to_csv(const RunResults& run, std::string room = {});

// A text cell: quoted the CSV way where needed, and with a single quote in
// front where a spreadsheet would take it for a formula.
std::string csv_text_cell(std::string_view raw);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_CSV_OUTPUT_H_
