// Summary of the workers' rates for one test: total, mean, standard deviation
// and the verdict on whether the workers differ significantly.
#ifndef QUENDA_CLUSTER_STATISTICS_H_
#define QUENDA_CLUSTER_STATISTICS_H_

#include <array>

#include "plan.h"

namespace quenda {

struct Statistics {
  double total = 0.0;                       // sum of the workers' rates, in rank order
  std::array<double, kTableSlots> rates{};  // slot i: worker i's rate as received
  double mean = 0.0;
  double variance = 0.0;
  double deviation = 0.0;  // standard deviation, unscaled
};

// Adds worker `rank`'s rate to the total and keeps it for summarise().
void accumulate(Statistics& statistics, int rank, double rate);

// Mean, variance (divided by the number of workers, not one less) and standard
// deviation of workers 1 .. world_size - 1. Leaves everything at 0 when there
// is no worker.
void summarise(Statistics& statistics, int world_size);

// True when the compared deviation exceeds the threshold, or is not a number.
bool significant(double compared_deviation, double threshold);

// How many times the workers' total exceeds the collector's own rate.
double improvement(double total, double single_rate);

}  // namespace quenda

#endif  // QUENDA_CLUSTER_STATISTICS_H_
