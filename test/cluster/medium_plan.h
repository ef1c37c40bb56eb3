// The plan of the cluster runs with one node slowed: between the small and the
// full one, each quota-bound test lasts a tenth of a second or more unslowed,
// and a whole run stays within seconds. Room for eight processes.
#ifndef QUENDA_TEST_CLUSTER_MEDIUM_PLAN_H_
#define QUENDA_TEST_CLUSTER_MEDIUM_PLAN_H_

#include "plan.h"

namespace quenda::testing {

inline constexpr Plan kMediumPlan{8, 4096, 131072};

}  // namespace quenda::testing

#endif  // QUENDA_TEST_CLUSTER_MEDIUM_PLAN_H_
