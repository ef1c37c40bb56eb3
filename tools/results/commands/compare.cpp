#include "commands/compare.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <variant>

#include "analyse/judgement.h"
#include "analyse/node_figures.h"
#include "analyse/rates.h"
#include "analyse/record_differences.h"
#include "read/rank_map.h"
#include "read/results_file.h"
#include "read/run_record.h"
#include "write/json_output.h"
#include "write/replace_file.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

enum class Change {
  kWorse,            // significant, and the mean fell beyond the threshold
  kBetter,           // significant, and the mean rose beyond the threshold
  kWithinThreshold,  // significant, but the means are within the threshold
  kNotSignificant,   // the difference is inside the workers' spread
  kUntested,         // fewer than two workers, or a rate that is not finite
};

const char* change_text(Change change) {
  constexpr const char* kTexts[]{"worse", "better", "within threshold", "not significant",
                                 "untested"};
  return kTexts[static_cast<int>(change)];
}

// The judgement on one group of workers' rates: all the workers of a test,
// or (for a comparison per node) the measurements of one node's.
struct GroupJudgement {
  // A test: the geometric mean of its workers' rates, new over base. A
  // node: the median of its workers' rates, new over base.
  Figure ratio;
  Figure relative;                 // a node's change over the typical node's change
  std::optional<WelchTest> welch;  // a test's, on log rates
  Figure p_value;                  // as the test gives it
  std::size_t place = 0;           // in the family, where there is a p-value
  Figure p_adjusted;               // for the whole family
  Change change = Change::kUntested;
};

// A figure of both runs and new/base, where both are finite and the base
// above zero.
struct FigurePair {
  Figure base;
  Figure next;
  Figure ratio;
};

// One node's workers in both runs, where both runs' maps name the node.
struct NodeComparison {
  std::string node;
  std::size_t base_workers = 0;
  std::size_t new_workers = 0;
  Figure mean_ratio;  // of the workers' mean rates, new over base, as scripts have read it
  GroupJudgement judgement;
};

struct TestComparison {
  TestId id = TestId::kStreamHandling;
  FigurePair single;
  FigurePair total;
  FigurePair mean;
  GroupJudgement judgement;
  std::vector<NodeComparison> nodes;  // in the base run's order; empty without maps

  // The three figures, under the names the table and the JSON give them.
  std::array<std::pair<const char*, const FigurePair*>, 3> pairs() const {
    return {{{"single", &single}, {"total", &total}, {"mean", &mean}}};
  }
};

struct RunComparison {
  double threshold_percent = 10.0;  // a drop of the mean rate beyond this counts
  double alpha = kDefaultAlpha;
  std::size_t family_size = 0;  // tests and nodes judged
  bool by_node = false;
  std::array<TestComparison, kTestCount> tests;

  // The nodes judged worse in some test, in the order first met.
  std::vector<std::string> slowed_nodes() const {
    std::vector<std::string> slowed;
    for (const TestComparison& test : tests) {
      for (const NodeComparison& node : test.nodes) {
        if (node.judgement.change == Change::kWorse &&
            std::find(slowed.begin(), slowed.end(), node.node) == slowed.end()) {
          slowed.push_back(node.node);
        }
      }
    }
    return slowed;
  }

  bool any_worse() const {
    return !slowed_nodes().empty() ||
           std::any_of(tests.begin(), tests.end(), [](const TestComparison& test) {
             return test.judgement.change == Change::kWorse;
           });
  }
};

FigurePair pair_of(const Figure& base, const Figure& next) {
  FigurePair pair{base, next, {}};
  if (base && next && std::isfinite(*base) && std::isfinite(*next) && *base > 0.0) {
    pair.ratio = *next / *base;
  }
  return pair;
}

std::string text_of(const Figure& value) { return value ? report_text(*value) : "-"; }

std::string p_text(const GroupJudgement& judgement) {
  return judgement.p_adjusted ? report_text(*judgement.p_adjusted, 2) : "-";
}

std::string run_line(const char* role, const RunResults& run) {
  return std::string(role) + printable(run.source_file) + " (" + std::to_string(run.threads) +
         " threads, " + std::to_string(run.worker_count()) + " workers)\n";
}

// The base and the new run's records, each where there is one.
using Records = std::array<std::optional<RunRecord>, 2>;

