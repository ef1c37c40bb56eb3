#include "write/json_output.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace quenda::results {
namespace {

// Keys in the order written, so that the document reads like the report.
using Json = nlohmann::ordered_json;

// The rate members a group carries for the test's measure.
void add_rates(Json& group, const Figures& figures, Measure measure) {
  if (measure == Measure::kFiles) {
    group["files_per_sec"] = figure_json(figures.files_per_sec);
  } else {
    group["million_accesses_per_sec"] = figure_json(figures.million_accesses_per_sec);
    group["mb_per_sec"] = figure_json(figures.mb_per_sec);
  }
}

// Adds the time and the rates to `group`.
void add_timed(Json& group, const Figures& figures, Measure measure) {
  group["seconds"] = figure_json(figures.seconds);
  add_rates(group, figures, measure);
}

Json nodes_json(const TestNodes& nodes) {
  Json list = Json::array();
  for (const NodeFigures& node : nodes.nodes) {
    list.push_back(Json{{"node", node.name},
                        {"workers", node.ranks},
                        {"median", figure_json(node.median)},
                        {"minimum", figure_json(node.minimum)},
                        {"sum", figure_json(node.sum)}});
  }
  return list;
}

Json test_json(const RunResults& run, const TestResults& test, const TestNodes* nodes) {
  const Measure measure = measure_of(test.id);
  Json json = Json::object();
  json["label"] = test_label(test.id);
  json["measure"] = measure == Measure::kFiles ? "files" : "accesses";
  add_timed(json["single"], test.single, measure);
  Json workers = Json::array();
  for (const WorkerFigures& worker : test.workers) {
    Json entry = Json::object();
    entry["rank"] = worker.rank;
    if (nodes) {
      entry["node"] = worker.node;
      entry["measurement"] = worker.measurement;
    }
    add_timed(entry, worker.figures, measure);
    workers.push_back(std::move(entry));
  }
  json["workers"] = std::move(workers);
  Json total = Json::object();
  add_rates(total, test.total, measure);
  json["total"] = std::move(total);
  json["improvement"] = figure_json(test.improvement);
  // File handling prints no mean without workers; the other tests print
  // one in MB/sec only.
  if (measure == Measure::kFiles) {
    const bool printed = run.worker_count() > 0;
    json["mean"] = printed ? Json{{"files_per_sec", figure_json(test.mean.files_per_sec)}} : Json();
  } else {
    json["mean"] = Json{{"mb_per_sec", figure_json(test.mean.mb_per_sec)}};
  }
  json["significant"] = test.significant ? Json(*test.significant) : Json();
  if (nodes) {
    json["nodes"] = nodes_json(*nodes);
    json["outlier_nodes"] = nodes->outliers;
  }
  return json;
}

}  // namespace

nlohmann::ordered_json figure_json(const Figure& value) {
  if (!value) return nullptr;
  if (std::isnan(*value)) return "nan";
  if (std::isinf(*value)) return *value > 0 ? "inf" : "-inf";
  return *value;
}

std::string to_json(const RunResults& run, const RunNodes* nodes) {
  Json json = Json::object();
  json["source_file"] = run.source_file;
  json["partial"] = run.partial;
  if (run.partial) json["partial_reason"] = run.partial_reason;
  json["benchmark"] = run.benchmark;
  json["processor_name"] = run.metadata ? Json(run.metadata->processor_name) : Json();
  json["local_date"] = run.metadata ? Json(run.metadata->local_date) : Json();
  json["local_time"] = run.metadata ? Json(run.metadata->local_time) : Json();
  json["threads"] = run.threads;
  json["worker_count"] = run.worker_count();
  Json tests = Json::object();
  for (const TestResults& test : run.tests)
    tests[std::string(test_key(test.id))] =
        test_json(run, test, nodes ? &(*nodes)[static_cast<int>(test.id)] : nullptr);
  json["tests"] = std::move(tests);
  // Bytes that are not UTF-8 (a processor name from another machine) become
  // U+FFFD rather than stopping the dump.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace quenda::results
