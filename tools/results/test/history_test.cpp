// Comparing two runs and reading a history, on results files of chosen
// figures written by the benchmark's own report code.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "analyse/judgement.h"
#include "analyse/node_figures.h"
#include "analyse/rates.h"
#include "chart_check.h"
#include "commands/trend.h"
#include "report_figures.h"
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

TEST(Holm, AdjustsAFamilyInTheOrderGivenNeverLettingALargerPFallBelowASmallerOne) {
  Family family;
  for (const double p : {0.01, 0.04, 0.03, 0.005}) family.add(p);
  family.adjust();
  const std::vector<double> expected{0.03, 0.06, 0.06, 0.02};
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(family.adjusted(i), expected[i], 1e-15);
  EXPECT_EQ(holm_adjusted(std::vector<double>{0.5, 0.9}), (std::vector<double>{1.0, 1.0}));
}

// Runs of `nodes` x `per_node` workers at rates of 1000 times a uniform
// factor in [0.85, 1.15] (fixed seed), then slowed as the row says.
struct NodeCase {
  const char* what;
  int nodes;
  int per_node;
  int slow_node;                  // -1: none
  double slow_factor;             // on every worker of slow_node
  int bad_worker_node;            // -1: none; its first worker alone at a fifth
  std::set<std::string> flagged;  // in any test
};

RunResults node_run(const NodeCase& c, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> noise(0.85, 1.15);
  RunResults run;
  run.threads = c.nodes * c.per_node + 1;
  for (int t = 0; t < kTestCount; ++t) {
    TestResults& test = run.tests[t];
    test.id = static_cast<TestId>(t);
    for (int worker = 0; worker < c.nodes * c.per_node; ++worker) {
      const int node = worker / c.per_node;
      double rate = 1000.0 * noise(engine) * (node == c.slow_node ? c.slow_factor : 1.0);
      if (node == c.bad_worker_node && worker % c.per_node == 0) rate /= 5.0;
      Figures figures;
      (measure_of(test.id) == Measure::kFiles ? figures.files_per_sec : figures.mb_per_sec) = rate;
      test.workers.push_back(WorkerFigures{static_cast<std::uint64_t>(worker + 1), figures,
                                           "node-" + std::to_string(node), true});
    }
  }
  return run;
}