void put_run(JsonWriter& json, std::string_view key, const RunResults& run,
             const std::optional<RunRecord>& record) {
  json.open_object(key);
  json.text("source_file", valid_text(run.source_file));
  if (run.metadata) {
    json.text("processor_name", valid_text(run.metadata->processor_name));
    json.text("local_date", run.metadata->local_date);
    json.text("local_time", run.metadata->local_time);
  } else {
    for (const char* name : {"processor_name", "local_date", "local_time"}) json.null(name);
  }
  json.integer("threads", run.threads);
  json.integer("worker_count", run.worker_count());
  if (record) put_record(json, "record", *record);
  json.close();
}

// What the records say differently, a line each; that they agree; or that
// one run has none.
std::string record_lines(const Records& records) {
  const auto& [base, next] = records;
  if (!base && !next) return {};
  if (!base || !next) {
    return std::string("note: only the ") + (base ? "base" : "new") + " run has a record (" +
           printable((base ? base : next)->path.string()) + "); nothing to compare it with\n";
  }
  const std::vector<RecordDifference> differences = record_differences(*base, *next);
  if (differences.empty()) {
    return "records agree (base job " + printable(base->job_id) + ", new job " +
           printable(next->job_id) + ")\n";
  }
  std::string text;
  for (const RecordDifference& difference : differences) text += difference_line(difference) + "\n";
  return text;
}

// Columns padded to their widest cell, two blanks apart; every row has the
// header's columns.
std::string aligned(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(rows[0].size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
      text += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
    }
    text += row.back() + "\n";
  }
  return text;
}

// The log rates of a test's measurements, all of them or one node's.
std::vector<double> logs_of(const TestResults& test, const std::string* node = nullptr) {
  std::vector<double> rates;
  for (const WorkerFigures& worker : test.workers) {
    const Figure rate = headline_rate(worker.figures, measure_of(test.id));
    if (worker.measurement && rate && (!node || worker.node == *node)) rates.push_back(*rate);
  }
  return log_rates(rates);
}

std::size_t workers_on(const TestResults& test, const std::string& node) {
  return static_cast<std::size_t>(
      std::count_if(test.workers.begin(), test.workers.end(),
                    [&](const WorkerFigures& worker) { return worker.node == node; }));
}

// A node's change against the others' is noisier than a whole test's: it
// counts from the node effect size of a conversion on (20 %), or from the
// test threshold where that is larger.
double node_threshold_percent(double threshold_percent) {
  return std::max(threshold_percent, (1.0 - kDefaultOutlierFraction) * 100.0);
}

// The change a judgement calls, once its family's p-values are adjusted.
Change change_of(const GroupJudgement& judgement, const Figure& ratio, double alpha,
                 double threshold_percent) {
  if (!judgement.p_adjusted || !ratio) return Change::kUntested;
  const double margin = threshold_percent / 100.0;
  if (!(*judgement.p_adjusted <= alpha)) return Change::kNotSignificant;
  if (*ratio < 1.0 - margin) return Change::kWorse;
  if (*ratio > 1.0 + margin) return Change::kBetter;
  return Change::kWithinThreshold;
}

