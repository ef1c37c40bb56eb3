// The report a run must produce, line by line, for a given number of
// processes, as patterns with named numbers. Written from the report's
// description, independently of the program's own code.
#ifndef QUENDA_TEST_SUPPORT_EXPECTED_REPORT_H_
#define QUENDA_TEST_SUPPORT_EXPECTED_REPORT_H_

#include <string>
#include <vector>

#include "support/job.h"

namespace quenda::e2e {

enum class Sink { kConsole, kFile };

struct ReportShape {
  int world_size;              // after the cap
  std::string collector_name;  // the collector's processor name
  std::string saved_path;      // expected in the console's closing line
};

std::vector<Pattern> expected_report(const ReportShape& shape, Sink sink);

// Names of the numbers, for the figure checks.
//   single process:  "<test>.t", "<test>.r" (file handling), "<test>.m", "<test>.mb"
//   per worker i:    "<phase><test>.t.<i>", "...r.<i>" or "...m.<i>", "...mb.<i>"
//   per phase:       "<phase><test>.total", ".totalmb", ".gain", ".mean"
// with tests "hs", "hd" (stream and descriptor handling), "bw", "br"
// (byte-wise write and read), "kr", "kw" (block read and write), and the
// cluster phase prefix "C:" before the test name.

}  // namespace quenda::e2e

#endif  // QUENDA_TEST_SUPPORT_EXPECTED_REPORT_H_
