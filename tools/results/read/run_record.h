// The record the batch script leaves beside the results file it copies to
// the submit folder (quenda-lite-<job id>.json): when and where the run took
// place, with what program and MPI library, and each node's file system and
// kernel, so that two runs can be told apart by more than their figures.
#ifndef QUENDA_TOOLS_RESULTS_READ_RUN_RECORD_H_
#define QUENDA_TOOLS_RESULTS_READ_RUN_RECORD_H_

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quenda::results {

// The layout of the record this tool reads; a record of a later layout is refused.
inline constexpr int kRecordVersion = 1;

struct NodeRecord {
  std::string name;  // as the node's hostname says, as in the rank map
  std::string fstype;
  std::string mount_options;
  std::string kernel;  // uname -r
};

struct RunRecord {
  std::string job_id;
  std::string cluster;    // empty where Slurm names none
  std::string start_utc;  // "YYYY-MM-DDTHH:MM:SSZ": sorts as the times do
  std::string end_utc;
  std::string workdir;       // the folder measured
  std::string results_file;  // the name, without folder, of the results copy
  std::string program_version;
  std::string mpi_library;
  std::vector<NodeRecord> nodes;
  std::filesystem::path path;  // where it was read from
};

// A record that cannot be read: what() is the reason, without the path.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The record in the file at `record`. Throws RecordError.
RunRecord read_record(const std::filesystem::path& record);

// The records in `folder` (its files named quenda-lite-*.json), each under
// the results file it names; where two name the same, the one that ended
// last (then the later name). Files that are not records are left out, and
// where `refused` is given, added to it with the reason.
using RefusedRecords = std::vector<std::pair<std::filesystem::path, std::string>>;
std::map<std::string, RunRecord> records_in(const std::filesystem::path& folder,
                                            RefusedRecords* refused = nullptr);

// The records of many folders, each folder read once (by its canonical
// path) and its refused records named once on the error stream.
class RecordFolders {
 public:
  explicit RecordFolders(std::ostream& err) : err_(err) {}
  const std::map<std::string, RunRecord>& in(const std::filesystem::path& folder);
  // The same without naming the refused: safe on several threads at once.
  const std::map<std::string, RunRecord>& quietly_in(const std::filesystem::path& folder);

 private:
  struct Folder {
    std::map<std::string, RunRecord> records;
    RefusedRecords refused;
    bool named = false;  // its refused records named
  };
  Folder& folder(const std::filesystem::path& folder);

  std::ostream& err_;
  std::mutex mutex_;
  std::map<std::filesystem::path, Folder> folders_;
  std::pair<std::filesystem::path, Folder*> last_;  // the folder asked for last, as named
};

// The record lying beside `results` (the quenda-lite-*.json in its folder
// whose results_file names it), if any. A folder is scanned once per call.
std::optional<RunRecord> record_beside(const std::filesystem::path& results);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_READ_RUN_RECORD_H_