// With `by_node`, also judges each node both runs' maps name (their
// workers' `node`) by its change against the other nodes' changes.
RunComparison compare_runs(const RunResults& base, const RunResults& next, double threshold_percent,
                           double alpha, bool by_node) {
  RunComparison comparison;
  comparison.threshold_percent = threshold_percent;
  comparison.alpha = alpha;
  comparison.by_node = by_node;
  Family family;
  for (const TestInfo& info : kTests) {
    const TestId id = info.id;
    const TestResults& before = base.test(id);
    const TestResults& after = next.test(id);
    const Measure measure = measure_of(id);
    TestComparison& test = comparison.tests[static_cast<int>(id)];
    test.id = id;
    test.single =
        pair_of(headline_rate(before.single, measure), headline_rate(after.single, measure));
    test.total = pair_of(headline_rate(before.total, measure), headline_rate(after.total, measure));
    // Without workers the report's mean is 0 or missing; it compares nothing.
    test.mean = pair_of(before.workers.empty() ? Figure() : headline_rate(before.mean, measure),
                        after.workers.empty() ? Figure() : headline_rate(after.mean, measure));
    const std::vector<double> was = logs_of(before);
    const std::vector<double> is = logs_of(after);
    test.judgement.welch = welch_test(was, is);
    if (test.judgement.welch) {
      test.judgement.ratio = std::exp(mean_of(is) - mean_of(was));
      test.judgement.p_value = test.judgement.welch->p_value;
      test.judgement.place = family.add(test.judgement.welch->p_value);
    }
    if (!by_node) continue;
    std::vector<std::vector<double>> base_logs;
    std::vector<std::vector<double>> next_logs;
    for (const WorkerFigures& worker : before.workers) {
      const std::string& node = worker.node;
      const bool seen =
          std::any_of(test.nodes.begin(), test.nodes.end(),
                      [&](const NodeComparison& known) { return known.node == node; });
      if (seen || workers_on(after, node) == 0) continue;
      test.nodes.push_back(
          NodeComparison{node, workers_on(before, node), workers_on(after, node), {}, {}});
      base_logs.push_back(logs_of(before, &node));
      next_logs.push_back(logs_of(after, &node));
    }
    const std::vector<NodeScore> scores = score_nodes(change_evidence(base_logs, next_logs));
    for (std::size_t i = 0; i < scores.size(); ++i) {
      GroupJudgement& judgement = test.nodes[i].judgement;
      if (!base_logs[i].empty() && !next_logs[i].empty()) {
        judgement.ratio = std::exp(median_of(next_logs[i]) - median_of(base_logs[i]));
        const auto mean_rate = [](std::vector<double> logs) {
          for (double& value : logs) value = std::exp(value);
          return mean_of(logs);
        };
        test.nodes[i].mean_ratio = mean_rate(next_logs[i]) / mean_rate(base_logs[i]);
      }
      if (!scores[i].p_value) continue;
      judgement.relative = std::exp(*scores[i].deviation);
      judgement.p_value = scores[i].p_value;
      judgement.place = family.add(*scores[i].p_value);
    }
  }
  family.adjust();
  comparison.family_size = family.size();
  for (TestComparison& test : comparison.tests) {
    GroupJudgement& judgement = test.judgement;
    if (judgement.p_value) judgement.p_adjusted = family.adjusted(judgement.place);
    judgement.change = change_of(judgement, judgement.ratio, alpha, threshold_percent);
    for (NodeComparison& node : test.nodes) {
      GroupJudgement& own = node.judgement;
      if (own.p_value) own.p_adjusted = family.adjusted(own.place);
      // A node is judged against the others: it is never called better.
      own.change = change_of(own, own.relative, alpha, node_threshold_percent(threshold_percent));
      if (own.change == Change::kBetter) own.change = Change::kWithinThreshold;
    }
  }
  return comparison;
}

// A plain table, one row per test, after lines naming the runs and the rule.
std::string comparison_table(const RunResults& base, const RunResults& next,
                             const RunComparison& comparison, const Records& records) {
  std::string text = run_line("base: ", base) + run_line("new:  ", next);
  if (base.threads != next.threads) {
    text +=
        "note: the runs have different world sizes; totals follow the number of workers, the "
        "means per worker compare\n";
  }
  text += record_lines(records);
  const double threshold = comparison.threshold_percent;
  text += "rule: Welch's t-test on the workers' log rates";
  if (comparison.by_node) text += ", and each node's change against the other nodes' changes";
  text += "; worse where the rate fell by more than " + report_text(threshold) + "%";
  if (comparison.by_node) {
    text += " (a node: " + report_text(node_threshold_percent(threshold)) + "% against the others)";
  }
  text += " and the fall is significant, the " + std::to_string(comparison.family_size) +
          " judgements held together at level " + report_text(comparison.alpha) + " (Holm)\n\n";
  std::vector<std::vector<std::string>> rows{{"test", "unit", "single base", "single new", "ratio",
                                              "total base", "total new", "ratio", "mean base",
                                              "mean new", "ratio", "p adjusted", "verdict"}};
  for (const TestComparison& test : comparison.tests) {
    std::vector<std::string>& row = rows.emplace_back();
    row = {std::string(test_key(test.id)), rate_unit(test.id)};
    for (const auto& [name, pair] : test.pairs()) {
      row.insert(row.end(), {text_of(pair->base), text_of(pair->next), text_of(pair->ratio)});
    }
    row.insert(row.end(), {p_text(test.judgement), change_text(test.judgement.change)});
  }
  text += aligned(rows);
  if (!comparison.by_node) return text;
  std::vector<std::vector<std::string>> node_rows{{"test", "node", "workers base", "workers new",
                                                   "ratio", "vs others", "p adjusted", "verdict"}};
  for (const TestComparison& test : comparison.tests) {
    for (const NodeComparison& node : test.nodes) {
      node_rows.push_back({std::string(test_key(test.id)), printable(node.node),
                           std::to_string(node.base_workers), std::to_string(node.new_workers),
                           text_of(node.judgement.ratio), text_of(node.judgement.relative),
                           p_text(node.judgement), change_text(node.judgement.change)});
    }
  }
  std::string slowed;
  for (const std::string& node : comparison.slowed_nodes()) {
    slowed += (slowed.empty() ? "" : ", ") + printable(node);
  }
  return text +
         "\nby node (the nodes both maps name): each node's median rate new/base, and that "
         "change over the other nodes' typical change:\n" +
         aligned(node_rows) + "slowed nodes: " + (slowed.empty() ? "none" : slowed) + "\n";
}

