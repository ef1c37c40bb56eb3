// What two runs' records say differently: the setting a change of figures
// may come from (another kernel, file system, mount options, program or MPI
// library, folder, cluster or set of nodes). Information, not a verdict.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_RECORD_DIFFERENCES_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_RECORD_DIFFERENCES_H_

#include <string>
#include <vector>

#include "read/run_record.h"

namespace quenda::results {

struct RecordDifference {
  // "cluster", "workdir", "program_version", "mpi_library", "node_set",
  // "file_system" or "kernel".
  std::string item;
  // For "file_system" and "kernel": the nodes of both runs where the base
  // and the new value below are found, in the base record's order.
  std::vector<std::string> nodes;
  bool every_node = false;  // `nodes` are all of the two or more nodes both runs have
  // The values of each run; for "node_set", the nodes only that run has
  // (", " between them); for "file_system", "TYPE (OPTIONS)".
  std::string base;
  std::string next;
};

// The differences in a fixed order: the run's settings, the set of nodes,
// then the nodes' file systems and kernels, nodes that changed alike in one.
std::vector<RecordDifference> record_differences(const RunRecord& base, const RunRecord& next);

// One line for the terminal, without its line end: "record: kernel on
// node-b: base 6.1.0-28-amd64, new 6.1.0-30-amd64".
std::string difference_line(const RecordDifference& difference);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_RECORD_DIFFERENCES_H_
