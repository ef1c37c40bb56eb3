// Comparing two runs and reading a history, on results files of chosen
// figures written by the benchmark's own report code.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyse/rates.h"
#include "analyse/welch_test.h"
#include "commands/trend.h"
#include "sample_report.h"
#include "support/files.h"
#include "support/process.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(WelchTest, MatchesAWorkedExampleAndGivesWayOnDegenerateSamples) {
  // Two samples of 15 with p = 0.021 (t and the degrees of freedom
  // computed apart, the p-value by integrating the t density numerically).
  const std::vector<double> base{27.5, 21.0, 19.0, 23.6, 17.0, 17.9, 16.9, 20.1,
                                 21.9, 22.6, 23.1, 19.6, 19.0, 21.7, 21.4};
  const std::vector<double> next{27.1, 22.0, 20.8, 23.4, 23.4, 23.5, 25.8, 22.0,
                                 24.8, 20.2, 21.9, 22.1, 22.9, 20.5, 24.4};
  const auto test = welch_test(base, next);
  ASSERT_TRUE(test);
  EXPECT_NEAR(test->t, 2.45535639828601, 1e-9);
  EXPECT_NEAR(test->degrees_of_freedom, 24.98852929023142, 1e-9);
  EXPECT_NEAR(test->p_value, 0.021378001462856844, 1e-7);

  // Neither sample varies: another mean is certain, the same one is not.
  const std::vector<double> flat{5, 5, 5};
  const std::vector<double> higher{6, 6};
  EXPECT_EQ(welch_test(flat, higher)->p_value, 0.0);
  EXPECT_EQ(welch_test(flat, flat)->p_value, 1.0);
  // One worker, or a rate from a timer that saw no time pass: no test.
  EXPECT_FALSE(welch_test(std::vector<double>{5}, higher));
  EXPECT_FALSE(welch_test(std::vector<double>{5, INFINITY}, higher));
}

class History : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const samples::SampleRun& run) {
    testing::write_file(folder_.path() / name, samples::results_text(run));
    return name;
  }
  testing::ProcessResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), QUENDA_RESULTS_TOOL);
    return testing::run_process(args, folder_.path());
  }
  testing::TemporaryFolder folder_;
};

TEST_F(History, CompareCallsASignificantFallBeyondTheThresholdWorse) {
  const samples::SampleRun base = samples::sample_run(5);
  samples::SampleRun slowed = base;
  for (const TestId id :
       {TestId::kStreamHandling, TestId::kDescriptorHandling, TestId::kBlockRead}) {
    for (samples::SampleTiming& worker : slowed.tests[static_cast<int>(id)].workers) {
      worker.rate /= 2;
    }
  }
  const std::string before = write("before.txt", base);
  const std::string after = write("after.txt", slowed);

  const testing::ProcessResult same = tool({"compare", before, before});
  EXPECT_EQ(same.exit_code, 0) << same.err;
  EXPECT_EQ(same.out.find("worse"), same.out.find("worse where"));  // only the rule says it

  const testing::ProcessResult compared = tool({"compare", "--json", before, after});
  EXPECT_EQ(compared.exit_code, 1) << compared.err;
  const json document = json::parse(compared.out);
  EXPECT_EQ(document["worse"], true);
  EXPECT_EQ(document["schema_version"], 2);
  // Block reading halved too, but its workers spread so widely that the
  // fall stays inside their spread.
  const std::vector<std::pair<std::string, std::string>> verdicts{
      {"stream_handling", "worse"},          {"descriptor_handling", "worse"},
      {"bytewise_write", "not significant"}, {"bytewise_read", "not significant"},
      {"block_read", "not significant"},     {"block_write", "not significant"}};
  for (const auto& [test, verdict] : verdicts) {
    const json& entry = document["tests"][test];
    EXPECT_EQ(entry["verdict"], verdict) << test;
    const bool halved =
        test == "stream_handling" || test == "descriptor_handling" || test == "block_read";
    EXPECT_NEAR(entry["mean"]["ratio"].get<double>(), halved ? 0.5 : 1.0, 1e-5) << test;
    EXPECT_EQ(entry["single"]["ratio"], 1.0) << test;
  }
  // A share is a percentage or a fraction alike.
  for (const char* threshold : {"--threshold=60%", "--threshold=0.6"}) {
    EXPECT_EQ(tool({"compare", threshold, before, after}).exit_code, 0) << threshold;
  }
  // Into a file instead of standard output.
  const testing::ProcessResult into_file =
      tool({"compare", "--json", "-o", "c.json", before, after});
  EXPECT_EQ(into_file.exit_code, 1);
  EXPECT_EQ(into_file.out, "");
  EXPECT_EQ(testing::read_file(folder_.path() / "c.json"), compared.out);

  // Another world size compares, and the table says so.
  const testing::ProcessResult wider =
      tool({"compare", before, write("wider.txt", samples::sample_run(9))});
  EXPECT_NE(wider.out.find("\nnote: the runs have different world sizes;"), std::string::npos);
}

TEST_F(History, CompareWithMapsNamesTheNodeThatSlowedDown) {
  // Eight workers, two a node; in the new run node-c's run at a third.
  testing::write_file(folder_.path() / "job.map", samples::kNineRankMap);
  const samples::SampleRun base = samples::sample_run(9);
  samples::SampleRun slowed = base;
  for (samples::SampleTest& test : slowed.tests) {
    for (const int rank : {5, 6}) test.workers[rank - 1].rate /= 3;
  }
  const std::string before = write("before.txt", base);
  const std::string after = write("after.txt", slowed);
  const testing::ProcessResult table =
      tool({"compare", "--rank-map", "job.map", "--rank-map", "job.map", before, after});
  EXPECT_EQ(table.exit_code, 1) << table.err;
  EXPECT_TRUE(table.out.ends_with("\nslowed nodes: node-c\n")) << table.out;
  const json document = json::parse(
      tool({"compare", "--json", "--rank-map", "job.map", "--rank-map", "job.map", before, after})
          .out);
  EXPECT_EQ(document["slowed_nodes"], json::array({"node-c"}));
  const json& nodes = document["tests"]["stream_handling"]["nodes"];
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes[0]["verdict"], "not significant");
  EXPECT_EQ(nodes[2]["verdict"], "worse");
}

}  // namespace
}  // namespace quenda::results