TEST(NodeJudgement, FlagsASlowNodeAndNothingElseWhateverTheLayout) {
  const std::vector<NodeCase> cases{
      {"4x4, noise only", 4, 4, -1, 1.0, -1, {}},
      {"4x4, a node 30% slower", 4, 4, 2, 0.7, -1, {"node-2"}},
      {"4x4, one worker of a node at a fifth", 4, 4, -1, 1.0, 1, {}},
      {"4x4, a slow node beside one slow worker", 4, 4, 2, 0.7, 0, {"node-2"}},
      {"8x1, noise only", 8, 1, -1, 1.0, -1, {}},
      {"8x1, a node 3x slower", 8, 1, 5, 1.0 / 3.0, -1, {"node-5"}},
      {"63x8, a node 30% slower", 63, 8, 40, 0.7, 7, {"node-40"}},
  };
  for (const NodeCase& c : cases) {
    for (const unsigned seed : {1u, 2u, 3u}) {
      const RunNodes nodes = node_figures(node_run(c, seed), kDefaultOutlierFraction);
      std::set<std::string> flagged;
      for (const TestNodes& test : nodes)
        flagged.insert(test.outliers.begin(), test.outliers.end());
      EXPECT_EQ(flagged, c.flagged) << c.what << ", seed " << seed;
    }
  }
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
  // Six nightly runs a percent apart (`night` from 1), named for 2026-03-0<night>.
  std::string nightly(int night, samples::SampleRun run, const std::string& node = "node-a") {
    for (samples::SampleTest& test : run.tests) {
      for (samples::SampleTiming& worker : test.workers) worker.rate *= 1.0 + 0.01 * night;
    }
    return write(samples::replace_first(samples::sample_file_name(node), "2026.03.04",
                                        "2026.03.0" + std::to_string(night)),
                 run);
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
  const std::vector<std::tuple<std::string, std::string, double>> verdicts{
      {"stream_handling", "worse", 0.5},          {"descriptor_handling", "worse", 0.5},
      {"bytewise_write", "not significant", 1.0}, {"bytewise_read", "not significant", 1.0},
      {"block_read", "not significant", 0.5},     {"block_write", "not significant", 1.0}};
  for (const auto& [test, verdict, mean_ratio] : verdicts) {
    const json& entry = document["tests"][test];
    EXPECT_EQ(entry["verdict"], verdict) << test;
    EXPECT_NEAR(entry["mean"]["ratio"].get<double>(), mean_ratio, 1e-5) << test;
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

  // The records beside the files: what differs, a line each, in the table
  // and the JSON; the verdicts as they were.
  json base_record = samples::sample_record("41", "before.txt");
  json new_record = samples::sample_record("42", "after.txt");
  new_record["program_version"] = "quenda-lite 1.1.0";
  new_record["nodes"][1]["fstype"] = "xfs";
  new_record["nodes"][1]["mount_options"] = "rw,noatime";
  for (json& node : new_record["nodes"]) node["kernel"] = "6.1.0-30-amd64";
  new_record["nodes"].push_back(new_record["nodes"][0]);
  new_record["nodes"][2]["name"] = "node-c";
  testing::write_file(folder_.path() / "quenda-lite-41.json", base_record.dump());
  testing::write_file(folder_.path() / "quenda-lite-42.json", new_record.dump());
  const std::string differences =
      "\nrecord: program version: base quenda-lite 1.0.0, new quenda-lite 1.1.0\n"
      "record: nodes: only in new node-c\n"
      "record: file system on node-b: base ext4 (rw,relatime), new xfs (rw,noatime)\n"
      "record: kernel on both nodes: base 6.1.0-28-amd64, new 6.1.0-30-amd64\n";
  const testing::ProcessResult recorded = tool({"compare", before, after});
  EXPECT_EQ(recorded.exit_code, 1);
  EXPECT_NE(recorded.out.find(differences), std::string::npos) << recorded.out;
  const json with_records = json::parse(tool({"compare", "--json", before, after}).out);
  EXPECT_EQ(with_records["new"]["record"]["job_id"], "42");
  EXPECT_EQ(with_records["base"]["record"]["nodes"], base_record["nodes"]);
  ASSERT_EQ(with_records["record_differences"].size(), 4u);
  EXPECT_EQ(with_records["record_differences"][2], json({{"item", "file_system"},
                                                         {"nodes", {"node-b"}},
                                                         {"base", "ext4 (rw,relatime)"},
                                                         {"new", "xfs (rw,noatime)"}}));
  EXPECT_NE(
      tool({"compare", before, before}).out.find("\nrecords agree (base job 41, new job 41)\n"),
      std::string::npos);
  // Records named in place of those beside; a run without one is noted.
  const testing::ProcessResult named = tool({"compare", "--record", "quenda-lite-42.json",
                                             "--record", "quenda-lite-41.json", before, before});
  EXPECT_EQ(named.exit_code, 0);
  EXPECT_NE(named.out.find("\nrecord: nodes: only in base node-c\n"), std::string::npos);
  EXPECT_NE(
      tool({"compare", "wider.txt", after}).out.find("\nnote: only the new run has a record ("),
      std::string::npos);
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
  const std::string text =
      tool({"compare", "--json", "--rank-map", "job.map", "--rank-map", "job.map", before, after})
          .out;
  EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(2) + "\n", text);
  const json document = json::parse(text);
  EXPECT_EQ(document["slowed_nodes"], json::array({"node-c"}));
  const json& nodes = document["tests"]["stream_handling"]["nodes"];
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes[0]["verdict"], "not significant");
  EXPECT_EQ(nodes[2]["verdict"], "worse");
  EXPECT_NEAR(nodes[2]["mean_ratio"].get<double>(), 1.0 / 3, 1e-5);  // six digits a rate

  // Figures the job log disowns are no evidence: node-b's, at a hundredth
  // in every test, leave it unjudged and the run no worse.
  samples::SampleRun broken = base;
  std::string log = "quenda-lite: 9 processes\n" + std::string(samples::kNineRankMap);
  for (const TestInfo& info : kTests) {
    for (const int rank : {3, 4}) {
      broken.tests[static_cast<int>(info.id)].workers[rank - 1].rate /= 100;
      log += "quenda-lite: rank " + std::to_string(rank) + " on node-b: " + info.name +
             ": f: EIO; the figures of this test are not measurements\n";
    }
  }
  testing::write_file(folder_.path() / "job.log", log);
  const testing::ProcessResult disowned =
      tool({"compare", "--json", "--rank-map", "job.map", "--rank-map", "job.log", before,
            write("broken.txt", broken)});
  EXPECT_EQ(disowned.exit_code, 0) << disowned.out;
  EXPECT_EQ(json::parse(disowned.out)["slowed_nodes"], json::array());
}

