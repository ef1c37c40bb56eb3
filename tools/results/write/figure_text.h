// Figures as text, for the output formats.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_FIGURE_TEXT_H_
#define QUENDA_TOOLS_RESULTS_WRITE_FIGURE_TEXT_H_

#include <string>

namespace quenda::results {

// The shortest text that reads back as the same double ("inf" and "nan"
// for the values that have no digits), for machine-readable output.
std::string exact_text(double value);

// Six significant digits, as the benchmark's report prints its figures, or
// `digits` ("40.1" for a share in percent with three).
std::string report_text(double value, int digits = 6);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_FIGURE_TEXT_H_
