// The tool as a user runs it: the real executable on files in a folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "chart_check.h"
#include "sample_report.h"
#include "support/files.h"
#include "support/process.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using testing::file_names;

std::string sample_text(int world_size = 3) {
  return samples::results_text(samples::sample_run(world_size));
}

// `others` and the three outputs of each of the `converted` files, sorted.
std::vector<std::string> with_outputs(std::vector<std::string> others,
                                      const std::vector<std::string>& converted) {
  for (const std::string& name : converted) {
    const std::string stem = fs::path(name).stem().string();
    others.insert(others.end(), {stem + ".csv", stem + ".json", stem + ".svg"});
  }
  std::sort(others.begin(), others.end());
  return others;
}

class CommandLine : public ::testing::Test {
 protected:
  // Writes a results file under the collector's name for `processor`.
  fs::path write_results(const std::string& text, const std::string& processor = "node-a") {
    const fs::path path = folder_.path() / samples::sample_file_name(processor);
    testing::write_file(path, text);
    return path;
  }

  testing::ProcessResult tool(std::vector<std::string> args,
                              const testing::ProcessOptions& options = {}) {
    args.insert(args.begin(), QUENDA_RESULTS_TOOL);
    return testing::run_process(args, folder_.path(), options);
  }

  testing::TemporaryFolder folder_;
};

// With an output folder, there and only there. A results file under any
// other name is converted as well, without the metadata its name would give.
TEST_F(CommandLine, WritesJsonCsvAndSvgNextToEachResultsFileOrIntoTheOutputFolder) {
  const fs::path path = write_results(sample_text());
  const std::string stem = path.stem().string();
  ASSERT_EQ(tool({"--output-dir", "out/charts", path.string()}).exit_code, 0);
  EXPECT_EQ(file_names(folder_.path() / "out/charts"), with_outputs({}, {path.filename()}));
  EXPECT_EQ(file_names(folder_.path()),
            (std::vector<std::string>{"out", path.filename().string()}));

  testing::write_file(folder_.path() / "monday.txt", sample_text());
  const testing::ProcessResult result = tool({path.string(), "monday.txt"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, path.string() + " -> " + (folder_.path() / stem).string() +
                            ".json, .csv, .svg\nmonday.txt -> monday.json, .csv, .svg\n");
  EXPECT_EQ(file_names(folder_.path()),
            with_outputs({path.filename(), "monday.txt", "out"}, {path.filename(), "monday.txt"}));
  const auto json = nlohmann::json::parse(testing::read_file(folder_.path() / (stem + ".json")));
  EXPECT_EQ(json["threads"], 3);
  EXPECT_EQ(json["partial"], false);
  const auto renamed = nlohmann::json::parse(testing::read_file(folder_.path() / "monday.json"));
  EXPECT_TRUE(renamed["processor_name"].is_null());
  EXPECT_EQ(renamed["source_file"], "monday.txt");
}

TEST_F(CommandLine, RefusesAFileCutShortUnlessAskedForAPartialRun) {
  const std::string text = sample_text();
  // Stopped in the middle of the cluster byte-wise section, after a worker's
  // first line.
  const int cut = samples::nth_line_starting(text, "Thread:2@node-a The system spent: ");
  const fs::path path = write_results(samples::first_lines(text, cut));
  const std::string reason =
      "the file ends after this line, in the cluster byte-wise tests; expected "
      "'Thread:2@... It was: <number> Millions Accesses/sec.'";
  // Refused with one error line, and nothing written.
  const testing::ProcessResult refused = tool({path.string()});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, path.string() + ":" + std::to_string(cut) + ": error: " + reason + "\n");
  EXPECT_EQ(file_names(folder_.path()).size(), 1u);

  const testing::ProcessResult result = tool({"--partial", path.string()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, path.string() + ": note: converted a partial run (line " +
                            std::to_string(cut) + ": " + reason + ")\n");
  // All three outputs, which say so.
  const std::string stem = path.stem().string();
  const auto json = nlohmann::json::parse(testing::read_file(folder_.path() / (stem + ".json")));
  EXPECT_EQ(json["partial"], true);
  EXPECT_EQ(file_names(folder_.path()).size(), 4u);
}

TEST_F(CommandLine, ConvertsEveryResultsFileInAFolderAndOnlyThose) {
  const fs::path data = folder_.path() / "data";
  fs::create_directory(data);
  const std::string first = samples::sample_file_name("node-a");
  const std::string second = samples::sample_file_name("node-b");
  const std::string broken = samples::sample_file_name("node-c");
  testing::write_file(data / first, sample_text(2));
  testing::write_file(data / second, sample_text(4));
  testing::write_file(data / broken, samples::first_lines(sample_text(3), 40));
  testing::write_file(data / "notes.txt", "not a results file\n");

  const testing::ProcessResult result = tool({"data"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind("data/" + broken + ":40: error: the file ends after this line", 0), 0u)
      << result.err;
  EXPECT_EQ(file_names(data), with_outputs({first, second, broken, "notes.txt"}, {first, second}));
  const auto json =
      nlohmann::json::parse(testing::read_file((data / second).replace_extension(".json")));
  EXPECT_EQ(json["processor_name"], "node-b");
  EXPECT_EQ(json["worker_count"], 3);
}

// A folder in an output's place: none of the three outputs is written, and
// an earlier conversion's stay as they were.
TEST_F(CommandLine, WritesAllThreeOutputsOrNoneKeepingAnEarlierConversion) {
  const fs::path path = write_results(sample_text(3));
  const std::string stem = path.stem().string();
  const fs::path json_path = folder_.path() / (stem + ".json");
  const fs::path csv_path = folder_.path() / (stem + ".csv");
  const fs::path svg_path = folder_.path() / (stem + ".svg");
  const std::string cannot_rename = path.string() + ": error: cannot rename a finished output to ";
  fs::create_directory(svg_path);  // the last rename
  testing::ProcessResult result = tool({path.string()});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind(cannot_rename, 0), 0u) << result.err;
  EXPECT_EQ(file_names(folder_.path()), (std::vector<std::string>{stem + ".svg", stem + ".txt"}));
  EXPECT_TRUE(fs::is_empty(svg_path));

  fs::remove(svg_path);
  ASSERT_EQ(tool({path.string()}).exit_code, 0);
  const std::string json = testing::read_file(json_path);
  const std::string svg = testing::read_file(svg_path);
  fs::remove(csv_path);
  fs::create_directory(csv_path);  // the second rename, after the JSON's
  testing::write_file(path, sample_text(4));
  result = tool({path.string()});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind(cannot_rename + csv_path.string() + ": ", 0), 0u) << result.err;
  EXPECT_EQ(file_names(folder_.path()), with_outputs({path.filename()}, {path.filename()}));
  EXPECT_EQ(testing::read_file(json_path), json);
  EXPECT_EQ(testing::read_file(svg_path), svg);
  EXPECT_TRUE(fs::is_empty(csv_path));
}

