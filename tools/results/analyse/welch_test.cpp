#include "analyse/welch_test.h"

#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numeric>

namespace quenda::results {
namespace {

double sample_variance(std::span<const double> values, double mean) {
  double squares = 0.0;
  for (const double value : values) squares += (value - mean) * (value - mean);
  return squares / static_cast<double>(values.size() - 1);
}

}  // namespace

double mean_of(std::span<const double> values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

std::optional<WelchTest> welch_test(std::span<const double> base, std::span<const double> next) {
  if (base.size() < 2 || next.size() < 2) return std::nullopt;
  const auto finite = [](double value) { return std::isfinite(value); };
  if (!std::all_of(base.begin(), base.end(), finite) ||
      !std::all_of(next.begin(), next.end(), finite)) {
    return std::nullopt;
  }
  const double base_mean = mean_of(base);
  const double next_mean = mean_of(next);
  const double base_share = sample_variance(base, base_mean) / static_cast<double>(base.size());
  const double next_share = sample_variance(next, next_mean) / static_cast<double>(next.size());
  const double squared_error = base_share + next_share;
  WelchTest test;
  if (squared_error == 0.0) {
    // Neither side varies: the t statistic is infinite, or 0 over 0.
    test.degrees_of_freedom = static_cast<double>(base.size() + next.size() - 2);
    if (next_mean == base_mean) return test;
    test.t = next_mean > base_mean ? INFINITY : -INFINITY;
    test.p_value = 0.0;
    return test;
  }
  test.t = (next_mean - base_mean) / std::sqrt(squared_error);
  test.degrees_of_freedom = squared_error * squared_error /
                            (base_share * base_share / static_cast<double>(base.size() - 1) +
                             next_share * next_share / static_cast<double>(next.size() - 1));
  const boost::math::students_t distribution(test.degrees_of_freedom);
  test.p_value = 2.0 * boost::math::cdf(boost::math::complement(distribution, std::fabs(test.t)));
  test.p_value = std::min(test.p_value, 1.0);
  return test;
}

}  // namespace quenda::results
