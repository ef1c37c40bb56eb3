#include "write/json_output.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "write/text_escape.h"

namespace quenda::results {
namespace {

// Keys in the order written, so that the document reads like the report.
using Json = nlohmann::ordered_json;

// The rate members a group carries for the test's measure.
void add_rates(Json& group, const Figures& figures, Measure measure) {
  if (measure == Measure::kFiles) {
    put_figure(group, "files_per_sec", figures.files_per_sec);
  } else {
    put_figure(group, "million_accesses_per_sec", figures.million_accesses_per_sec);
    put_figure(group, "mb_per_sec", figures.mb_per_sec);
  }
}

// Adds the time and the rates to `group`.
void add_timed(Json& group, const Figures& figures, Measure measure) {
  put_figure(group, "seconds", figures.seconds);
  add_rates(group, figures, measure);
}

Json nodes_json(const TestNodes& nodes) {
  Json list = Json::array();
  for (const NodeFigures& node : nodes.nodes) {
    Json entry{{"node", node.name}, {"workers", node.ranks}};
    put_figure(entry, "median", node.median);
    put_figure(entry, "minimum", node.minimum);
    put_figure(entry, "sum", node.sum);
    put_figure(entry, "share_of_typical", node.share);
    put_figure(entry, "p_adjusted", node.p_adjusted);
    list.push_back(std::move(entry));
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
  put_figure(json, "improvement", test.improvement);
  // File handling prints no mean without workers; the other tests print
  // one in MB/sec only.
  if (measure == Measure::kFiles) {
    const bool printed = run.worker_count() > 0;
    json["mean"] = Json();
    if (printed) put_figure(json["mean"], "files_per_sec", test.mean.files_per_sec);
  } else {
    put_figure(json["mean"], "mb_per_sec", test.mean.mb_per_sec);
  }
  json["significant"] = test.significant ? Json(*test.significant) : Json();
  if (nodes) {
    json["nodes"] = nodes_json(*nodes);
    json["outlier_nodes"] = nodes->outliers;
  }
  return json;
}

}  // namespace

void put_figure(Json& object, const std::string& key, const Figure& value) {
  if (value && std::isfinite(*value)) {
    object[key] = *value;
    return;
  }
  object[key] = nullptr;
  if (!value) return;
  const char* what = std::isnan(*value) ? "nan" : *value > 0 ? "inf" : "-inf";
  object[key + "_reason"] = std::string("not finite: ") + what;
}

Json record_json(const RunRecord& record) {
  Json json = Json::object();
  json["path"] = valid_text(record.path.string());
  json["record_version"] = kRecordVersion;
  json["job_id"] = record.job_id;
  json["cluster"] = record.cluster;
  json["start_utc"] = record.start_utc;
  json["end_utc"] = record.end_utc;
  json["workdir"] = record.workdir;
  json["results_file"] = record.results_file;
  json["program_version"] = record.program_version;
  json["mpi_library"] = record.mpi_library;
  Json& nodes = json["nodes"] = Json::array();
  for (const NodeRecord& node : record.nodes) {
    nodes.push_back(Json{{"name", node.name},
                         {"fstype", node.fstype},
                         {"mount_options", node.mount_options},
                         {"kernel", node.kernel}});
  }
  return json;
}

std::string to_json(const RunResults& run, const RunNodes* nodes, const RunRecord* record) {
  Json json = Json::object();
  json["schema_version"] = kJsonSchemaVersion;
  json["source_file"] = run.source_file;
  json["partial"] = run.partial;
  if (run.partial) json["partial_reason"] = run.partial_reason;
  json["benchmark"] = run.benchmark;
  json["processor_name"] = run.metadata ? Json(run.metadata->processor_name) : Json();
  json["local_date"] = run.metadata ? Json(run.metadata->local_date) : Json();
  json["local_time"] = run.metadata ? Json(run.metadata->local_time) : Json();
  json["threads"] = run.threads;
  json["worker_count"] = run.worker_count();
  if (record) json["record"] = record_json(*record);
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