std::string comparison_json(const RunResults& base, const RunResults& next,
                            const RunComparison& comparison, const Records& records) {
  std::string text;
  JsonWriter json(text);
  json.open_object();
  json.integer("schema_version", kJsonSchemaVersion);
  put_run(json, "base", base, records[0]);
  put_run(json, "new", next, records[1]);
  json.boolean("world_sizes_differ", base.threads != next.threads);
  if (records[0] && records[1]) {
    json.open_array("record_differences");
    for (const RecordDifference& difference : record_differences(*records[0], *records[1])) {
      json.open_object();
      json.text("item", difference.item);
      if (!difference.nodes.empty()) json.texts("nodes", difference.nodes);
      json.text("base", difference.base);
      json.text("new", difference.next);
      json.close();
    }
    json.close();
  }
  json.text("statistical_test", "welch_t_on_log_rates");
  json.number("level", comparison.alpha);
  json.integer("family_size", comparison.family_size);
  json.number("threshold_percent", comparison.threshold_percent);
  json.boolean("worse", comparison.any_worse());
  json.open_object("tests");
  for (const TestComparison& test : comparison.tests) {
    json.open_object(test_key(test.id));
    json.text("unit", rate_unit(test.id));
    for (const auto& [name, pair] : test.pairs()) {
      json.open_object(name);
      json.figure("base", pair->base);
      json.figure("new", pair->next);
      json.figure("ratio", pair->ratio);
      json.close();
    }
    json.integer("base_workers", base.test(test.id).workers.size());
    json.integer("new_workers", next.test(test.id).workers.size());
    const auto& welch = test.judgement.welch;
    json.figure("t", welch ? Figure(welch->t) : Figure());
    json.figure("degrees_of_freedom", welch ? Figure(welch->degrees_of_freedom) : Figure());
    json.figure("p_value", test.judgement.p_value);
    json.figure("p_adjusted", test.judgement.p_adjusted);
    json.figure("ratio_judged", test.judgement.ratio);
    json.text("verdict", change_text(test.judgement.change));
    if (comparison.by_node) {
      json.open_array("nodes");
      for (const NodeComparison& node : test.nodes) {
        json.open_object();
        json.text("node", valid_text(node.node));
        json.integer("base_workers", node.base_workers);
        json.integer("new_workers", node.new_workers);
        json.figure("mean_ratio", node.mean_ratio);
        json.figure("ratio", node.judgement.ratio);
        json.figure("relative_to_others", node.judgement.relative);
        json.figure("p_value", node.judgement.p_value);
        json.figure("p_adjusted", node.judgement.p_adjusted);
        json.text("verdict", change_text(node.judgement.change));
        json.close();
      }
      json.close();
    }
    json.close();
  }
  json.close();
  if (comparison.by_node) {
    json.open_array("slowed_nodes");
    for (const std::string& node : comparison.slowed_nodes()) json.text({}, valid_text(node));
    json.close();
  }
  json.close();
  return text + "\n";
}

}  // namespace