TEST_F(CommandLine, ExplainsEveryRefusalWithTheSystemsReason) {
  const fs::path locked = folder_.path() / "locked" / "run.txt";
  fs::create_directory(locked.parent_path());
  testing::write_file(locked, sample_text());
  fs::permissions(locked.parent_path(), fs::perms::none);
  const std::string too_long = std::string(300, 'n') + ".txt";
  const std::string tool_says = "quenda-lite-results: ";
  const std::string results = write_results(sample_text(3)).string();
  const auto map = [&](const std::string& name) {
    return std::vector<std::string>{"--rank-map", name, results};
  };
  const auto not_of = [&](const std::string& name, const std::string& reason) {
    return results + ": error: the rank map " + name + " is not of this run: " + reason + "\n";
  };
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"nine.map", samples::kNineRankMap},
           {"capped.map", "rank 0 on a\nrank 1 on a\nrank 2 on b\nrank 600 on b\n"},
           {"gap.map", "rank 0 on a\nrank 2 on b\n"},
           {"twice.map", "rank 0 on a\nrank 1 on a\nrank 1 on b\n"},
           {"nameless.map", "ranks 0 and 1 on a\n"},
           {"broken-record.json", "{\"record_version\": 1"},
           {"keyless-record.json", "{\"record_version\": 1}"},
           {"stopped.txt", sample_text().substr(0, 2000)},
           {"empty.txt", ""},
           {samples::sample_file_name("stopped"), sample_text().substr(0, 2000)},
           {"shared/data64-windows-1@a.tmp", ""},
           {"shared/data64-windows-2@b.tmp", ""},
           {"shared/data64-windows-2@b", ""},
           {"shared/data64-windows-cluster", ""},
           // An earlier run's, of more ranks and on other nodes.
           {"shared/data64-windows-2@old", "old"},
           {"shared/data64-windows-5@old.tmp", "old"}}) {
    fs::create_directories((folder_.path() / name).parent_path());
    testing::write_file(folder_.path() / name, text);
    if (text == "old") {
      fs::last_write_time(folder_.path() / name,
                          fs::last_write_time(folder_.path() / name) - std::chrono::hours(1));
    }
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // whole, or its start where it ends without a line end
    const char* out_path = "";
    bool unprivileged = false;
  };
  const std::string kAlphaLevel = "--alpha takes a chance above 0 and below 1, such as 0.05 or 5%";
  const std::string kShareOfThreshold =
      "--threshold takes a share from 0 to 100%, such as 10% or 0.1";
  const auto wrong = [&](const std::string& problem) {
    return tool_says + problem + "\ntry 'quenda-lite-results --help'\n";
  };
  const std::vector<Case> cases{
      {{}, 2, wrong("no results file or folder given")},
      {{"--fast", "x.txt"}, 2, wrong("unknown option --fast")},
      {{"x.txt", "--output-dir"}, 2, wrong("--output-dir needs a value, DIR")},
      {{"-o", "", "x.txt"}, 2, wrong("-o has an empty value")},
      {{"--output-dir=", "x.txt"}, 2, wrong("--output-dir has an empty value")},
      {{"-o", "a", "-o", "b", "x.txt"}, 2, wrong("-o is given twice")},
      {{"--partial=yes", "x.txt"}, 2, wrong("--partial takes no value")},
      {{"-o", "-", "x.txt"},
       2,
       wrong("-o - would send several files to standard output: name a folder")},
      {{"trend", "-o", "-", "x.txt"},
       2,
       wrong("-o - would send several files to standard output: name a folder")},
      {{"trend", "--output-dir=", "x.txt"}, 2, wrong("--output-dir has an empty value")},
      {{"--", "-o"}, 1, "-o: error: no such file or folder\n"},
      {{"missing.txt"}, 1, "missing.txt: error: no such file or folder\n"},
      {{"empty.txt"}, 1, "empty.txt:1: error: the file is empty; not a results file\n"},
      {{locked.string()},
       1,
       locked.string() + ": error: cannot open: Permission denied\n",
       "",
       true},
      {{too_long}, 1, too_long + ": error: cannot open: File name too long\n"},
      {{"run\x1b[2J\\.txt"}, 1, "run\\x1b[2J\\x5c.txt: error: no such file or folder\n"},
      {map("nine.map"), 1,
       not_of("nine.map", "the map is of 9 processes, the results file of 3 (Thread(s): 3)")},
      {map("capped.map"), 1,
       not_of("capped.map", "the map names rank 600, beyond the benchmark's cap of 512 processes")},
      {map("gap.map"), 1, not_of("gap.map", "rank 1 is missing from the map")},
      {map("twice.map"), 1, "twice.map: error: rank 1 is on a and on b\n"},
      {map("nameless.map"), 1, "nameless.map: error: no 'rank R on NODE' lines in it\n"},
      {{"compare", "--rank-map", "gap.map", results, results},
       2,
       wrong("--rank-map is given once for BASE and once for NEW, or not at all")},
      {{"compare", results}, 2, wrong("compare takes two results files, BASE NEW")},
      {{"compare", "--threshold", "-3", results, results}, 2, wrong(kShareOfThreshold)},
      {{"compare", "--threshold", "10", results, results}, 2, wrong(kShareOfThreshold)},
      {{"compare", results, "missing.txt"}, 2, "missing.txt: error: no such file\n"},
      {{"compare", "stopped.txt", results}, 2, "stopped.txt:"},
      {{"compare", "--rank-map", "nine.map", "--rank-map", "nine.map", results, results},
       2,
       "nine.map: error: not of " + results + ": the map is of 9 processes, the results file of 3"},
      {{"compare", "--record", "broken-record.json", results, results},
       2,
       wrong("--record is given once for BASE and once for NEW, or not at all")},
      {{"compare", "--record", "broken-record.json", "--record", "keyless-record.json", results,
        results},
       2,
       "broken-record.json: error: not JSON: parse error at line 1, column 21: syntax error "
       "while parsing object - unexpected end of input; expected '}'\n"
       "keyless-record.json: error: no \"job_id\"\n"},
      {{"trend"}, 2, wrong("no results file or folder given")},
      {{"trend", "-o"}, 2, wrong("-o needs a value, DIR")},
      {{"trend", results, "missing.txt"},
       1,
       "missing.txt: error: cannot open: No such file or directory; skipped\n"},
      {{"trend", results, samples::sample_file_name("stopped")},
       1,
       samples::sample_file_name("stopped") + ":"},
      {map("shared"), 0, ""},
      {{"--outlier-fraction", "2", "--rank-map", "shared", results},
       2,
       wrong("--outlier-fraction takes a share above 0 and at most 100%, such as 50% or 0.5")},
      {{"--outlier-fraction", "50%", results}, 2, wrong("--outlier-fraction needs --rank-map")},
      {{"--alpha", "0.05", results}, 2, wrong("--alpha needs --rank-map")},
      {{"--fail-on-flag", results}, 2, wrong("--fail-on-flag needs --rank-map")},
      {{"--alpha", "1", "--rank-map", "shared", results}, 2, wrong(kAlphaLevel)},
      {{"--alpha=0", "--rank-map", "shared", results}, 2, wrong(kAlphaLevel)},
      {{"--alpha", "5%", "--fail-on-flag", "--rank-map", "shared", results}, 0, ""},
      {{"compare", "--alpha", "-0.1", results, results}, 2, wrong(kAlphaLevel)},
      {{"compare", "--alpha", "x", results, results}, 2, wrong(kAlphaLevel)},
      {{"trend", "--alpha", "100%", results}, 2, wrong(kAlphaLevel)},
      {{"trend", "--fail-on-flag=yes", results}, 2, wrong("--fail-on-flag takes no value")},
      {{"metrics", results, results}, 2, wrong("metrics takes one results file")},
      {{"metrics", "--threshold=5%", results}, 2, wrong("--threshold needs --previous")},
      {{"metrics", "--rank-map", "gap.map", results},
       1,
       not_of("gap.map", "rank 1 is missing from the map")},
      {{results},
       1,
       tool_says + "error: cannot write to standard output: No space left on device\n",
       "/dev/full"},
      {{"--help"},
       1,
       tool_says + "error: cannot write to standard output: No space left on device\n",
       "/dev/full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const testing::ProcessResult result =
        tool(c.args, {.out_path = c.out_path, .unprivileged = c.unprivileged});
    EXPECT_EQ(result.exit_code, c.status);
    EXPECT_EQ(result.err.substr(0, c.err.ends_with('\n') ? std::string::npos : c.err.size()),
              c.err);
  }
  fs::permissions(locked.parent_path(), fs::perms::owner_all);
  // A shared folder's worker files name their nodes in either form.
  ASSERT_EQ(tool({"--rank-map", "shared", results}).exit_code, 0);
  const auto shared = nlohmann::json::parse(
      testing::read_file(fs::path(results).replace_extension(".json")))["tests"]["block_read"];
  EXPECT_EQ(shared["workers"][0]["node"], "a");
  EXPECT_EQ(shared["workers"][1]["node"], "b");
  // The whole tool's help holds each command's own, and every command
  // names its version.
  const std::string help = tool({"--help"}).out;
  EXPECT_EQ(help.rfind("usage: quenda-lite-results [--partial]", 0), 0u);
  for (const char* command : {"compare", "trend"}) {
    const std::string own = tool({command, "--help"}).out;
    const std::size_t start = own.find("\n\n");
    const std::string section = own.substr(start, own.find("\nEvery command") - start);
    EXPECT_NE(help.find(section), std::string::npos) << section;
    EXPECT_EQ(tool({command, "--version"}).out, tool({"--version"}).out);
  }
}

