// Looking into a chart with xmllint, as a reader of the XML would, and
// drawing it as a viewer and a browser would.
#ifndef QUENDA_TOOLS_RESULTS_TEST_CHART_CHECK_H_
#define QUENDA_TOOLS_RESULTS_TEST_CHART_CHECK_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::results::samples {

// xmllint's complaints about the files, read in one run of it; empty when
// each is well-formed XML.
std::string xml_problems(const std::vector<std::filesystem::path>& svgs);

// The number of elements an XPath expression selects in the file.
int xpath_count(const std::filesystem::path& svg, const std::string& expression);

// What rsvg-convert and headless chromium say when each renders the chart
// to a PNG; empty when both drew it.
std::string render_problems(const std::filesystem::path& svg);

// Every text label's box, from its position, size and anchor and a glyph
// width a little above DejaVu Sans's: the labels that stick out of the
// picture and the pairs that overlap, one line each; empty when none do.
std::string label_problems(const std::filesystem::path& svg);

}  // namespace quenda::results::samples

#endif  // QUENDA_TOOLS_RESULTS_TEST_CHART_CHECK_H_