TEST_F(History, TrendFlagsANewestRunBelowItsHistoryWhereAsked) {
  // The newest of six nights writes blocks at half speed.
  for (int night = 1; night <= 6; ++night) {
    samples::SampleRun run = samples::sample_run(5);
    if (night == 6) {
      for (samples::SampleTiming& worker : run.tests[5].workers) worker.rate /= 2;
    }
    nightly(night, run);
  }
  const testing::ProcessResult plain = tool({"trend", "."});
  EXPECT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_NE(plain.out.find("\n  block_write: 51.5% of its history, adjusted p 0.0002: departs\n"),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(
      samples::line_numbers(plain.out, "  block_read: 103% of its history, adjusted p 1").size(),
      1u)
      << plain.out;
  const std::string chart = testing::read_file(folder_.path() / "trend.svg");
  EXPECT_NE(chart.find("class=\"departs\" data-run=\"5\""), std::string::npos);
  EXPECT_EQ(chart.find("class=\"departs\""), chart.rfind("class=\"departs\""));
  EXPECT_EQ(tool({"trend", "--fail-on-flag", "."}).exit_code, 1);
}

TEST_F(History, TrendKeepsClustersApartInTheirOwnTimeOrderAndMarksWhatChanged) {
  // Two clusters of six nights each, recorded, "big" twice as fast and with
  // a third worker on its fourth night; on "tiny"'s newest night its kernel
  // changed. Mixed into one series, tiny's newest would fall to half of its
  // history. Tiny's runs and records lie in a folder of their own, read after big's.
  fs::create_directory(folder_.path() / "tiny");
  for (const auto& [cluster, factor] : {std::pair{"big", 2.0}, std::pair{"tiny", 1.0}}) {
    for (int night = 1; night <= 6; ++night) {
      samples::SampleRun run = samples::sample_run(night == 4 && factor == 2.0 ? 4 : 3);
      for (samples::SampleTest& test : run.tests) {
        for (samples::SampleTiming& worker : test.workers) worker.rate *= factor;
      }
      const std::string name = nightly(night, run, std::string("head-") + cluster);
      const fs::path place = folder_.path() / (factor == 1.0 ? "tiny" : ".");
      fs::rename(folder_.path() / name, place / name);
      const std::string id = cluster + std::to_string(night);
      nlohmann::json record = samples::sample_record(id, name);
      record["cluster"] = cluster;
      record["start_utc"] = "2026-03-0" + std::to_string(night) + "T04:06:00Z";
      for (nlohmann::json& node : record["nodes"]) {
        if (night == 6 && factor == 1.0) node["kernel"] = "6.1.0-29-amd64";
      }
      testing::write_file(place / ("quenda-lite-" + id + ".json"), record.dump());
    }
  }
  // Without records, Europe/Berlin on 25 October 2026: 02:30 local twice,
  // an hour apart; the later run's name says 02:30:10, the earlier's 02:30:40.
  const auto written_at = [&](const char* time, std::chrono::seconds utc) {
    const std::string name = write(
        samples::replace_first(samples::sample_file_name("node-z"), "2026.03.04 time 05.06.07",
                               std::string("2026.10.25 time ") + time),
        samples::sample_run(3));
    const std::chrono::sys_days day = std::chrono::year(2026) / 10 / 25;
    fs::last_write_time(folder_.path() / name, std::chrono::file_clock::from_sys(day + utc));
    return name;
  };
  written_at("02.30.40", std::chrono::seconds(31 * 60 + 30));                       // 00:31:30 UTC
  const std::string again = written_at("02.30.10", std::chrono::seconds(91 * 60));  // 01:31
  // A run named twice, by another path and through a link, is charted once.
  fs::create_symlink(folder_.path() / again,
                     folder_.path() / samples::replace_first(again, "02.30.10", "02.30.11"));

  const testing::ProcessResult trend = tool({"trend", "--fail-on-flag", ".", "tiny", "./" + again});
  EXPECT_EQ(trend.exit_code, 0) << trend.out << trend.err;
  for (const char* line :
       {"14 runs of 3 clusters -> ./trend.csv, .svg",
        "order: 12 by their run record's UTC start; 2 by the local time in their file's name, 2 "
        "of them by their files' modification times beside a name less than an hour apart",
        "cluster big: 6 runs, 2026-03-01 05:06:07 to 2026-03-06 05:06:07",
        "changed at 2026-03-04 05:06:07: workers 2->3",
        "changed at 2026-03-05 05:06:07: workers 3->2",
        "changed at 2026-03-06 05:06:07: kernel 6.1.0-28-amd64->6.1.0-29-amd64"}) {
    EXPECT_EQ(samples::line_numbers(trend.out, line).size(), 1u) << line << "\n" << trend.out;
  }
  EXPECT_EQ(trend.out.find("departs"), std::string::npos) << trend.out;
  const auto rows = samples::csv_rows(testing::read_file(folder_.path() / "trend.csv"));
  ASSERT_EQ(rows.size(), 1 + 14 * kTests.size());
  std::vector<std::string> runs;
  for (std::size_t row = 1; row < rows.size(); row += kTests.size()) {
    runs.push_back(rows[row][10] + " " + rows[row][1] + " " + rows[row][12] + " " + rows[row][13]);
  }
  EXPECT_EQ(runs[0], " 02:30:40 name+mtime ");
  EXPECT_EQ(runs[1], " 02:30:10 name+mtime ");
  EXPECT_EQ(runs[2], "big 05:06:07 record ");
  EXPECT_EQ(runs[13], "tiny 05:06:07 record kernel 6.1.0-28-amd64->6.1.0-29-amd64");
  const fs::path chart = folder_.path() / "trend.svg";
  EXPECT_EQ(samples::xpath_count(chart, "//*[@class='series']"), 3);
  EXPECT_EQ(samples::xpath_count(chart, "//*[@class='change']"), 3 * 6);
  EXPECT_EQ(samples::label_problems(chart), "");
}

TEST_F(History, TrendFlagsANodeBelowItsOwnPastNotOneWithANoisyWorker) {
  // Three nodes of three workers; in the newest of six nights node-c runs
  // at a third and one worker of node-a at a fifth.
  testing::write_file(folder_.path() / "quenda-lite-1.map",
                      "rank 0 on node-a\nrank 1 on node-a\nrank 2 on node-a\nrank 3 on node-a\n"
                      "rank 4 on node-b\nrank 5 on node-b\nrank 6 on node-b\nrank 7 on node-c\n"
                      "rank 8 on node-c\nrank 9 on node-c\n");
  for (int night = 1; night <= 6; ++night) {
    samples::SampleRun run = samples::sample_run(10);
    for (samples::SampleTest& test : run.tests) {
      if (night < 6) continue;
      test.workers[0].rate /= 5;
      for (const int rank : {7, 8, 9}) test.workers[rank - 1].rate /= 3;
    }
    nightly(night, run);
  }
  const testing::ProcessResult trend = tool({"trend", "--rank-map", ".", "."});
  EXPECT_EQ(trend.exit_code, 0) << trend.err;
  EXPECT_EQ(samples::nth_line_starting(trend.out, "by node (6 of 6 runs with a rank map): "), 10)
      << trend.out;
  EXPECT_NE(samples::nth_line_starting(trend.out, "  node-c: block_write at 34.3% of its history"),
            0)
      << trend.out;
  EXPECT_EQ(samples::nth_line_starting(trend.out, "  node-c: ", 7), 0) << trend.out;
  EXPECT_EQ(samples::nth_line_starting(trend.out, "  node-a: "), 0) << trend.out;
  // The history per node: a row per run, node and test, newest last.
  const auto rows = samples::csv_rows(testing::read_file(folder_.path() / "trend-nodes.csv"));
  ASSERT_EQ(rows.size(), 1 + 6 * 3 * kTests.size());
  const auto newest_over_night_5 = [&](int node, int test) {
    const auto median = [&](int run) {
      return std::stod(rows[1 + (run * 3 + node) * 6 + test][6]);
    };
    return median(5) / median(4) * 1.05 / 1.06;
  };
  EXPECT_NEAR(newest_over_night_5(0, 1), 1.0, 1e-5);
  EXPECT_NEAR(newest_over_night_5(2, 1), 1.0 / 3, 1e-5);
  EXPECT_EQ(tool({"trend", "--fail-on-flag", "--rank-map", "quenda-lite-1.map", "."}).exit_code, 1);
}

}  // namespace
}  // namespace quenda::results
