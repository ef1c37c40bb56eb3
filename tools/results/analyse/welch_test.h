// Welch's t-test of two samples, which does not assume that both spread
// alike: whether the workers' rates of two runs differ by more than their
// spread explains.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_WELCH_TEST_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_WELCH_TEST_H_

#include <optional>
#include <span>

namespace quenda::results {

struct WelchTest {
  double t = 0.0;                   // positive where the new rates are higher
  double degrees_of_freedom = 0.0;  // Welch-Satterthwaite
  double p_value = 1.0;             // two-sided
};

// Welch's t-test of two samples; nothing when either has fewer than two
// values or a value that is not finite. Where neither sample varies, any
// difference of the means is certain (p 0) and equal means are not (p 1).
std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next);

// The mean of `values`, at least one.
double mean_of(std::span<const double> values);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_WELCH_TEST_H_