const Command& compare_command() {
  static const Command command{
      "compare",
      "BASE NEW",
      "two results files, the run before and the run after a change",
      "compares two runs test by test: the figures of both, new/base, and Welch's t-test on "
      "the workers' log rates; with maps also each node's change against the other nodes' "
      "changes. Every test and node is judged as one family. Where the runs have records, it "
      "also names what differs between them: kernel, file system, versions, nodes.",
      {
          {"--json", "", "the comparison as JSON instead of a table"},
          {"-o, --output", "FILE",
           "write the comparison into FILE (replaced whole once complete); - is standard "
           "output, where it goes by default"},
          {"--threshold", "SHARE",
           "a test is worse when its rate fell by more than SHARE (default 10%) and the fall is "
           "significant; a node when its change is below the others' by SHARE or 20%, the larger",
           false, threshold_share},
          {"--alpha", "A",
           "the chance of any false call among everything judged, above 0 and below 1: 0.05 (the "
           "default) or 5%",
           false, alpha_level},
          {"--rank-map", "MAP",
           "twice, for BASE and then NEW (a map, job log or shared folder, as for a "
           "conversion): also judges each node that both maps name",
           true},
          {"--record", "FILE",
           "twice, for BASE and then NEW: each run's record from the batch script, in place of "
           "the quenda-lite-*.json found beside each results file; the comparison names what "
           "differs between the two, which changes no verdict",
           true},
      },
      "Exit status: 0 no test worse, 1 at least one test or node worse, 2 a wrong command line "
      "or a file, map or record that is refused."};
  return command;
}

std::array<std::optional<bool>, kTestCount> worse_tests(const RunResults& base,
                                                        const RunResults& next,
                                                        double threshold_percent, double alpha) {
  const RunComparison comparison = compare_runs(base, next, threshold_percent, alpha, false);
  std::array<std::optional<bool>, kTestCount> worse;
  for (const TestComparison& test : comparison.tests) {
    if (test.judgement.change != Change::kUntested) {
      worse[static_cast<int>(test.id)] = test.judgement.change == Change::kWorse;
    }
  }
  return worse;
}

int run_compare(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& paths = arguments.operands;
  const bool as_json = arguments.has("--json");
  const double threshold_percent =
      percent_of(arguments.value("--threshold").value_or("10%")).value();
  const double alpha = arguments.fraction("--alpha", kDefaultAlpha);
  const std::string output = arguments.value("--output").value_or("-");
  const std::vector<std::string> maps = arguments.all("--rank-map");
  const std::vector<std::string> record_paths = arguments.all("--record");
  if (paths.size() != 2) return usage_error(err, "compare takes two results files, BASE NEW");
  for (const char* name : {"--rank-map", "--record"}) {
    const std::size_t given = arguments.all(name).size();
    if (given != 0 && given != 2) {
      return usage_error(
          err, std::string(name) + " is given once for BASE and once for NEW, or not at all");
    }
  }
  std::optional<RunResults> before = run_in(paths[0], err);
  std::optional<RunResults> after = run_in(paths[1], err);
  if (!before || !after) return kExitUsage;
  bool refused = false;
  for (std::size_t i = 0; i < maps.size(); ++i) {
    const auto map = read_rank_map(maps[i]);
    std::string reason;
    if (const auto* read = std::get_if<RankMap>(&map)) {
      reason = apply_rank_map(*read, i == 0 ? *before : *after);
      if (!reason.empty()) reason = "not of " + printable(paths[i]) + ": " + reason;
    } else {
      reason = std::get<std::string>(map);
    }
    if (!reason.empty()) {
      err << printable(maps[i]) << ": error: " << reason << '\n';
      refused = true;
    }
  }
  Records records;
  for (std::size_t i = 0; i < 2; ++i) {
    if (record_paths.empty()) {
      records[i] = record_beside(paths[i]);
      continue;
    }
    try {
      records[i] = read_record(record_paths[i]);
    } catch (const RecordError& problem) {
      err << printable(record_paths[i]) << ": error: " << problem.what() << '\n';
      refused = true;
    }
  }
  if (refused) return kExitUsage;
  const RunComparison comparison =
      compare_runs(*before, *after, threshold_percent, alpha, !maps.empty());
  std::string text = as_json ? comparison_json(*before, *after, comparison, records)
                             : comparison_table(*before, *after, comparison, records);
  const int status = comparison.any_worse() ? kExitWorse : kExitNoneWorse;
  if (output == "-") return flushed(out << text, err, status, kExitUsage);
  const std::string write_error = write_outputs({{output, std::move(text)}});
  if (write_error.empty()) return status;
  err << printable(output) << ": error: " << write_error << '\n';
  return kExitUsage;
}

}  // namespace quenda::results
