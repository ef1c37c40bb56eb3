#include "analyse/history.h"

#include <cmath>

#include "analyse/judgement.h"

namespace quenda::results {

Departures judge_newest(const std::vector<TrendPoint>& points, double alpha) {
  Departures departures;
  if (points.empty()) return departures;
  departures.history = points.size() - 1;
  Family family;
  std::array<std::optional<std::size_t>, kTestCount> places;
  std::array<NodeScore, kTestCount> scores;
  for (int t = 0; t < kTestCount; ++t) {
    const auto mean_of = [t](const TrendPoint& point) { return point.tests[t].mean; };
    const Figure newest = mean_of(points.back());
    if (!newest || !std::isfinite(*newest) || !(*newest > 0.0)) continue;
    std::vector<double> history;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const Figure mean = mean_of(points[i]);
      if (mean && std::isfinite(*mean) && *mean > 0.0) history.push_back(std::log(*mean));
    }
    scores[t] = score_against_history(std::log(*newest), history);
    if (scores[t].p_value) places[t] = family.add(*scores[t].p_value);
  }
  family.adjust();
  for (int t = 0; t < kTestCount; ++t) {
    if (!places[t]) continue;
    Departure& departure = departures.tests[t];
    departure.share = std::exp(*scores[t].deviation);
    departure.p_adjusted = family.adjusted(*places[t]);
    departure.flagged = *departure.p_adjusted <= alpha && *departure.share < 1.0 - kHistoryMargin;
  }
  return departures;
}

}  // namespace quenda::results
