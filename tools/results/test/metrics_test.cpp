// The metrics command as a site runs it: its file checked by promtool, then
// served by a real node_exporter and scraped by a real Prometheus.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "sample_report.h"
#include "support/files.h"
#include "support/process.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using samples::printed;

constexpr double kMb = 1024.0 * 1024.0;
constexpr int kWrite = static_cast<int>(TestId::kBytewiseWrite);

// A run of nine processes on four nodes (node-c named with a quote and a
// backslash) whose node-d writes byte by byte at a tenth of the others'
// rate, and the previous run, whose byte-wise writes were twice as fast.
class Metrics : public ::testing::Test {
 protected:
  void SetUp() override {
    samples::SampleRun previous = samples::sample_run(9);
    for (auto& worker : previous.tests[kWrite].workers) worker.rate *= 2;
    run_ = samples::sample_run(9);
    for (int rank : {7, 8}) run_.tests[kWrite].workers[rank - 1].rate /= 10;
    const fs::path results = folder_.path() / samples::sample_file_name("node-a");
    testing::write_file(results, samples::results_text(run_));
    testing::write_file(folder_.path() / "previous.txt", samples::results_text(previous));
    testing::write_file(folder_.path() / "job.map",
                        std::regex_replace(samples::kNineRankMap, std::regex("node-c"), "c\"\\1"));
    const auto made = testing::run_process(
        {QUENDA_RESULTS_TOOL, "metrics", "-o", "textfile", "--rank-map", "job.map", "--by-rank",
         "--previous", "previous.txt", results.string()},
        folder_.path(), {.environment = {"TZ=UTC"}});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    ASSERT_EQ(testing::file_names(folder_.path() / "textfile"),
              std::vector<std::string>{"quenda-lite.prom"});
  }

  double node_d_write() const {
    const auto& workers = run_.tests[kWrite].workers;
    return (printed(samples::in_megabytes(workers[6].rate)) +
            printed(samples::in_megabytes(workers[7].rate))) /
           2 * kMb;
  }

  testing::TemporaryFolder folder_;
  samples::SampleRun run_;
};

TEST_F(Metrics, PromtoolAcceptsGaugesInBaseUnitsWithEscapedLabels) {
  const fs::path file = folder_.path() / "textfile/quenda-lite.prom";
  const auto check = testing::run_shell("promtool check metrics < " + file.string(), ".");
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;

  std::map<std::string, double> samples;
  for (const std::string& line : testing::split_lines(testing::read_file(file))) {
    if (line[0] != '#')
      samples[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ')));
  }
  const auto block_read = samples::expected_summary(run_, TestId::kBlockRead);
  const std::map<std::string, double> expected = {
      {"quenda_lite_run_timestamp_seconds", 1772600767},  // 2026-03-04 05:06:07 UTC
      {"quenda_lite_workers", 8},
      {R"(quenda_lite_single_files_per_second{test="stream_handling"})",
       printed(12643.4567 * 1.125)},
      {R"(quenda_lite_total_bytes_per_second{test="block_read"})",
       printed(samples::in_megabytes(block_read.total)) * kMb},
      {R"(quenda_lite_improvement_ratio{test="block_read"})", printed(block_read.improvement)},
      {R"(quenda_lite_workers_differ{test="block_read"})", 1},
      {R"(quenda_lite_worse_than_previous{test="bytewise_write"})", 1},
      {R"(quenda_lite_worse_than_previous{test="block_read"})", 0},
      {R"(quenda_lite_node_median_bytes_per_second{test="bytewise_write",node="node-d"})",
       node_d_write()},
      {R"(quenda_lite_node_slow{test="bytewise_write",node="node-d"})", 1},
      {R"(quenda_lite_node_slow{test="bytewise_write",node="c\"\\1"})", 0},
      {R"(quenda_lite_worker_seconds{test="stream_handling",rank="1",node="node-a"})",
       printed(0.000123456 + 0.0101)},
  };
  for (const auto& [series, value] : expected) {
    ASSERT_TRUE(samples.contains(series)) << series;
    EXPECT_DOUBLE_EQ(samples[series], value) << series;
  }

  // --alpha reaches both judgements: at a level no two workers can meet,
  // neither the slow node nor the slower test is called.
  const auto strict = testing::run_process(
      {QUENDA_RESULTS_TOOL, "metrics", "-o", "strict", "--rank-map", "job.map", "--alpha",
       "0.000001", "--previous", "previous.txt", samples::sample_file_name("node-a")},
      folder_.path(), {.environment = {"TZ=UTC"}});
  ASSERT_EQ(strict.exit_code, 0) << strict.err;
  const std::string text = testing::read_file(folder_.path() / "strict/quenda-lite.prom");
  EXPECT_NE(text.find(R"(quenda_lite_node_slow{test="bytewise_write",node="node-d"} 0)"),
            std::string::npos);
  EXPECT_NE(text.find(R"(quenda_lite_worse_than_previous{test="bytewise_write"} 0)"),
            std::string::npos);
}

// A free TCP port on the loopback address.
int free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(s, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

TEST_F(Metrics, PrometheusAnswersWithTheSlowNodesRateThroughTheExporter) {
  const auto scraped = testing::run_process(
      {QUENDA_PROMETHEUS_SCRAPE, (folder_.path() / "textfile").string(), folder_.path().string(),
       std::to_string(free_port()), std::to_string(free_port()),
       R"(quenda_lite_node_median_bytes_per_second{test="bytewise_write",node="node-d"})",
       R"(quenda_lite_node_slow{test="bytewise_write"} == 1)"},
      folder_.path(), {.time_limit_seconds = 90});
  ASSERT_EQ(scraped.exit_code, 0) << scraped.err;
  const testing::Lines answers = testing::split_lines(scraped.out);
  ASSERT_EQ(answers.size(), 2u) << scraped.out;
  std::smatch value;
  ASSERT_TRUE(std::regex_search(answers[0], value, std::regex(R"(=> (\S+) @)"))) << answers[0];
  EXPECT_NEAR(std::stod(value[1]), node_d_write(), 1e-9 * node_d_write());
  EXPECT_TRUE(std::regex_search(answers[1], std::regex(R"(node="node-d".* => 1 @)"))) << answers[1];
}

}  // namespace
}  // namespace quenda::results
