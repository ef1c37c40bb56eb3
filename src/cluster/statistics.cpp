#include "cluster/statistics.h"

#include <cmath>

namespace quenda {

void accumulate(Statistics& statistics, int rank, double rate) {
  statistics.total += rate;
  statistics.rates[rank] = rate;
}

void summarise(Statistics& statistics, int world_size) {
  if (world_size == 1) return;
  const int workers = world_size - 1;
  statistics.mean = statistics.total / static_cast<double>(workers);
  double sum_of_squares = 0.0;
  for (int i = 1; i <= workers; ++i) {
    const double d = statistics.rates[i] - statistics.mean;
    sum_of_squares += d * d;
  }
  statistics.variance = sum_of_squares / static_cast<double>(workers);
  statistics.deviation = std::sqrt(statistics.variance);
}

bool significant(double compared_deviation, double threshold) {
  // Written as a negation so that a NaN deviation counts as significant.
  return !(compared_deviation <= threshold);
}

double improvement(double total, double single_rate) { return total / single_rate; }

}  // namespace quenda
