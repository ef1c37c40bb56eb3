// Two runs side by side, before and after a change: per test the figures
// of both, their ratio, and whether the workers' rates moved beyond their
// spread (Welch's t-test), so that a nightly job can tell a slower cluster
// from a noisy one by the exit status alone.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_

#include <array>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "read/results_file.h"

namespace quenda::results {

inline constexpr int kExitNoneWorse = 0;  // no test got worse
inline constexpr int kExitWorse = 1;      // at least one test (or, with maps, node) got worse
// A wrong command line or a file that is refused: kExitUsage (2).

// The rate a test is judged by: files/sec for file handling, MB/sec for
// the others (the unit the report gives their means in).
Figure headline_rate(const Figures& figures, Measure measure);
// That rate's unit, "files/sec" or "MB/sec".
const char* rate_unit(TestId test);

struct WelchTest {
  double t = 0.0;                   // positive where the new rates are higher
  double degrees_of_freedom = 0.0;  // Welch-Satterthwaite
  double p_value = 1.0;             // two-sided
};

// Welch's t-test of two samples; nothing when either has fewer than two
// values or a value that is not finite. Where neither sample varies, any
// difference of the means is certain (p 0) and equal means are not (p 1).
std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next);

// Per test, whether `next` is worse than `base` as the comparison judges
// it, with the threshold in percent; nothing where it cannot judge (fewer
// than two workers, a rate that is not finite).
std::array<std::optional<bool>, kTestCount> worse_tests(const RunResults& base,
                                                        const RunResults& next,
                                                        double threshold_percent);

// `compare [--json] [--threshold PERCENT] [--rank-map BASE_MAP --rank-map
// NEW_MAP] BASE NEW`: returns kExitNoneWorse, kExitWorse or kExitUsage.
int run_compare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_
