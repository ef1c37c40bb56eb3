#include "read/run_record.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>
#include <tuple>

#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// A record of a job at the benchmark's cap of 512 processes, each on a node
// of its own, stays far below this.
constexpr std::uintmax_t kLargestRecord = 16u * 1024u * 1024u;

std::string text_at(const Json& object, const char* key, const std::string& within = {}) {
  const auto found = object.find(key);
  const std::string where = within.empty() ? "" : " in " + within;
  if (found == object.end()) throw RecordError("no \"" + std::string(key) + "\"" + where);
  if (!found->is_string()) {
    throw RecordError("\"" + std::string(key) + "\"" + where + " is not a string");
  }
  return found->get<std::string>();
}

// "2026-12-09T00:41:02Z" and nothing else, so that times sort as text.
std::string utc_at(const Json& object, const char* key) {
  std::string time = text_at(object, key);
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  bool fits = time.size() == kShape.size();
  for (std::size_t i = 0; fits && i < time.size(); ++i) {
    fits = kShape[i] == 'd' ? time[i] >= '0' && time[i] <= '9' : time[i] == kShape[i];
  }
  if (!fits) {
    throw RecordError("\"" + std::string(key) + "\" is '" + printable(time) +
                      "', not a UTC time such as 2026-12-09T00:41:02Z");
  }
  return time;
}

RunRecord record_of(const Json& json) {
  if (!json.is_object()) throw RecordError("not a record: the JSON is not an object");
  const auto version = json.find("record_version");
  if (version == json.end()) throw RecordError("no \"record_version\"; not a run's record");
  if (!version->is_number_integer()) throw RecordError("\"record_version\" is not a whole number");
  if (version->get<long long>() != kRecordVersion) {
    throw RecordError("record_version " + version->dump() + ", where this tool reads " +
                      std::to_string(kRecordVersion));
  }
  RunRecord record;
  record.job_id = text_at(json, "job_id");
  record.cluster = text_at(json, "cluster");
  record.start_utc = utc_at(json, "start_utc");
  record.end_utc = utc_at(json, "end_utc");
  record.workdir = text_at(json, "workdir");
  record.results_file = text_at(json, "results_file");
  record.program_version = text_at(json, "program_version");
  record.mpi_library = text_at(json, "mpi_library");
  const auto nodes = json.find("nodes");
  if (nodes == json.end()) throw RecordError("no \"nodes\"");
  if (!nodes->is_array()) throw RecordError("\"nodes\" is not a list");
  std::set<std::string> named;
  for (std::size_t i = 0; i < nodes->size(); ++i) {
    const Json& node = (*nodes)[i];
    const std::string within = "node " + std::to_string(i + 1);
    if (!node.is_object()) throw RecordError(within + " of \"nodes\" is not an object");
    NodeRecord& entry = record.nodes.emplace_back();
    entry.name = text_at(node, "name", within);
    entry.fstype = text_at(node, "fstype", within);
    entry.mount_options = text_at(node, "mount_options", within);
    entry.kernel = text_at(node, "kernel", within);
    if (!named.insert(entry.name).second) {
      throw RecordError("node " + printable(entry.name) + " is named twice");
    }
  }
  return record;
}

bool is_record_name(const std::string& name) {
  return name.size() > 17 && name.starts_with("quenda-lite-") && name.ends_with(".json");
}

}  // namespace

RunRecord read_record(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) throw RecordError("cannot read: " + error.message());
  if (size > kLargestRecord) throw RecordError("too large for a run's record");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RecordError("cannot open");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::parse_error& parse_error) {
    // "[json.exception.parse_error.101] parse error at line 1, ..."
    const std::string what = parse_error.what();
    throw RecordError("not JSON: " + what.substr(what.find("] ") + 2));
  }
  RunRecord record = record_of(json);
  record.path = path;
  return record;
}

std::map<std::string, RunRecord> records_in(const fs::path& folder, RefusedRecords* refused) {
  std::map<std::string, RunRecord> records;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!is_record_name(it->path().filename().string())) continue;
    std::error_code kind;
    if (!it->is_regular_file(kind)) continue;
    try {
      RunRecord record = read_record(it->path());
      const auto [place, added] = records.try_emplace(record.results_file, record);
      const RunRecord& kept = place->second;
      if (!added && std::tie(kept.end_utc, kept.path) < std::tie(record.end_utc, record.path)) {
        place->second = std::move(record);
      }
    } catch (const RecordError& problem) {
      if (refused) refused->emplace_back(it->path(), problem.what());
    }
  }
  return records;
}

RecordFolders::Folder& RecordFolders::folder(const fs::path& folder) {
  const std::lock_guard lock(mutex_);
  // A folder's files come one after another: the folder asked for last is known by its name.
  if (last_.second && folder == last_.first) return *last_.second;
  std::error_code error;
  const fs::path key = fs::weakly_canonical(folder, error);
  auto [place, added] = folders_.try_emplace(error ? folder : key);
  if (added) place->second.records = records_in(folder, &place->second.refused);
  last_ = {folder, &place->second};
  return place->second;
}

const std::map<std::string, RunRecord>& RecordFolders::quietly_in(const fs::path& folder) {
  return this->folder(folder).records;
}

const std::map<std::string, RunRecord>& RecordFolders::in(const fs::path& folder) {
  Folder& found = this->folder(folder);
  if (!found.named) {
    for (const auto& [record, reason] : found.refused) {
      err_ << printable(record.string()) << ": note: not read as a run's record: " << reason
           << '\n';
    }
    found.named = true;
  }
  return found.records;
}

std::optional<RunRecord> record_beside(const fs::path& results) {
  const fs::path folder = results.has_parent_path() ? results.parent_path() : fs::path(".");
  auto records = records_in(folder);
  const auto found = records.find(results.filename().string());
  if (found == records.end()) return {};
  return std::move(found->second);
}

}  // namespace quenda::results
