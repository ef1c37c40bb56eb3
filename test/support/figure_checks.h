// Checks of a complete report's figures: each one's arithmetic against the
// plan's counts, the totals, gains and means, and the verdicts against the
// printed rates. The figures are those match_lines collected under the names
// expected_report gives them.
#ifndef QUENDA_TEST_SUPPORT_FIGURE_CHECKS_H_
#define QUENDA_TEST_SUPPORT_FIGURE_CHECKS_H_

#include <map>
#include <string>

#include "plan.h"
#include "support/job.h"

namespace quenda::e2e {

using Numbers = std::map<std::string, double>;

// Every figure of a run of `world_size` processes agrees with the plan's
// counts and with the other figures.
void check_figures(const Numbers& n, int world_size, const Plan& plan);

// With two or more workers the verdicts follow from the printed rates, unless
// the deviation lies too close to the threshold to tell from six digits.
void check_verdicts(const Lines& lines, const Numbers& n, int world_size);

}  // namespace quenda::e2e

#endif  // QUENDA_TEST_SUPPORT_FIGURE_CHECKS_H_
