// A test's figures node by node, and the nodes that fall behind the rest.
// A node is flagged where the median of its workers' log rates is both
// practically below the other nodes' (at most a fraction of their typical
// rate) and significantly so, with the chance of any false flag in a run
// held at the family's level over all its tests and nodes together
// (analyse/judgement.h). Medians keep one slow worker, or one noisy
// neighbour on a shared machine, from flagging a whole node or hiding a
// slow one.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analyse/judgement.h"
#include "read/results_file.h"

namespace quenda::results {

// A node is worth flagging at 80% of the typical node's rate or less.
inline constexpr double kDefaultOutlierFraction = 0.8;

// One node's workers in a test and their headline rates (files/sec or
// MB/sec). Only figures that are measurements count; a node whose workers
// all failed has no rates.
struct NodeFigures {
  std::string name;
  std::vector<std::uint64_t> ranks;  // every worker on the node
  Figure median;
  Figure minimum;
  Figure sum;
  // Its rate over the other nodes' typical rate (from the medians of log
  // rates), and the p-value of its shortfall adjusted for the whole run;
  // empty where the node was not judged.
  Figure share;
  Figure p_adjusted;
};

struct TestNodes {
  std::vector<NodeFigures> nodes;  // in the order of their first worker
  std::vector<std::string> outliers;
};
using RunNodes = std::array<TestNodes, kTestCount>;

// Every test of `run` by node, its flags judged as one family at level
// `alpha`. Nothing is flagged with fewer than two nodes with rates, or
// three where each has one worker.
RunNodes node_figures(const RunResults& run, double outlier_fraction, double alpha = kDefaultAlpha);

// True where any test of `nodes` has a flagged node.
bool any_flagged(const RunNodes& nodes);

// Per test, the flagged nodes and how far they are behind, for standard
// output; each line ends with a line end.
std::string node_summary(const RunResults& run, const RunNodes& nodes, double outlier_fraction,
                         double alpha = kDefaultAlpha);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_NODE_FIGURES_H_
