// The statistics behind the tool's three judgements: a node slow within a
// run, a test or a node worse between two runs, a run that departs from its
// history. All three work on log rates (a node at half speed is as far below
// as one at double speed is above), take medians and median absolute
// deviations so that one odd worker neither hides nor flags a node, call
// something only where it is both statistically and practically different,
// and hold the chance of any false alarm among everything judged together
// at the family's level with Holm's step-down procedure.
// Welch's t-test, which does not assume that two samples spread alike,
// asks whether the workers' rates of two runs differ by more than their
// spread explains. docs/reading-the-figures.md explains the design and its
// measured rates.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_JUDGEMENT_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_JUDGEMENT_H_

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quenda::results {

// The chance of one false alarm or more among everything judged together.
inline constexpr double kDefaultAlpha = 0.05;

// The median; 0 for no values.
double median_of(std::vector<double> values);

// The mean of `values`, at least one.
double mean_of(std::span<const double> values);

struct WelchTest {
  double t = 0.0;                   // positive where the new rates are higher
  double degrees_of_freedom = 0.0;  // Welch-Satterthwaite
  double p_value = 1.0;             // two-sided
};

// Welch's t-test of two samples; nothing when either has fewer than two
// values or a value that is not finite. Where neither sample varies, any
// difference of the means is certain (p 0) and equal means are not (p 1).
std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next);

// The logs of the rates that can be judged: finite and above zero.
std::vector<double> log_rates(std::span<const double> rates);

// What the workers of each node say about that node: its value (the median
// of its workers' log rates, or a change of it between two runs), and how
// much of that value is the workers' own noise.
struct NodeEvidence {
  std::vector<std::optional<double>> values;  // per node; nothing where it has no measurement
  // Per node, the variance its value has from its own workers' noise;
  // meaningful only where `noise_df` is above zero.
  std::vector<double> noise_variance;
  double noise_df = 0.0;  // what the noise is estimated from; 0: one worker per node
};

// Each node's workers' log rates (measurements only) as evidence about the
// nodes within one run.
NodeEvidence node_evidence(const std::vector<std::vector<double>>& logs);

// How each node's change between two runs compares: `base` and `next` per
// node, in the same order; a node without measurements on either side has
// no value.
NodeEvidence change_evidence(const std::vector<std::vector<double>>& base,
                             const std::vector<std::vector<double>>& next);

// One node judged against the others.
struct NodeScore {
  std::optional<double> deviation;  // log of its value over the other nodes' typical one
  std::optional<double> p_value;    // one-sided: the chance of a value this low among like nodes
};

// Scores each node that has a value against the median of the other nodes:
// against its workers' noise where nodes have several workers, else against
// the spread of the other nodes' values. Nothing is scored with fewer than
// two nodes with values, or three where each has one worker.
std::vector<NodeScore> score_nodes(const NodeEvidence& evidence);

// One-sided p-value (low side) of `value` against earlier values: for a run
// against its history; nothing with fewer than `kMinHistory` earlier values.
inline constexpr std::size_t kMinHistory = 5;
NodeScore score_against_history(double value, std::span<const double> history);

// Holm's adjusted p-values, in the order given: a hypothesis is rejected at
// family level `alpha` where its adjusted p-value is at most `alpha`.
std::vector<double> holm_adjusted(std::span<const double> p_values);

// Collects the p-values of one family, then hands back each one adjusted.
class Family {
 public:
  // The index of `p_value` within the family.
  std::size_t add(double p_value) {
    raw_.push_back(p_value);
    return raw_.size() - 1;
  }
  // Adjusts every p-value added; call once, after the last add().
  void adjust() { adjusted_ = holm_adjusted(raw_); }
  double adjusted(std::size_t index) const { return adjusted_[index]; }
  std::size_t size() const { return raw_.size(); }

 private:
  std::vector<double> raw_;
  std::vector<double> adjusted_;
};

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_JUDGEMENT_H_
