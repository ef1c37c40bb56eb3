// Which node each rank ran on, from the batch script's map ("rank R on
// NODE" lines), from a job log holding those lines and the benchmark's
// failure lines, or from a shared working folder whose worker files are
// named data64-windows-R@NODE.
#ifndef QUENDA_TOOLS_RESULTS_READ_RANK_MAP_H_
#define QUENDA_TOOLS_RESULTS_READ_RANK_MAP_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <variant>

#include "read/results_file.h"

namespace quenda::results {

struct RankMap {
  std::map<std::uint64_t, std::string> node_of;  // by rank
  // A folder names no collector (rank 0 writes data64-windows-cluster).
  bool names_collector = true;
  // Per test, the ranks whose figures a failure line disowns.
  std::array<std::set<std::uint64_t>, kTestCount> failed;
};

// The map in `path`, or the reason it cannot be read (without the path).
std::variant<RankMap, std::string> read_rank_map(const std::filesystem::path& path);

// Names every worker's node and marks the figures of failed tests, or
// returns the reason the map does not belong to `run` (another world size,
// a rank beyond the benchmark's cap, a rank missing), leaving `run` as it was.
std::string apply_rank_map(const RankMap& map, RunResults& run);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_READ_RANK_MAP_H_
