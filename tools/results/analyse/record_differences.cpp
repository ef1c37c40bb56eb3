#include "analyse/record_differences.h"

#include <algorithm>
#include <utility>

#include "write/text_escape.h"

namespace quenda::results {
namespace {

const NodeRecord* find_node(const RunRecord& record, const std::string& name) {
  const auto found = std::find_if(record.nodes.begin(), record.nodes.end(),
                                  [&name](const NodeRecord& node) { return node.name == name; });
  return found == record.nodes.end() ? nullptr : &*found;
}

// The names of `record`'s nodes that `other` does not have.
std::string only_in(const RunRecord& record, const RunRecord& other) {
  std::string names;
  for (const NodeRecord& node : record.nodes) {
    if (!find_node(other, node.name)) names += (names.empty() ? "" : ", ") + node.name;
  }
  return names;
}

std::string file_system(const NodeRecord& node) {
  return node.fstype + " (" + node.mount_options + ")";
}

// Adds a node's change of `item` to the difference of the same values, or
// as a new one.
void add_node_change(std::vector<RecordDifference>& differences, const std::string& item,
                     const std::string& node, std::string base, std::string next) {
  for (RecordDifference& known : differences) {
    if (known.item == item && known.base == base && known.next == next) {
      known.nodes.push_back(node);
      return;
    }
  }
  differences.push_back({item, {node}, false, std::move(base), std::move(next)});
}

const char* item_label(const std::string& item) {
  if (item == "cluster") return "cluster";
  if (item == "workdir") return "folder measured";
  if (item == "program_version") return "program version";
  if (item == "mpi_library") return "MPI library";
  if (item == "file_system") return "file system";
  return "kernel";
}

std::string shown(const std::string& value) { return value.empty() ? "(none)" : printable(value); }

}  // namespace

std::vector<RecordDifference> record_differences(const RunRecord& base, const RunRecord& next) {
  std::vector<RecordDifference> differences;
  const std::pair<const char*, std::string RunRecord::*> settings[]{
      {"cluster", &RunRecord::cluster},
      {"workdir", &RunRecord::workdir},
      {"program_version", &RunRecord::program_version},
      {"mpi_library", &RunRecord::mpi_library},
  };
  for (const auto& [item, member] : settings) {
    if (base.*member != next.*member)
      differences.push_back({item, {}, false, base.*member, next.*member});
  }
  std::string base_only = only_in(base, next);
  std::string next_only = only_in(next, base);
  if (!base_only.empty() || !next_only.empty()) {
    differences.push_back({"node_set", {}, false, std::move(base_only), std::move(next_only)});
  }
  std::size_t shared = 0;
  std::vector<RecordDifference> file_systems;
  std::vector<RecordDifference> kernels;
  for (const NodeRecord& before : base.nodes) {
    const NodeRecord* after = find_node(next, before.name);
    if (!after) continue;
    ++shared;
    if (file_system(before) != file_system(*after)) {
      add_node_change(file_systems, "file_system", before.name, file_system(before),
                      file_system(*after));
    }
    if (before.kernel != after->kernel) {
      add_node_change(kernels, "kernel", before.name, before.kernel, after->kernel);
    }
  }
  for (std::vector<RecordDifference>* changes : {&file_systems, &kernels}) {
    for (RecordDifference& change : *changes) {
      change.every_node = shared > 1 && change.nodes.size() == shared;
      differences.push_back(std::move(change));
    }
  }
  return differences;
}

std::string difference_line(const RecordDifference& difference) {
  if (difference.item == "node_set") {
    std::string line = "record: nodes:";
    if (!difference.base.empty()) line += " only in base " + printable(difference.base);
    if (!difference.base.empty() && !difference.next.empty()) line += ";";
    if (!difference.next.empty()) line += " only in new " + printable(difference.next);
    return line;
  }
  std::string line = std::string("record: ") + item_label(difference.item);
  const std::vector<std::string>& nodes = difference.nodes;
  if (difference.every_node) {
    line +=
        nodes.size() == 2 ? " on both nodes" : " on all " + std::to_string(nodes.size()) + " nodes";
  } else if (!nodes.empty()) {
    line += " on ";
    for (std::size_t i = 0; i < nodes.size(); ++i) line += (i ? ", " : "") + printable(nodes[i]);
  }
  return line + ": base " + shown(difference.base) + ", new " + shown(difference.next);
}

}  // namespace quenda::results
