#include "support/figure_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

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

// One test's figures: the single process's time, rate and the count it is
// credited with, each worker's, and the totals, gain and mean. The file
// tests ("hs", "hd") count files ("r"), the others accesses in millions
// ("m") with the same rate in MB beside.
void check_test(const Numbers& n, const std::string& test, int world_size, double single_count,
                const std::function<double(int)>& credited) {
  const bool files = test.starts_with('h');
  const auto group = [&](const std::string& name, const std::string& k, double count) {
    const double rate = get(n, name + (files ? ".r" : ".m") + k);
    const double per_sec = files ? rate : rate * 1e6;
    EXPECT_TRUE(near(get(n, name + ".t" + k) * per_sec, count, name + k + " time x rate"));
    if (!files) {
      EXPECT_TRUE(near(per_sec, get(n, name + ".mb" + k) * kMega, name + k + " millions vs MB"));
    }
    return rate;
  };
  const double single = group(test, "", single_count);
  const std::string p = "C:" + test;
  double sum = 0;
  for (int i = 1; i < world_size; ++i) sum += group(p, figure_suffix(i), credited(i));
  const double total = get(n, p + ".total");
  EXPECT_TRUE(near(total, sum, p + " total"));
  EXPECT_TRUE(near(get(n, p + ".gain"), total / single, p + " improvement"));
  const int workers = world_size - 1;
  if (files && workers > 0) {
    EXPECT_TRUE(near(get(n, p + ".mean"), total / workers, p + " mean"));
  } else if (!files) {
    EXPECT_TRUE(near(total * 1e6, get(n, p + ".totalmb") * kMega, p + " total in MB"));
    const double mean_mb = workers > 0 ? total * 1e6 / kMega / workers : 0;
    EXPECT_TRUE(near(get(n, p + ".mean"), mean_mb, p + " mean"));
  }
}

}  // namespace

void check_figures(const Numbers& n, int world_size, const Plan& plan) {
  const double cycles = plan.handling_cycles;
  const double length = static_cast<double>(plan.file_length);
  const auto every = [](double count) { return [count](int) { return count; }; };
  // A worker's byte-wise second pass takes the file length over its rank + 1.
  const auto bytewise = [&](int rank) {
    return length + static_cast<double>(plan.file_length / (rank + 1));
  };
  check_test(n, "hs", world_size, cycles, every(cycles));
  check_test(n, "hd", world_size, cycles, every(cycles));
  check_test(n, "bw", world_size, length + length / 2, bytewise);
  check_test(n, "br", world_size, length + length / 2, bytewise);
  check_test(n, "kr", world_size, length, every(length));
  check_test(n, "kw", world_size, length, every(length));
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
    double threshold;
  };
  // In the order the report gives them.
  const std::vector<Verdict> verdicts = {{"C:hs.r", 1.5}, {"C:hd.r", 1.5}, {"C:bw.m", 0.01},
                                         {"C:br.m", 1},   {"C:kw.m", 350}, {"C:kr.m", 150}};
  ASSERT_EQ(significant.size(), verdicts.size());
  const int workers = world_size - 1;
  for (std::size_t v = 0; v < verdicts.size(); ++v) {
    std::vector<double> x;
    for (int i = 1; i <= workers; ++i) x.push_back(get(n, verdicts[v].figure + figure_suffix(i)));
    const double mean = std::accumulate(x.begin(), x.end(), 0.0) / workers;
    double squares = 0;
    double largest = 0;
    for (const double xi : x) {
      squares += (xi - mean) * (xi - mean);
      largest = std::max(largest, std::abs(xi));
    }
    const double s = std::sqrt(squares / workers);
    if (std::abs(s - verdicts[v].threshold) > largest * 1e-5 * 4) {
      EXPECT_EQ(significant[v], s > verdicts[v].threshold) << verdicts[v].figure << " s=" << s;
    }
  }
}

}  // namespace quenda::e2e
