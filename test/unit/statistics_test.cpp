#include "cluster/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cluster/exchange.h"
#include "run/driver.h"
#include "test_table.h"

namespace quenda {
namespace {

Statistics over(const std::vector<double>& rates) {
  Statistics statistics;
  int rank = 1;
  for (double rate : rates) accumulate(statistics, rank++, rate);
  summarise(statistics, rank);
  return statistics;
}

TEST(StatisticsTest, TotalMeanAndDeviationDivideByTheNumberOfWorkers) {
  struct Case {
    std::vector<double> rates;
    double total, mean, deviation;
  };
  // No worker leaves everything at zero; {1, 2, 3} has the population
  // deviation (divided by 3), not the sample one (divided by 2).
  for (const Case& c : std::vector<Case>{{{}, 0, 0, 0},
                                         {{12345.5}, 12345.5, 12345.5, 0},
                                         {{100, 102}, 202, 101, 1},
                                         {{100, 104}, 204, 102, 2},
                                         {{1, 2, 3}, 6, 2, std::sqrt(2.0 / 3.0)}}) {
    SCOPED_TRACE(::testing::PrintToString(c.rates));
    const Statistics statistics = over(c.rates);
    EXPECT_DOUBLE_EQ(statistics.total, c.total);
    EXPECT_DOUBLE_EQ(statistics.mean, c.mean);
    EXPECT_DOUBLE_EQ(statistics.deviation, c.deviation);
  }
  EXPECT_EQ(improvement(0, 31.5), 0);
}

// An infinite rate leaves the deviation undefined, which counts as significant.
TEST(StatisticsTest, ThresholdItselfIsNotSignificantAndAnUndefinedDeviationIs) {
  EXPECT_FALSE(significant(1.5, threshold_of(TestId::kStreamHandling)));
  EXPECT_TRUE(significant(std::nextafter(1.5, 2.0), threshold_of(TestId::kDescriptorHandling)));
  EXPECT_FALSE(significant(10000 / kMillion, threshold_of(TestId::kBytewiseWrite)));
  EXPECT_FALSE(significant(1000000 / kMillion, threshold_of(TestId::kBytewiseRead)));
  const Statistics statistics = over({100, std::numeric_limits<double>::infinity()});
  EXPECT_TRUE(std::isinf(statistics.total));
  EXPECT_TRUE(std::isnan(statistics.deviation));
  EXPECT_TRUE(significant(statistics.deviation, threshold_of(TestId::kBlockWrite)));
}

#ifdef QUENDA_DOCS_DIR
TEST(StatisticsTest, ReadingTheFiguresShowsThesePlansThresholds) {
  std::ifstream page(QUENDA_DOCS_DIR "/reading-the-figures.md");
  // The verdict table's rows: | heading | `key` | compared value | threshold |
  const std::regex row(R"(\| [^|]+ \| `(\w+)` \| [^|]+ \| ([0-9.]+) \|)");
  std::map<std::string, double> shown;
  for (std::string line; std::getline(page, line);) {
    std::smatch match;
    if (std::regex_match(line, match, row)) shown[match[1].str()] = std::stod(match[2].str());
  }
  std::map<std::string, double> planned;
  for (const TestInfo& test : kTests) planned[std::string(test.key)] = test.threshold;
  EXPECT_EQ(shown, planned);
}
#endif

TEST(TimingTest, RateIsTheCreditedCountOverElapsedSeconds) {
  const Timing timing = timed(131072, 10.0, 10.5);
  EXPECT_DOUBLE_EQ(timing.elapsed, 0.5);
  EXPECT_DOUBLE_EQ(timing.rate, 262144);
}

TEST(WorldSizeTest, CappedAtThePlanLimit) {
  EXPECT_EQ(capped_world_size(1, kFullPlan), 1);
  EXPECT_EQ(capped_world_size(512, kFullPlan), 512);
  EXPECT_EQ(capped_world_size(513, kFullPlan), 512);
  EXPECT_EQ(capped_world_size(600, kFullPlan), 512);
}

}  // namespace
}  // namespace quenda
