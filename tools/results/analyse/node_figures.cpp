#include "analyse/node_figures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "analyse/rates.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

// The test's nodes in the order of their first worker, with the log rates
// of each node's measurements.
TestNodes group_by_node(const TestResults& test, std::vector<std::vector<double>>& logs) {
  TestNodes result;
  std::vector<std::vector<double>> rates;
  for (const WorkerFigures& worker : test.workers) {
    auto node = std::find_if(result.nodes.begin(), result.nodes.end(),
                             [&](const NodeFigures& known) { return known.name == worker.node; });
    if (node == result.nodes.end()) {
      result.nodes.emplace_back().name = worker.node;
      rates.emplace_back();
      node = result.nodes.end() - 1;
    }
    node->ranks.push_back(worker.rank);
    const Figure rate = headline_rate(worker.figures, measure_of(test.id));
    // A timer that saw no time pass gives no rate to rank nodes by.
    if (worker.measurement && rate && std::isfinite(*rate)) {
      rates[static_cast<std::size_t>(node - result.nodes.begin())].push_back(*rate);
    }
  }
  for (std::size_t i = 0; i < result.nodes.size(); ++i) {
    logs.push_back(log_rates(rates[i]));
    if (rates[i].empty()) continue;
    NodeFigures& node = result.nodes[i];
    node.median = median_of(rates[i]);
    node.minimum = *std::min_element(rates[i].begin(), rates[i].end());
    node.sum = std::accumulate(rates[i].begin(), rates[i].end(), 0.0);
  }
  return result;
}

}  // namespace

RunNodes node_figures(const RunResults& run, double outlier_fraction, double alpha) {
  RunNodes nodes;
  // Every node of every test is one hypothesis of the run's family.
  Family family;
  std::array<std::vector<NodeScore>, kTestCount> scores;
  std::array<std::vector<std::size_t>, kTestCount> places;
  for (const TestResults& test : run.tests) {
    const int t = static_cast<int>(test.id);
    std::vector<std::vector<double>> logs;
    nodes[t] = group_by_node(test, logs);
    scores[t] = score_nodes(node_evidence(logs));
    for (const NodeScore& score : scores[t]) {
      places[t].push_back(score.p_value ? family.add(*score.p_value) : 0);
    }
  }
  family.adjust();
  const double practical = std::log(outlier_fraction);
  for (int t = 0; t < kTestCount; ++t) {
    for (std::size_t i = 0; i < nodes[t].nodes.size(); ++i) {
      const NodeScore& score = scores[t][i];
      if (!score.p_value) continue;
      NodeFigures& node = nodes[t].nodes[i];
      node.share = std::exp(*score.deviation);
      node.p_adjusted = family.adjusted(places[t][i]);
      if (*node.p_adjusted <= alpha && *score.deviation <= practical) {
        nodes[t].outliers.push_back(node.name);
      }
    }
  }
  return nodes;
}

bool any_flagged(const RunNodes& nodes) {
  return std::any_of(nodes.begin(), nodes.end(),
                     [](const TestNodes& test) { return !test.outliers.empty(); });
}

std::string node_summary(const RunResults& run, const RunNodes& nodes, double outlier_fraction,
                         double alpha) {
  std::string text = "by node: flagged where a node's median rate is at most " +
                     report_text(outlier_fraction * 100.0, 3) +
                     "% of the other nodes' typical rate and significantly below it (family "
                     "level " +
                     report_text(alpha) + " over every test and node of the run)\n";
  for (const TestResults& test : run.tests) {
    const TestNodes& test_nodes = nodes[static_cast<int>(test.id)];
    const std::string unit = rate_unit(test.id);
    std::size_t measured = 0;
    for (const NodeFigures& node : test_nodes.nodes) measured += node.median ? 1 : 0;
    text += "  " + std::string(test_key(test.id)) + ": ";
    if (measured < 2) {
      text += std::to_string(measured) + " node(s) with measurements, too few to compare\n";
      continue;
    }
    if (test_nodes.outliers.empty()) {
      text += "no node flagged among " + std::to_string(measured) + "\n";
      continue;
    }
    const std::vector<std::string>& outliers = test_nodes.outliers;
    std::string flagged;
    for (const NodeFigures& node : test_nodes.nodes) {
      if (std::find(outliers.begin(), outliers.end(), node.name) == outliers.end()) continue;
      flagged += (flagged.empty() ? "" : ", ") + printable(node.name) + " at " +
                 report_text(*node.share * 100.0, 3) + "% (median " + report_text(*node.median) +
                 " " + unit + ", adjusted p " + report_text(*node.p_adjusted, 2) + ")";
    }
    text += flagged + "\n";
  }
  return text;
}

}  // namespace quenda::results
