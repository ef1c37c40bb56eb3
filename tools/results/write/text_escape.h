// Text for the outputs and the terminal: figures written as text, and text
// from other machines made safe. Processor names come from file names and
// may hold any byte; the title and the lines quoted in messages come from
// the file itself.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_TEXT_ESCAPE_H_
#define QUENDA_TOOLS_RESULTS_WRITE_TEXT_ESCAPE_H_

#include <string>
#include <string_view>

namespace quenda::results {

// The shortest text that reads back as the same double ("inf" and "nan"
// for the values that have no digits), for machine-readable output.
std::string exact_text(double value);

// Six significant digits, as the benchmark's report prints its figures, or
// `digits` ("40.1" for a share in percent with three).
std::string report_text(double value, int digits = 6);

// Valid UTF-8 holding only characters XML 1.0 allows: every byte that does
// not start a well-formed UTF-8 sequence, every control character but tab
// and line feed, U+FFFE and U+FFFF become U+FFFD. Every text that goes into
// the CSV or the chart passes through here.
std::string valid_text(std::string_view bytes);

// valid_text() with &, <, > and " as entities, for XML content and
// attribute values.
std::string xml_text(std::string_view bytes);
void append_xml_text(std::string& out, std::string_view bytes);

// For the terminal: control characters (C0, DEL, C1), backslashes and bytes
// that are not UTF-8 as \xNN, so that a file name cannot move the cursor or
// change the colours.
std::string printable(std::string_view bytes);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_TEXT_ESCAPE_H_
