// The plan of the many-process runs: the full world-size cap with counts so
// small that a run's time goes into starting and collecting the processes.
#ifndef QUENDA_TEST_SCALE_SCALE_PLAN_H_
#define QUENDA_TEST_SCALE_SCALE_PLAN_H_

#include "plan.h"

namespace quenda::testing {

inline constexpr Plan kScalePlan{kFullPlan.world_size_cap, 16, 1024};

}  // namespace quenda::testing

#endif  // QUENDA_TEST_SCALE_SCALE_PLAN_H_
