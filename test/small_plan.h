// The plan of the small end-to-end runs, shared with the tests that check
// their figures.
#ifndef QUENDA_TEST_SMALL_PLAN_H_
#define QUENDA_TEST_SMALL_PLAN_H_

#include "plan.h"

namespace quenda::testing {

inline constexpr Plan kSmallPlan{4, 64, 4096};

}  // namespace quenda::testing

#endif  // QUENDA_TEST_SMALL_PLAN_H_
