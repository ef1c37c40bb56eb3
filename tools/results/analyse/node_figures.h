// A test's figures node by node, and the nodes that fall behind the rest:
// a node is flagged where the median rate of its workers is below a
// fraction of the median over all nodes' medians. Medians keep one slow
// worker, or one noisy neighbour on a shared machine, from flagging a
// whole node or hiding a slow one.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "read/results_file.h"

namespace quenda::results {

inline constexpr double kDefaultOutlierFraction = 0.5;

// One node's workers in a test and their headline rates (files/sec or
// MB/sec). Only figures that are measurements count; a node whose workers
// all failed has no rates.
struct NodeFigures {
  std::string name;
  std::vector<std::uint64_t> ranks;  // every worker on the node
  Figure median;
  Figure minimum;
  Figure sum;
};

struct TestNodes {
  std::vector<NodeFigures> nodes;  // in the order of their first worker
  Figure median_of_nodes;          // over the nodes with rates
  std::vector<std::string> outliers;
};
using RunNodes = std::array<TestNodes, kTestCount>;

// Nothing is flagged with fewer than two nodes with rates.
TestNodes node_figures(const TestResults& test, double outlier_fraction);
RunNodes node_figures(const RunResults& run, double outlier_fraction);

// Per test, the flagged nodes and how far they are behind, for standard
// output; each line ends with a line end.
std::string node_summary(const RunResults& run, const RunNodes& nodes, double outlier_fraction);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_
