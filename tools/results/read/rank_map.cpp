#include "read/rank_map.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "file_names.h"
#include "plan.h"
#include "run/failures.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// A job log of a run at the cap stays far below this.
constexpr std::uintmax_t kLargestMap = 64u * 1024u * 1024u;

std::optional<std::uint64_t> rank_from(std::string_view digits) {
  std::uint64_t rank = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), rank);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return {};
  return rank;
}

// "R on NODE" from the start of `text`: the rank and the node, which runs
// up to `node_end` (or to the end of the text).
std::optional<std::pair<std::uint64_t, std::string>> rank_on_node(std::string_view text,
                                                                  std::string_view node_end) {
  const std::size_t on = text.find(" on ");
  if (on == std::string_view::npos) return {};
  const auto rank = rank_from(text.substr(0, on));
  std::string_view node = text.substr(on + 4);
  if (!node_end.empty()) node = node.substr(0, node.find(node_end));
  if (!rank || node.empty() || node.find(' ') != std::string_view::npos) return {};
  return std::make_pair(*rank, std::string(node));
}

// Adds one rank's node; a rank named twice must name the same node.
std::string name_rank(RankMap& map, std::uint64_t rank, const std::string& node) {
  const auto [place, added] = map.node_of.emplace(rank, node);
  if (added || place->second == node) return {};
  return "rank " + std::to_string(rank) + " is on " + printable(place->second) + " and on " +
         printable(node);
}

// A shared folder may still hold an earlier run's worker files: more ranks,
// or a rank on another node. Each rank's newest file tells where it ran last.
std::variant<RankMap, std::string> read_folder(const fs::path& folder) {
  RankMap map;
  map.names_collector = false;
  std::map<std::uint64_t, fs::file_time_type> written;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const auto worker = read_worker_file_name(name);
    if (!worker) continue;
    std::error_code unknown;
    const fs::file_time_type time = it->last_write_time(unknown);
    const auto [newest, first] = written.emplace(worker->rank, time);
    if (!first && time < newest->second) continue;
    newest->second = time;
    map.node_of[worker->rank] = std::string(worker->processor_name);
  }
  if (error) return "cannot list the folder: " + error.message();
  if (map.node_of.empty()) return "no worker files (data64-windows-R@NODE) in this folder";
  return map;
}

}  // namespace

std::variant<RankMap, std::string> read_rank_map(const fs::path& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) return read_folder(path);
  const auto size = fs::file_size(path, error);
  if (error) return "cannot read: " + error.message();
  if (size > kLargestMap) return "too large for a rank map or job log";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open";
  RankMap map;
  const std::string failure_start = std::string(kProgramName) + ": rank ";
  std::string line;
  while (std::getline(in, line)) {
    if (line.ends_with('\r')) line.pop_back();
    const std::string_view text = line;
    if (text.starts_with("rank ")) {
      if (const auto entry = rank_on_node(text.substr(5), {})) {
        const std::string problem = name_rank(map, entry->first, entry->second);
        if (!problem.empty()) return problem;
      }
    } else if (text.starts_with(failure_start) &&
               text.ends_with(std::string("; ") + kNotMeasurements)) {
      // quenda-lite: rank R on NODE: TEST: FILE: REASON; the figures ...
      const std::string_view rest = text.substr(failure_start.size());
      const auto entry = rank_on_node(rest, ": ");
      if (!entry) continue;
      const std::size_t test_at = rest.find(": ") + 2;
      const std::string_view test = rest.substr(test_at, rest.find(": ", test_at) - test_at);
      for (const TestInfo& info : kTests) {
        if (test == info.name) map.failed[static_cast<int>(info.id)].insert(entry->first);
      }
    }
  }
  if (in.bad()) return "cannot read";
  if (map.node_of.empty()) return "no 'rank R on NODE' lines in it";
  return map;
}

std::string apply_rank_map(const RankMap& map, RunResults& run) {
  const auto threads = static_cast<std::uint64_t>(run.threads);
  const auto cap = static_cast<std::uint64_t>(kFullPlan.world_size_cap);
  const std::uint64_t highest = map.node_of.rbegin()->first;
  // A folder's ranks beyond this run's are an earlier run's files, left there.
  if (map.names_collector && highest >= cap) {
    return "the map names rank " + std::to_string(highest) + ", beyond the benchmark's cap of " +
           std::to_string(cap) + " processes";
  }
  if (map.names_collector && highest + 1 != threads) {
    return "the map is of " + std::to_string(highest + 1) + " processes, the results file of " +
           std::to_string(threads) + " (Thread(s): " + std::to_string(threads) + ")";
  }
  for (std::uint64_t rank = map.names_collector ? 0 : 1; rank < threads; ++rank) {
    if (!map.node_of.contains(rank)) {
      return "rank " + std::to_string(rank) + " is missing from the map";
    }
  }
  // The results file holds workers 1 to Thread(s) - 1 at most: the map names them all.
  for (TestResults& test : run.tests) {
    for (WorkerFigures& worker : test.workers) {
      worker.node = map.node_of.at(worker.rank);
      worker.measurement = !map.failed[static_cast<int>(test.id)].contains(worker.rank);
    }
  }
  return {};
}

}  // namespace quenda::results
