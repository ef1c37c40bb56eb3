#include "support/figure_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace quenda::e2e {
namespace {

// Printed figures carry six significant digits; a product or a ratio of two
// of them is good to about this relative error.
constexpr double kPrinted = 3e-5;

::testing::AssertionResult near(double actual, double expected, const std::string& what,
                                double tolerance = kPrinted) {
  const double scale = std::max(std::abs(expected), 1e-300);
  if (actual == expected || std::abs(actual - expected) / scale <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << what << ": got " << actual << ", expected " << expected;
}

double get(const Numbers& numbers, const std::string& name) {
  const auto found = numbers.find(name);
  if (found == numbers.end()) {
    ADD_FAILURE() << "no figure " << name;
    return std::nan("");
  }
  return found->second;
}

constexpr double kMega = 1048576.0;

// Time, rate and credited count agree for one single-process access test.
void check_access_single(const Numbers& n, const std::string& test, double credited) {
  const double t = get(n, test + ".t");
  const double m = get(n, test + ".m");
  EXPECT_TRUE(near(t * m * 1e6, credited, test + " time x rate"));
  EXPECT_TRUE(near(m * 1e6, get(n, test + ".mb") * kMega, test + " millions vs MB"));
}

// A cluster test of accesses: every worker's group and the totals.
void check_access_cluster(const Numbers& n, const std::string& test, int world_size,
                          const std::function<double(int)>& credited) {
  const std::string p = "C:" + test;
  double sum = 0;
  for (int i = 1; i < world_size; ++i) {
    const std::string k = figure_suffix(i);
    const double m = get(n, p + ".m" + k);
    EXPECT_TRUE(near(get(n, p + ".t" + k) * m * 1e6, credited(i), p + k + " time x rate"));
    EXPECT_TRUE(near(m * 1e6, get(n, p + ".mb" + k) * kMega, p + k + " millions vs MB"));
    sum += m;
  }
  const double total = get(n, p + ".total");
  EXPECT_TRUE(near(total, sum, p + " total"));
  EXPECT_TRUE(near(total * 1e6, get(n, p + ".totalmb") * kMega, p + " total in MB"));
  EXPECT_TRUE(near(get(n, p + ".gain"), total / get(n, test + ".m"), p + " improvement"));
  const double mean_mb = world_size > 1 ? total * 1e6 / kMega / (world_size - 1) : 0;
  EXPECT_TRUE(near(get(n, p + ".mean"), mean_mb, p + " mean"));
}

}  // namespace

void check_figures(const Numbers& n, int world_size, const Plan& plan) {
  const double cycles = plan.handling_cycles;
  const double length = static_cast<double>(plan.file_length);
  for (const std::string test : {"hs", "hd"}) {
    EXPECT_TRUE(near(get(n, test + ".t") * get(n, test + ".r"), cycles, test + " time x rate"));
    const std::string p = "C:" + test;
    double sum = 0;
    for (int i = 1; i < world_size; ++i) {
      const std::string k = figure_suffix(i);
      const double r = get(n, p + ".r" + k);
      EXPECT_TRUE(near(get(n, p + ".t" + k) * r, cycles, p + k + " time x rate"));
      sum += r;
    }
    const double total = get(n, p + ".total");
    EXPECT_TRUE(near(total, sum, p + " total"));
    EXPECT_TRUE(near(get(n, p + ".gain"), total / get(n, test + ".r"), p + " improvement"));
    if (world_size > 1) {
      EXPECT_TRUE(near(get(n, p + ".mean"), total / (world_size - 1), p + " mean"));
    }
  }
  check_access_single(n, "bw", length + length / 2);
  check_access_single(n, "br", length + length / 2);
  check_access_single(n, "kr", length);
  check_access_single(n, "kw", length);
  const auto bytewise = [&](int rank) {
    return length + static_cast<double>(plan.file_length / (rank + 1));
  };
  check_access_cluster(n, "bw", world_size, bytewise);
  check_access_cluster(n, "br", world_size, bytewise);
  check_access_cluster(n, "kr", world_size, [&](int) { return length; });
  check_access_cluster(n, "kw", world_size, [&](int) { return length; });
}

void check_verdicts(const Lines& lines, const Numbers& n, int world_size) {
  if (world_size < 3) return;
  std::vector<bool> significant;
  for (const std::string& line : lines) {
    if (line.find("tend to be") != std::string::npos) {
      significant.push_back(line.find("not significant") == std::string::npos);
    }
  }
  struct Verdict {
    std::string figure;
    double scale;
    double threshold;
  };
  // In the order the report gives them.
  const std::vector<Verdict> verdicts = {{"C:hs.r", 1, 1.5},  {"C:hd.r", 1, 1.5},
                                         {"C:bw.m", 1, 0.01}, {"C:br.m", 1, 1},
                                         {"C:kw.m", 1, 350},  {"C:kr.m", 1, 150}};
  ASSERT_EQ(significant.size(), verdicts.size());
  for (std::size_t v = 0; v < verdicts.size(); ++v) {
    const int workers = world_size - 1;
    double mean = 0;
    double largest = 0;
    for (int i = 1; i <= workers; ++i) {
      const double x = get(n, verdicts[v].figure + figure_suffix(i));
      mean += x / workers;
      largest = std::max(largest, std::abs(x));
    }
    double squares = 0;
    for (int i = 1; i <= workers; ++i) {
      const double d = get(n, verdicts[v].figure + figure_suffix(i)) - mean;
      squares += d * d;
    }
    const double s = std::sqrt(squares / workers);
    if (std::abs(s - verdicts[v].threshold) > largest * 1e-5 * 4) {
      EXPECT_EQ(significant[v], s > verdicts[v].threshold) << verdicts[v].figure << " s=" << s;
    }
  }
}

}  // namespace quenda::e2e
