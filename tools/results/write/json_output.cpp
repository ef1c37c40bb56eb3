#include "write/json_output.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "write/text_escape.h"

namespace quenda::results {

void JsonWriter::member(std::string_view key) {
  if (open_.empty()) return;
  out_ += open_.back().second ? ",\n" : "\n";
  open_.back().second = true;
  out_.append(2 * open_.size(), ' ');
  if (open_.back().first == '{') ((out_ += '"') += key) += "\": ";
}

void JsonWriter::open(std::string_view key, char bracket) {
  member(key);
  out_ += bracket;
  open_.emplace_back(bracket, false);
}

void JsonWriter::close() {
  const auto [bracket, filled] = open_.back();
  open_.pop_back();
  if (filled) {
    out_ += '\n';
    out_.append(2 * open_.size(), ' ');
  }
  out_ += bracket == '{' ? '}' : ']';
}

void JsonWriter::quote(std::string_view value) {
  const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  });
  if (plain) {
    out_ += '"';
    out_ += value;
    out_ += '"';
    return;
  }
  // Escapes, other scripts and bytes that are not UTF-8 (a processor name
  // from another machine) are rare: the library writes those strings.
  out_ += nlohmann::json(std::string(value))
              .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void JsonWriter::number(std::string_view key, double value) {
  if (!std::isfinite(value)) return null(key);
  std::array<char, 64> digits{};
  raw(key,
      std::string_view(digits.data(), nlohmann::detail::to_chars(
                                          digits.data(), digits.data() + digits.size(), value)));
}

void JsonWriter::figure(std::string_view key, const Figure& value) {
  number(key, value.value_or(NAN));
  if (!value || std::isfinite(*value)) return;
  const char* what = std::isnan(*value) ? "nan" : *value > 0 ? "inf" : "-inf";
  text(std::string(key) + "_reason", std::string("not finite: ") + what);
}

void JsonWriter::texts(std::string_view key, const std::vector<std::string>& values) {
  open_array(key);
  for (const std::string& value : values) text({}, value);
  close();
}

namespace {

// The rate members a group carries for the test's measure.
void put_rates(JsonWriter& json, const Figures& figures, Measure measure) {
  if (measure == Measure::kFiles) {
    json.figure("files_per_sec", figures.files_per_sec);
  } else {
    json.figure("million_accesses_per_sec", figures.million_accesses_per_sec);
    json.figure("mb_per_sec", figures.mb_per_sec);
  }
}

void put_nodes(JsonWriter& json, const TestNodes& nodes) {
  json.open_array("nodes");
  for (const NodeFigures& node : nodes.nodes) {
    json.open_object();
    json.text("node", node.name);
    json.open_array("workers");
    for (const std::uint64_t rank : node.ranks) json.integer({}, rank);
    json.close();
    json.figure("median", node.median);
    json.figure("minimum", node.minimum);
    json.figure("sum", node.sum);
    json.figure("share_of_typical", node.share);
    json.figure("p_adjusted", node.p_adjusted);
    json.close();
  }
  json.close();
  json.texts("outlier_nodes", nodes.outliers);
}

void put_test(JsonWriter& json, const RunResults& run, const TestResults& test,
              const TestNodes* nodes) {
  const Measure measure = measure_of(test.id);
  json.open_object(test_key(test.id));
  json.text("label", test_label(test.id));
  json.text("measure", measure == Measure::kFiles ? "files" : "accesses");
  json.open_object("single");
  json.figure("seconds", test.single.seconds);
  put_rates(json, test.single, measure);
  json.close();
  json.open_array("workers");
  for (const WorkerFigures& worker : test.workers) {
    json.open_object();
    json.integer("rank", worker.rank);
    if (nodes) {
      json.text("node", worker.node);
      json.boolean("measurement", worker.measurement);
    }
    json.figure("seconds", worker.figures.seconds);
    put_rates(json, worker.figures, measure);
    json.close();
  }
  json.close();
  json.open_object("total");
  put_rates(json, test.total, measure);
  json.close();
  json.figure("improvement", test.improvement);
  // File handling prints no mean without workers; the other tests print
  // one in MB/sec only.
  if (measure == Measure::kFiles && run.worker_count() == 0) {
    json.null("mean");
  } else {
    json.open_object("mean");
    json.figure(measure == Measure::kFiles ? "files_per_sec" : "mb_per_sec",
                measure == Measure::kFiles ? test.mean.files_per_sec : test.mean.mb_per_sec);
    json.close();
  }
  json.verdict("significant", test.significant);
  if (nodes) put_nodes(json, *nodes);
  json.close();
}

}  // namespace

void put_record(JsonWriter& json, std::string_view key, const RunRecord& record) {
  json.open_object(key);
  json.text("path", record.path.string());
  json.integer("record_version", kRecordVersion);
  json.text("job_id", record.job_id);
  json.text("cluster", record.cluster);
  json.text("start_utc", record.start_utc);
  json.text("end_utc", record.end_utc);
  json.text("workdir", record.workdir);
  json.text("results_file", record.results_file);
  json.text("program_version", record.program_version);
  json.text("mpi_library", record.mpi_library);
  json.open_array("nodes");
  for (const NodeRecord& node : record.nodes) {
    json.open_object();
    json.text("name", node.name);
    json.text("fstype", node.fstype);
    json.text("mount_options", node.mount_options);
    json.text("kernel", node.kernel);
    json.close();
  }
  json.close();
  json.close();
}

std::string to_json(const RunResults& run, const RunNodes* nodes, const RunRecord* record,
                    std::string room) {
  room.clear();
  JsonWriter json(room);
  json.open_object();
  json.integer("schema_version", kJsonSchemaVersion);
  json.text("source_file", run.source_file);
  json.boolean("partial", run.partial);
  if (run.partial) json.text("partial_reason", run.partial_reason);
  json.text("benchmark", run.benchmark);
  if (run.metadata) {
    json.text("processor_name", run.metadata->processor_name);
    json.text("local_date", run.metadata->local_date);
    json.text("local_time", run.metadata->local_time);
  } else {
    for (const char* key : {"processor_name", "local_date", "local_time"}) json.null(key);
  }
  json.integer("threads", run.threads);
  json.integer("worker_count", run.worker_count());
  if (record) put_record(json, "record", *record);
  json.open_object("tests");
  for (const TestResults& test : run.tests) {
    put_test(json, run, test, nodes ? &(*nodes)[static_cast<int>(test.id)] : nullptr);
  }
  json.close();
  json.close();
  room += '\n';
  return room;
}

}  // namespace quenda::results
