// Two runs side by side, before and after a change: per test the figures
// of both, their ratio, and whether the workers' rates moved beyond their
// spread (Welch's t-test), so that a nightly job can tell a slower cluster
// from a noisy one by the exit status alone.
#ifndef QUENDA_TOOLS_RESULTS_COMPARE_H_
#define QUENDA_TOOLS_RESULTS_COMPARE_H_

#include <array>
#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "results_file.h"

namespace quenda::results {

inline constexpr int kExitNoneWorse = 0;  // no test got worse
inline constexpr int kExitWorse = 1;      // at least one test (or, with maps, node) got worse
// A wrong command line or a file that is refused: kExitUsage (2).

struct CompareOptions {
  double threshold_percent = 10.0;  // a drop of the mean rate beyond this counts
  double level = 0.05;              // the significance level of the test
};

// The rate a test is judged by: files/sec for file handling, MB/sec for
// the others (the unit the report gives their means in).
Figure headline_rate(const Figures& figures, Measure measure);
// That rate's unit, "files/sec" or "MB/sec".
const char* rate_unit(TestId test);
// Every worker's headline rate, in rank order; missing figures left out.
std::vector<double> worker_rates(const TestResults& test);

struct WelchTest {
  double t = 0.0;                   // positive where the new rates are higher
  double degrees_of_freedom = 0.0;  // Welch-Satterthwaite
  double p_value = 1.0;             // two-sided
};

// Welch's t-test of two samples; nothing when either has fewer than two
// values or a value that is not finite. Where neither sample varies, any
// difference of the means is certain (p 0) and equal means are not (p 1).
std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next);

enum class Change {
  kWorse,            // significant, and the mean fell beyond the threshold
  kBetter,           // significant, and the mean rose beyond the threshold
  kWithinThreshold,  // significant, but the means are within the threshold
  kNotSignificant,   // the difference is inside the workers' spread
  kUntested,         // fewer than two workers, or a rate that is not finite
};
const char* change_text(Change change);

// The judgement on one group of workers' rates: all the workers of a test,
// or (for a comparison per node) those of one node.
struct GroupJudgement {
  Figure mean_ratio;  // the new mean over the base mean
  std::optional<WelchTest> welch;
  Change change = Change::kUntested;
};
GroupJudgement judge_rates(std::span<const double> base, std::span<const double> next,
                           const CompareOptions& options);

// A figure of both runs and new/base, where both are finite and the base
// above zero.
struct FigurePair {
  Figure base;
  Figure next;
  Figure ratio;
};

// One node's workers in both runs, where both runs' maps name the node.
struct NodeComparison {
  std::string node;
  std::size_t base_workers = 0;
  std::size_t new_workers = 0;
  GroupJudgement judgement;
};

struct TestComparison {
  TestId id = TestId::kStreamHandling;
  FigurePair single;
  FigurePair total;
  FigurePair mean;
  std::size_t base_workers = 0;
  std::size_t new_workers = 0;
  GroupJudgement judgement;
  std::vector<NodeComparison> nodes;  // in the base run's order; empty without maps
};

struct RunComparison {
  CompareOptions options;
  bool world_sizes_differ = false;
  bool by_node = false;
  std::array<TestComparison, kTestCount> tests;

  bool any_worse() const;
  // The nodes judged worse in some test, in the order first met.
  std::vector<std::string> slowed_nodes() const;
};

RunComparison compare_runs(const RunResults& base, const RunResults& next,
                           const CompareOptions& options);
// Judges each node both runs' maps name (their workers' `node`) on its
// workers' measurements alone.
void compare_nodes(const RunResults& base, const RunResults& next, RunComparison& comparison);

// A plain table, one row per test, after lines naming the runs and the rule.
std::string comparison_table(const RunResults& base, const RunResults& next,
                             const RunComparison& comparison);
std::string comparison_json(const RunResults& base, const RunResults& next,
                            const RunComparison& comparison);

// `compare [--json] [--threshold PERCENT] [--rank-map BASE_MAP --rank-map
// NEW_MAP] BASE NEW`: returns kExitNoneWorse,
// kExitWorse or kExitUsage.
int run_compare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMPARE_H_
