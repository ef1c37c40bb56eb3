// Every count, name piece, scale and threshold of the benchmark, in one place.
//
// The shipped program runs kFullPlan and nothing else. The test suite builds the
// very same code with a smaller Plan (fewer cycles, shorter files, a lower
// world-size cap) so that whole runs fit into seconds.
#ifndef QUENDA_PLAN_H_
#define QUENDA_PLAN_H_

#include <cstdint>

namespace quenda {

// The tests a run makes, each once alone and once on every worker
// (test_table.h lists them).
inline constexpr int kTestCount = 6;

// Per-rank tables have this many slots; the world-size cap must stay below it.
inline constexpr int kTableSlots = 4096;
// Capacity of the name buffers of the worker forms.
inline constexpr int kNameBufferSize = 4096;

struct Plan {
  // Processes beyond this many take no part (they only pass the barriers).
  int world_size_cap;
  // Create/open/close/remove cycles of each file-handling test; also the
  // number of files credited to it.
  int handling_cycles;
  // Length of every byte-wise file, the accesses of every first pass, and the
  // nominal block size credited to every block test.
  std::int64_t file_length;
};

inline constexpr Plan kFullPlan{512, 131072, 8388608};

static_assert(kFullPlan.world_size_cap < kTableSlots);

// The name standard error gives the program, whatever it was started as.
inline constexpr const char kProgramName[] = "quenda-lite";

// File names. Worker files add the rank, "@" and the processor name.
inline constexpr const char kFilePrefix[] = "data64-windows-";
inline constexpr const char kCollectorFile[] = "data64-windows-cluster.tmp";
inline constexpr const char kCollectorBlockFile[] = "data64-windows-cluster";
inline constexpr const char kFileSuffix[] = ".tmp";

// The byte that every byte-wise write puts into its file.
inline constexpr char kFillByte = 0x0B;

// Display scales.
inline constexpr double kMillion = 1000000.0;
inline constexpr double kMegabyteFactor = 0.0009765625;  // 2^-10, applied twice

}  // namespace quenda

#endif  // QUENDA_PLAN_H_
