// Two runs side by side, before and after a change: per test the figures
// of both, their ratio, and whether the workers' rates moved beyond their
// spread (Welch's t-test on log rates); with rank maps, whether a node
// changed unlike the others; with the runs' records, what differs between
// their settings, which judges nothing. Everything compared is judged as one family
// (analyse/judgement.h), so that a nightly job can tell a slower cluster
// from a noisy one by the exit status alone.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_

#include <array>
#include <optional>
#include <ostream>

#include "commands/arguments.h"
#include "read/results_file.h"

namespace quenda::results {

inline constexpr int kExitNoneWorse = 0;  // no test got worse
inline constexpr int kExitWorse = 1;      // at least one test (or, with maps, node) got worse
// A wrong command line or a file that is refused: kExitUsage (2).

const Command& compare_command();

// Per test, whether `next` is worse than `base` as the comparison judges
// it, with the threshold in percent and the family's level `alpha`; nothing
// where it cannot judge (fewer than two workers, a rate that is not finite).
std::array<std::optional<bool>, kTestCount> worse_tests(const RunResults& base,
                                                        const RunResults& next,
                                                        double threshold_percent, double alpha);

// Compares BASE with NEW, with figures by node where both maps are given:
// returns kExitNoneWorse, kExitWorse or kExitUsage.
int run_compare(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_COMPARE_H_
