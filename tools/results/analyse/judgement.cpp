#include "analyse/judgement.h"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>

namespace quenda::results {
namespace {

double sample_variance(std::span<const double> values, double mean) {
  double squares = 0.0;
  for (const double value : values) squares += (value - mean) * (value - mean);
  return squares / static_cast<double>(values.size() - 1);
}

// A median of n values varies more than their mean: pi/2 times as much for
// normal noise, up to three times for flat noise such as a uniform one;
// twice is taken. A median of one or two values is their mean.
double median_variance_factor(std::size_t n) { return n <= 2 ? 1.0 : 2.0; }

// A scale from the median absolute deviation of m values is about as
// uncertain as a standard deviation of 0.4 m (its efficiency, 37 %, and
// then some).
constexpr double kMadEfficiency = 0.4;

// The standard deviation of normal values estimated from their median
// absolute deviation around `centre`, corrected for small samples; 0 with
// fewer than two values.
double robust_scale(std::span<const double> values, double centre) {
  const std::size_t n = values.size();
  if (n < 2) return 0.0;
  std::vector<double> distances;
  distances.reserve(n);
  for (const double value : values) distances.push_back(std::fabs(value - centre));
  // 1.4826 makes the median absolute deviation of normal values their
  // standard deviation; the factors below take away the bias it still has
  // in small samples (Croux and Rousseeuw, 1992).
  constexpr double kSmall[] = {0, 0, 1.196, 1.495, 1.363, 1.206, 1.200, 1.140, 1.129, 1.107};
  const double small = n < 10 ? kSmall[n] : static_cast<double>(n) / (static_cast<double>(n) - 0.8);
  return 1.4826 * small * median_of(std::move(distances));
}

// How widely values scatter, as a standard deviation, and the degrees of
// freedom of the t distribution a distance measured in it follows.
struct Spread {
  double scale = 0.0;
  double df = 1.0;
};

// Many values: their median absolute deviation, which a share of them far
// off cannot move. Few values: their standard deviation once the one
// farthest from `centre` is set aside, so that one other slow node cannot
// widen it, scaled back up for what the setting aside takes away; a
// distance measured in it follows t on m - 2 degrees of freedom.
Spread spread_of(std::vector<double> values, double centre) {
  const std::size_t m = values.size();
  if (m >= 16) return {robust_scale(values, centre), kMadEfficiency * static_cast<double>(m)};
  if (m < 2) return {};
  std::sort(values.begin(), values.end(),
            [centre](double a, double b) { return std::fabs(a - centre) < std::fabs(b - centre); });
  // For m = 4 to 15 normal values, the root mean square of that standard
  // deviation over their own (by simulation, 60,000 samples each).
  constexpr double kKept[] = {0.603, 0.688, 0.725, 0.763, 0.781, 0.801,
                              0.815, 0.828, 0.837, 0.848, 0.855, 0.862};
  const bool trim = m >= 4;
  if (trim) values.pop_back();
  const double deviation = std::sqrt(sample_variance(values, mean_of(values)));
  if (!trim) return {deviation, static_cast<double>(m - 1)};
  return {deviation / kKept[m - 4], static_cast<double>(m - 2)};
}

// With this many other nodes or more, their spread is measured well enough
// to stand for what a node's value varies by, true small differences
// between nodes and changes of a node from run to run included.
constexpr std::size_t kSpreadNodes = 7;

// The chance, among like values, of a standardised distance this far
// below, on `df` degrees of freedom of the scale it was measured with.
double lower_tail(double z, double df) {
  if (!std::isfinite(z)) return z < 0 ? 0.0 : 1.0;
  if (df >= 1000.0) return boost::math::cdf(boost::math::normal(), z);
  return boost::math::cdf(boost::math::students_t(df), z);
}

// `deviation` over `scale`, as a one-sided p-value; a zero scale makes any
// shortfall certain and no shortfall impossible to call.
NodeScore scored(double deviation, double scale, double df) {
  if (!(scale > 0.0)) return {deviation, deviation < 0.0 ? 0.0 : 1.0};
  return {deviation, lower_tail(deviation / scale, df)};
}

// The variance of residuals around zero, from all but the eighth of them
// farthest out: one worker far off cannot widen it, and it wastes less of
// the sample than a median absolute deviation. Dividing by 0.569 undoes
// the trimming for normal noise; flatter noise comes out wider.
double trimmed_variance(std::vector<double> residuals) {
  if (residuals.empty()) return 0.0;
  std::sort(residuals.begin(), residuals.end(),
            [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  const std::size_t kept = residuals.size() - residuals.size() / 8;
  double squares = 0.0;
  for (std::size_t i = 0; i < kept; ++i) squares += residuals[i] * residuals[i];
  return squares / static_cast<double>(kept) / (kept == residuals.size() ? 1.0 : 0.569);
}

}  // namespace

double median_of(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2.0;
}

double mean_of(std::span<const double> values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next) {
  if (base.size() < 2 || next.size() < 2) return std::nullopt;
  const auto finite = [](double value) { return std::isfinite(value); };
  if (!std::all_of(base.begin(), base.end(), finite) ||
      !std::all_of(next.begin(), next.end(), finite)) {
    return std::nullopt;
  }
  const double base_mean = mean_of(base);
  const double next_mean = mean_of(next);
  const double base_share = sample_variance(base, base_mean) / static_cast<double>(base.size());
  const double next_share = sample_variance(next, next_mean) / static_cast<double>(next.size());
  const double squared_error = base_share + next_share;
  WelchTest test;
  if (squared_error == 0.0) {
    // Neither side varies: the t statistic is infinite, or 0 over 0.
    test.degrees_of_freedom = static_cast<double>(base.size() + next.size() - 2);
    if (next_mean == base_mean) return test;
    test.t = next_mean > base_mean ? INFINITY : -INFINITY;
    test.p_value = 0.0;
    return test;
  }
  test.t = (next_mean - base_mean) / std::sqrt(squared_error);
  test.degrees_of_freedom = squared_error * squared_error /
                            (base_share * base_share / static_cast<double>(base.size() - 1) +
                             next_share * next_share / static_cast<double>(next.size() - 1));
  const boost::math::students_t distribution(test.degrees_of_freedom);
  test.p_value = 2.0 * boost::math::cdf(boost::math::complement(distribution, std::fabs(test.t)));
  test.p_value = std::min(test.p_value, 1.0);
  return test;
}

std::vector<double> log_rates(std::span<const double> rates) {
  std::vector<double> logs;
  for (const double rate : rates) {
    if (std::isfinite(rate) && rate > 0.0) logs.push_back(std::log(rate));
  }
  return logs;
}

NodeEvidence node_evidence(const std::vector<std::vector<double>>& logs) {
  // Per node, the median of its workers' log rates; pooled over the nodes
  // of two workers or more, the spread of the workers around their node's
  // median.
  NodeEvidence evidence;
  std::vector<double> residuals;
  for (const std::vector<double>& node : logs) {
    if (node.empty()) {
      evidence.values.emplace_back();
      continue;
    }
    const double median = median_of(node);
    evidence.values.push_back(median);
    if (node.size() < 2) continue;
    // Distances to the node's own median are shorter than to its true level.
    const double widen = std::sqrt(static_cast<double>(node.size()) / (node.size() - 1.0));
    for (const double value : node) residuals.push_back((value - median) * widen);
    evidence.noise_df += static_cast<double>(node.size() - 1);
  }
  const double variance = trimmed_variance(residuals);  // of one worker around its node's level
  for (const std::vector<double>& node : logs) {
    const std::size_t n = std::max<std::size_t>(node.size(), 1);
    evidence.noise_variance.push_back(variance * median_variance_factor(n) /
                                      static_cast<double>(n));
  }
  return evidence;
}

NodeEvidence change_evidence(const std::vector<std::vector<double>>& base,
                             const std::vector<std::vector<double>>& next) {
  const NodeEvidence before = node_evidence(base);
  const NodeEvidence after = node_evidence(next);
  NodeEvidence evidence;
  // Noise known in one run only is not known for the change.
  evidence.noise_df =
      before.noise_df > 0.0 && after.noise_df > 0.0 ? before.noise_df + after.noise_df : 0.0;
  for (std::size_t i = 0; i < base.size(); ++i) {
    const auto& was = before.values[i];
    const auto& is = after.values[i];
    evidence.values.push_back(was && is ? std::optional<double>(*is - *was) : std::nullopt);
    evidence.noise_variance.push_back(before.noise_variance[i] + after.noise_variance[i]);
  }
  return evidence;
}

std::vector<NodeScore> score_nodes(const NodeEvidence& evidence) {
  const std::size_t count = evidence.values.size();
  std::vector<NodeScore> scores(count);
  std::vector<std::size_t> valued;
  for (std::size_t i = 0; i < count; ++i) {
    if (evidence.values[i]) valued.push_back(i);
  }
  // Two nodes of several workers can be told apart by their workers'
  // noise; nodes of one worker need two others to measure a spread by.
  if (valued.size() < (evidence.noise_df > 0.0 ? 2u : 3u)) return scores;
  const double others = static_cast<double>(valued.size() - 1);
  for (const std::size_t j : valued) {
    std::vector<double> rest;
    double rest_noise = 0.0;
    for (const std::size_t k : valued) {
      if (k == j) continue;
      rest.push_back(*evidence.values[k]);
      rest_noise += evidence.noise_variance[k];
    }
    const double typical = median_of(rest);
    const double deviation = *evidence.values[j] - typical;
    // The other nodes' spread, widened for the uncertainty of their median.
    const Spread spread = spread_of(rest, typical);
    const double widened = spread.scale * std::sqrt(1.0 + std::numbers::pi / 2.0 / others);
    // Nodes of several workers: is the node off by more than its own
    // workers' noise and that of the typical value allow, and, where there
    // are nodes enough to tell, by more than the nodes spread? One worker
    // per node: the other nodes' spread is all there is to measure it by.
    if (evidence.noise_df > 0.0) {
      const double typical_variance = 2.0 * rest_noise / others / others;
      const double noise = std::sqrt(evidence.noise_variance[j] + typical_variance);
      if (rest.size() < kSpreadNodes || widened <= noise) {
        scores[j] = scored(deviation, noise, evidence.noise_df);
        continue;
      }
    }
    scores[j] = scored(deviation, widened, spread.df);
  }
  return scores;
}

NodeScore score_against_history(double value, std::span<const double> history) {
  if (history.size() < kMinHistory) return {};
  const std::vector<double> earlier(history.begin(), history.end());
  const double typical = median_of(earlier);
  const Spread spread = spread_of(earlier, typical);
  const double n = static_cast<double>(history.size());
  return scored(value - typical, spread.scale * std::sqrt(1.0 + std::numbers::pi / 2.0 / n),
                spread.df);
}

std::vector<double> holm_adjusted(std::span<const double> p_values) {
  const std::size_t m = p_values.size();
  std::vector<std::size_t> order(m);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return p_values[a] < p_values[b]; });
  std::vector<double> adjusted(m);
  double running = 0.0;  // adjusted p-values never fall along the order
  for (std::size_t rank = 0; rank < m; ++rank) {
    const double p = p_values[order[rank]] * static_cast<double>(m - rank);
    running = std::max(running, std::min(1.0, p));
    adjusted[order[rank]] = running;
  }
  return adjusted;
}

}  // namespace quenda::results
