#include "analyse/node_figures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "analyse/rates.h"
#include "write/figure_text.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

Figure median_of(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2.0;
}

}  // namespace

TestNodes node_figures(const TestResults& test, double outlier_fraction) {
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
  std::vector<double> medians;
  for (std::size_t i = 0; i < result.nodes.size(); ++i) {
    if (rates[i].empty()) continue;
    NodeFigures& node = result.nodes[i];
    node.median = median_of(rates[i]);
    node.minimum = *std::min_element(rates[i].begin(), rates[i].end());
    node.sum = std::accumulate(rates[i].begin(), rates[i].end(), 0.0);
    medians.push_back(*node.median);
  }
  result.median_of_nodes = median_of(medians);
  if (medians.size() < 2) return result;
  for (const NodeFigures& node : result.nodes) {
    if (node.median && *node.median < outlier_fraction * *result.median_of_nodes) {
      result.outliers.push_back(node.name);
    }
  }
  return result;
}

RunNodes node_figures(const RunResults& run, double outlier_fraction) {
  RunNodes nodes;
  for (const TestResults& test : run.tests) {
    nodes[static_cast<int>(test.id)] = node_figures(test, outlier_fraction);
  }
  return nodes;
}

std::string node_summary(const RunResults& run, const RunNodes& nodes, double outlier_fraction) {
  std::string text = "by node: flagged where a node's median rate is below " +
                     report_text(outlier_fraction * 100.0, 3) + "% of the median over the nodes\n";
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
    const double overall = *test_nodes.median_of_nodes;
    const std::vector<std::string>& outliers = test_nodes.outliers;
    std::string flagged;
    for (const NodeFigures& node : test_nodes.nodes) {
      if (std::find(outliers.begin(), outliers.end(), node.name) == outliers.end()) continue;
      flagged += (flagged.empty() ? "" : ", ") + printable(node.name) + " at " +
                 report_text(*node.median / overall * 100.0, 3) + "% (" +
                 report_text(*node.median) + " of " + report_text(overall) + " " + unit + ")";
    }
    text += flagged + "\n";
  }
  return text;
}

}  // namespace quenda::results
