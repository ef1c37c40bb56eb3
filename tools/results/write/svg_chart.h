// A run as an SVG chart: one panel per test, each worker's rate as a bar,
// the collector's single-process rate and the workers' mean as horizontal
// lines, so that a slow worker stands out against both.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_SVG_CHART_H_
#define QUENDA_TOOLS_RESULTS_WRITE_SVG_CHART_H_

#include <string>

#include "analyse/node_figures.h"
#include "read/results_file.h"

namespace quenda::results {

// File-handling panels show files/sec, the others MB/sec (the unit the
// report gives their means in). Every panel is a <g class="panel"
// data-test="<key>"> holding one <rect class="bar"> per worker; where the
// workers' rates differ, also a <path class="slowest-marker"> over the
// slowest worker's bar and a <text class="slowest-label"> naming it, both
// with its data-rank.
//
// With the figures by node (node_figures of `run`), each panel's bars are
// grouped by node: a <text class="node-label" data-node="..."> under each
// group names it, and a flagged node's group has a <rect
// class="outlier-node"> behind its bars, a red label and red bars marked
// data-flagged="true". Nothing else is red: the report's own verdict is
// quoted in grey. The page replaces the text of `room`, whose memory it
// reuses.
std::string to_svg(const RunResults& run, const RunNodes* nodes = nullptr, std::string room = {});

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_SVG_CHART_H_
