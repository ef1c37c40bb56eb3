#include "write/metrics.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "write/text_escape.h"

namespace quenda::results {
namespace {

constexpr double kBytesPerMb = 1024.0 * 1024.0;

std::string sample_value(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  return exact_text(value);
}

// The figures of one family follow its HELP and TYPE lines, all together:
// the format allows a family only once.
class Exposition {
 public:
  void family(std::string name, std::string help) {
    name_ = "quenda_lite_" + std::move(name);
    help_ = std::move(help);
    announced_ = false;
  }

  void sample(const std::string& labels, const Figure& value) {
    if (!value) return;
    if (!announced_) {
      text_ += "# HELP " + name_ + ' ' + help_ + "\n# TYPE " + name_ + " gauge\n";
      announced_ = true;
    }
    text_ += name_;
    if (!labels.empty()) text_ += '{' + labels + '}';
    text_ += ' ' + sample_value(*value) + '\n';
  }

  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::string name_;
  std::string help_;
  bool announced_ = false;
};

// A label as the format writes it: its value valid UTF-8 between quotes,
// with backslash, double quote and line feed escaped.
std::string label(std::string_view name, std::string_view value) {
  std::string text = std::string(name) + "=\"";
  for (const char c : valid_text(value)) {
    if (c == '\\' || c == '"') text += '\\';
    text += c == '\n' ? std::string_view("\\n") : std::string_view(&c, 1);
  }
  return text + '"';
}

std::string test_labels(TestId test) { return label("test", test_key(test)); }

Figure flag(std::optional<bool> value) {
  if (!value) return {};
  return *value ? 1.0 : 0.0;
}

// A figure in the unit its measure's families use: files per second as it
// is, MB per second (or millions of accesses, where only those are given)
// as bytes per second.
Figure base_rate(const Figures& figures, Measure measure) {
  if (measure == Measure::kFiles) return figures.files_per_sec;
  if (figures.mb_per_sec) return *figures.mb_per_sec * kBytesPerMb;
  if (figures.million_accesses_per_sec) return *figures.million_accesses_per_sec * 1e6;
  return {};
}

// One family per measure, each holding the tests of that measure.
void rate_families(Exposition& out, const RunResults& run, const std::string& name,
                   const std::string& help,
                   const std::function<void(Exposition&, const TestResults&, Measure)>& samples) {
  for (const Measure measure : {Measure::kFiles, Measure::kAccesses}) {
    const bool files = measure == Measure::kFiles;
    out.family(name + (files ? "_files_per_second" : "_bytes_per_second"),
               help + (files ? ", files created, opened, closed and removed per second"
                             : ", bytes per second"));
    for (const TestResults& test : run.tests) {
      if (measure_of(test.id) == measure) samples(out, test, measure);
    }
  }
}

}  // namespace

std::string to_metrics(const MetricsInput& input) {
  const RunResults& run = *input.run;
  Exposition out;
  out.family("run_timestamp_seconds", "when the run started, in seconds since the epoch");
  out.sample("", input.run_time);
  out.family("workers", "processes that ran the tests at once, the collector not counted");
  out.sample("", run.worker_count());

  rate_families(out, run, "single", "the collector's rate alone",
                [](Exposition& out, const TestResults& test, Measure measure) {
                  out.sample(test_labels(test.id), base_rate(test.single, measure));
                });
  out.family("single_seconds", "the collector's time alone");
  for (const TestResults& test : run.tests) out.sample(test_labels(test.id), test.single.seconds);
  rate_families(out, run, "total", "the sum of the workers' rates",
                [](Exposition& out, const TestResults& test, Measure measure) {
                  out.sample(test_labels(test.id), base_rate(test.total, measure));
                });
  rate_families(out, run, "mean", "the mean rate per worker",
                [](Exposition& out, const TestResults& test, Measure measure) {
                  if (!test.workers.empty()) {
                    out.sample(test_labels(test.id), base_rate(test.mean, measure));
                  }
                });
  out.family("improvement_ratio", "the workers' total over the collector's rate alone");
  for (const TestResults& test : run.tests) out.sample(test_labels(test.id), test.improvement);
  out.family("workers_differ", "1 where the workers' rates differ significantly, else 0");
  for (const TestResults& test : run.tests)
    out.sample(test_labels(test.id), flag(test.significant));
  if (input.worse) {
    out.family("worse_than_previous",
               "1 where the mean rate per worker fell significantly since the previous run");
    for (const TestResults& test : run.tests) {
      out.sample(test_labels(test.id), flag((*input.worse)[static_cast<int>(test.id)]));
    }
  }

  if (input.nodes) {
    const RunNodes& nodes = *input.nodes;
    rate_families(out, run, "node_median", "the median rate of a node's workers",
                  [&nodes](Exposition& out, const TestResults& test, Measure measure) {
                    // The node figures are in the headline unit: files or MB per second.
                    for (const NodeFigures& node : nodes[static_cast<int>(test.id)].nodes) {
                      Figure rate = node.median;
                      if (rate && measure == Measure::kAccesses) *rate *= kBytesPerMb;
                      out.sample(test_labels(test.id) + ',' + label("node", node.name), rate);
                    }
                  });
    out.family("node_slow",
               "1 where a node is flagged as slow (its median rate at most the outlier fraction "
               "of the other nodes' typical rate and significantly below it), else 0");
    for (const TestResults& test : run.tests) {
      const TestNodes& of_test = nodes[static_cast<int>(test.id)];
      for (const NodeFigures& node : of_test.nodes) {
        if (!node.median) continue;
        const bool slow = std::find(of_test.outliers.begin(), of_test.outliers.end(), node.name) !=
                          of_test.outliers.end();
        out.sample(test_labels(test.id) + ',' + label("node", node.name), slow ? 1.0 : 0.0);
      }
    }
  }

  if (input.by_rank) {
    // A worker whose test failed has figures that are no measurement.
    const auto worker_labels = [](const TestResults& test, const WorkerFigures& worker) {
      std::string labels = test_labels(test.id) + ',' + label("rank", std::to_string(worker.rank));
      if (!worker.node.empty()) labels += ',' + label("node", worker.node);
      return labels;
    };
    rate_families(out, run, "worker", "a worker's rate",
                  [&](Exposition& out, const TestResults& test, Measure measure) {
                    for (const WorkerFigures& worker : test.workers) {
                      if (!worker.measurement) continue;
                      out.sample(worker_labels(test, worker), base_rate(worker.figures, measure));
                    }
                  });
    out.family("worker_seconds", "a worker's time");
    for (const TestResults& test : run.tests) {
      for (const WorkerFigures& worker : test.workers) {
        if (worker.measurement) out.sample(worker_labels(test, worker), worker.figures.seconds);
      }
    }
  }
  return out.text();
}

}  // namespace quenda::results
