// The plans of the test builds of the benchmark: the same driver and tests
// with other counts and caps.
#ifndef QUENDA_TEST_SMALL_PLAN_H_
#define QUENDA_TEST_SMALL_PLAN_H_

#include "plan.h"

namespace quenda::testing {

// The small end-to-end runs: seconds, and a cap of 4 that a handful of
// processes exceeds.
inline constexpr Plan kSmallPlan{4, 64, 4096};

// The cluster runs with one node slowed: each quota-bound test lasts a tenth
// of a second or more unslowed, and a whole run stays within seconds. Room
// for eight processes.
inline constexpr Plan kMediumPlan{8, 4096, 131072};

// The many-process runs: the full cap with counts so small that a run's time
// goes into starting and collecting the processes.
inline constexpr Plan kScalePlan{kFullPlan.world_size_cap, 16, 1024};

}  // namespace quenda::testing

#endif  // QUENDA_TEST_SMALL_PLAN_H_