TEST_F(CommandLine, ConvertsLongNamesOnEveryRunUpToTheFileSystemsLimit) {
  // A 239-byte name was converted once and then no more: the earlier
  // outputs' second names were longer than the outputs'. At 255 bytes the
  // .json would take 256.
  const std::vector<std::pair<std::size_t, std::string>> cases{
      {239, ""},
      {254, ""},
      {255, ".json would be 256 bytes long, more than the 255 the file system allows\n"}};
  for (const auto& [length, err_end] : cases) {
    SCOPED_TRACE(length);
    // The collector's name takes 81 bytes around the processor's.
    const fs::path path = write_results(sample_text(), std::string(length - 81, 'p'));
    for (int run = 1; run <= 10; ++run) {
      const testing::ProcessResult result = tool({path.string()});
      EXPECT_EQ(result.exit_code, err_end.empty() ? 0 : 1);
      EXPECT_TRUE(result.err.ends_with(err_end)) << result.err;
      EXPECT_EQ(file_names(folder_.path()).size(), err_end.empty() ? 4u : 1u);
    }
    fs::remove_all(folder_.path());
    fs::create_directory(folder_.path());
  }
}

TEST_F(CommandLine, ReadsAHugeFileHoldingItOnce) {
  constexpr std::size_t kLargest = 64 * 1024 * 1024;  // the largest file it takes
  const std::string text = sample_text();
  const std::string title = samples::first_lines(text, 1);
  struct Case {
    std::string head;
    char filler;
    std::size_t size;     // of the whole file
    std::string err_end;  // empty where it is converted
  };
  const std::vector<Case> cases{
      {title, '\n', 60'000'000,
       ":3: error: expected 'Thread(s): <count of at least 1>', found ''\n"},
      {text, '\n', kLargest, ""},
      {title, 'x', 60'000'000,
       ":2: error: the line is longer than 65536 bytes, which no line of a results file is\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err_end);
    // Written and let go before the tool starts, which would otherwise count
    // this process's memory as its own.
    const fs::path path =
        write_results(c.head + std::string(c.size - c.head.size() - 1, c.filler) + "\n");
    const testing::ProcessResult result = tool({path.string()});
    EXPECT_EQ(result.exit_code, c.err_end.empty() ? 0 : 1);
    EXPECT_TRUE(result.err.ends_with(c.err_end)) << result.err;
    EXPECT_LT(result.peak_kilobytes, static_cast<long>(c.size / 1024) + 32 * 1024);  // held once
  }
}

// Eight workers on four nodes, two each, in every test at the same rates
// (files/sec or MB/sec): node-c's workers at about 30% of the others'.
constexpr double kNodeRates[]{1000, 1002, 998, 1004, 300, 310, 1000, 1000};

std::string nodes_sample() {
  samples::SampleRun run = samples::sample_run(9);
  for (int t = 0; t < kTestCount; ++t) {
    const double scale = measure_of(static_cast<TestId>(t)) == Measure::kFiles ? 1.0 : 1048576.0;
    for (std::size_t i = 0; i < 8; ++i) run.tests[t].workers[i].rate = kNodeRates[i] * scale;
  }
  return samples::results_text(run);
}

TEST_F(CommandLine, NamesNodesAndFlagsTheSlowOneFromAJobLog) {
  const fs::path path = write_results(nodes_sample());
  const auto failed = [](int rank, const std::string& node, const std::string& test) {
    return "quenda-lite: rank " + std::to_string(rank) + " on " + node + ": " + test +
           ": f: EIO; the figures of this test are not measurements\n";
  };
  testing::write_file(folder_.path() / "job.log", "quenda-lite: 9 processes\n" +
                                                      std::string(samples::kNineRankMap) +
                                                      failed(5, "node-c", "stream handling") +
                                                      failed(1, "node-a", "descriptor handling") +
                                                      failed(2, "node-a", "descriptor handling"));
  const testing::ProcessResult result = tool({"--rank-map", "job.log", path.string()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::string stem = path.stem().string();
  EXPECT_EQ(result.out,
            path.string() + " -> " + (folder_.path() / stem).string() + ".json, .csv, .svg\n" +
                "by node: flagged where a node's median rate is at most 80% of the other "
                "nodes' typical rate and significantly below it (family level 0.05 over every "
                "test and node of the run)\n"
                "  stream_handling: node-c at 31% (median 310 files/sec, adjusted p 4.2e-07)\n"
                "  descriptor_handling: node-c at 30.5% (median 305 files/sec, adjusted p 3e-05)\n"
                "  bytewise_write: node-c at 30.5% (median 305 MB/sec, adjusted p 4.8e-07)\n"
                "  bytewise_read: node-c at 30.5% (median 305 MB/sec, adjusted p 4.8e-07)\n"
                "  block_read: node-c at 30.5% (median 305 MB/sec, adjusted p 4.8e-07)\n"
                "  block_write: node-c at 30.5% (median 305 MB/sec, adjusted p 4.8e-07)\n");
  const std::string text = testing::read_file(folder_.path() / (stem + ".json"));
  EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(2) + "\n", text);  // the library's layout
  const auto json = nlohmann::json::parse(text);
  const auto& streams = json["tests"]["stream_handling"];
  auto figures = streams["nodes"];
  for (auto& node : figures) {
    EXPECT_LT(
        std::fabs(node["share_of_typical"].get<double>() - node["median"].get<double>() / 1001),
        0.001)
        << node;
    EXPECT_EQ(node["p_adjusted"] < 0.05, node["node"] == "node-c") << node;
    node.erase("share_of_typical");
    node.erase("p_adjusted");
  }
  EXPECT_EQ(figures, nlohmann::json::parse(R"([
    {"node": "node-a", "workers": [1, 2], "median": 1001, "minimum": 1000, "sum": 2002},
    {"node": "node-b", "workers": [3, 4], "median": 1001, "minimum": 998, "sum": 2002},
    {"node": "node-c", "workers": [5, 6], "median": 310, "minimum": 310, "sum": 310},
    {"node": "node-d", "workers": [7, 8], "median": 1000, "minimum": 1000, "sum": 2000}])"));
  // A flag ends with status 1 where asked to.
  EXPECT_EQ(tool({"--rank-map", "job.log", "--fail-on-flag", path.string()}).exit_code, 1);
  EXPECT_EQ(streams["outlier_nodes"], nlohmann::json::array({"node-c"}));
  EXPECT_EQ(streams["workers"][4]["measurement"], false);
  EXPECT_TRUE(json["tests"]["descriptor_handling"]["nodes"][0]["median"].is_null());
  EXPECT_EQ(json["tests"]["block_write"]["workers"][4]["measurement"], true);
  EXPECT_NE(testing::read_file(folder_.path() / (stem + ".csv")).find(",false,node-c,false\n"),
            std::string::npos);

  // A map file alone has no failure lines; a lower fraction flags nothing.
  testing::write_file(folder_.path() / "job.map", samples::kNineRankMap);
  ASSERT_EQ(
      tool({"--rank-map", "job.map", "--outlier-fraction", "0.25", "--fail-on-flag", path.string()})
          .exit_code,
      0);
  const auto plain = nlohmann::json::parse(testing::read_file(folder_.path() / (stem + ".json")));
  EXPECT_EQ(plain["tests"]["stream_handling"]["nodes"][2]["sum"], 610);
  EXPECT_TRUE(plain["tests"]["stream_handling"]["outlier_nodes"].empty());
}

TEST_F(CommandLine, ChartsAClusterOf511WorkersOn64NodesLegibly) {
  samples::SampleRun run = samples::sample_run(512);
  std::string map = "rank 0 on node-0\n";
  for (int rank = 1; rank < 512; ++rank) {
    const int node = (rank - 1) / 8;
    map += "rank " + std::to_string(rank) + " on node-" + std::to_string(node) + "\n";
    for (samples::SampleTest& test : run.tests) {  // node-17 at a fifth of the others
      test.workers[rank - 1].rate = test.single.rate * (node == 17 ? 0.2 : 1);
    }
  }
  testing::write_file(folder_.path() / "cluster.map", map);
  const fs::path path = write_results(samples::results_text(run));
  ASSERT_EQ(tool({"--rank-map", "cluster.map", path.string()}).exit_code, 0);
  const fs::path svg = folder_.path() / (path.stem().string() + ".svg");
  EXPECT_EQ(samples::xml_problems({svg}), "");
  EXPECT_EQ(samples::xpath_count(svg, "//*[@class='node-label']"), 6 * 64);
  EXPECT_EQ(samples::xpath_count(svg, "//*[@class='outlier-node'][@data-node='node-17']"), 6);
  EXPECT_EQ(samples::xpath_count(svg, "//*[@class='bar'][@data-flagged='true']"), 6 * 8);
  EXPECT_EQ(samples::label_problems(svg), "");
  EXPECT_EQ(samples::render_problems(svg), "");
  // The check sees a label drawn over the title.
  const std::string chart = testing::read_file(svg);
  testing::write_file(
      svg, chart.substr(0, chart.rfind("</svg>")) + "<text x=\"99\" y=\"40\">a</text></svg>");
  EXPECT_NE(samples::label_problems(svg).find("' and 'a' overlap"), std::string::npos);
}

}  // namespace
}  // namespace quenda::results
