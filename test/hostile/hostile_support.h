// The scenes of the hostile runs: a job enclosed in namespaces of its own, a
// working directory replaced by a tmpfs of a chosen size or mode, processes
// found by the program they were started from, the console split by rank,
// and what a run leaves in its directory.
#ifndef QUENDA_TEST_HOSTILE_HOSTILE_SUPPORT_H_
#define QUENDA_TEST_HOSTILE_HOSTILE_SUPPORT_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/expected_report.h"
#include "support/job.h"

namespace quenda::hostile {

using e2e::described_file;
using e2e::directory_entries;
using e2e::filled;
using e2e::is_results_name;
using e2e::JobOptions;
using e2e::JobResult;
using e2e::kEmptyFile;
using e2e::Lines;
using e2e::normal_scratch;
using e2e::Pattern;
using e2e::quoted;
using e2e::ReportShape;
using e2e::scratch_entries;
using e2e::scratch_names;
using e2e::Sink;
using e2e::TemporaryFolder;
using e2e::worker_copy;
using e2e::worker_file;
using testing::count_occurrences;

// The line the byte-wise read writes to a process's console when its file
// cannot be opened.
inline constexpr const char kUnableToOpen[] = "Unable to open file";

// The prefix that runs a command in new namespaces of the given kinds (for
// example "--mount --propagation private" or "--uts"): unshare itself as
// root, otherwise inside a user namespace that maps the caller to root.
// Empty when this machine allows neither.
std::string namespace_prefix(const std::string& kinds);

// Why a test that needs namespaces did not run.
inline constexpr const char kNoNamespaces[] =
    "this machine allows no private namespaces (run as root, or allow user namespaces)";

// True in CI (the CI environment variable is set), where every scene must
// run: a scene that cannot be set up there is a failure, not a skip.
bool every_scene_must_run();

// Leaves the current test for `reason`: skipped on a machine that cannot set
// the scene up, failed in CI.
#define QUENDA_SCENE_UNAVAILABLE(reason)                               \
  do {                                                                 \
    if (::quenda::hostile::every_scene_must_run()) FAIL() << (reason); \
    GTEST_SKIP() << (reason);                                          \
  } while (false)

// Launcher arguments that preload `library` into the benchmark's processes
// (and nowhere else), with `variables` ("NAME=value", no spaces) set for
// them. A sanitizer runtime tolerates the library ahead of it.
std::string preloading(const std::string& library, const std::vector<std::string>& variables);

// The benchmark's own lines on a job's standard error, by rank, each rank's
// in the order it wrote them, without the tag --tag-output adds; the
// launcher's notices are left out.
std::map<int, Lines> failures_by_rank(const std::string& errors);

// The line a process writes when the file operations of `test` failed on
// `file` for `reason`.
std::string failure_line(int rank, const std::string& node, const std::string& test,
                         const std::string& file, const std::string& reason);

// The collector's line when its results file at `path` was never created,
// or was created and then lost lines.
std::string results_file_failure(const std::string& node, const std::string& path,
                                 const std::string& reason, bool created);

// The reason given for a file the test needs whole that holds `size` bytes
// instead of the small plan's file length.
std::string holds(std::int64_t size);

// A tmpfs put in place of the working directory for one job.
struct Tmpfs {
  std::string size;        // the tmpfs size option, for example "8k"
  bool read_only = false;  // remounted read-only once seeded
  // When set, the job runs under this host name; the namespaces must then
  // include a UTS namespace ("--uts").
  std::string host_name = {};
};

// Runs the job in a private mount namespace in which options.directory is a
// fresh tmpfs seeded with the directory's contents. When the job has ended,
// the tmpfs's contents replace the directory's, so that the test sees what
// the job left behind. `mount_prefix` is namespace_prefix's answer for
// "--mount --propagation private".
JobResult run_on_tmpfs(const JobOptions& options, const Tmpfs& tmpfs,
                       const std::string& mount_prefix);

// The lines of a console made with the launcher's --tag-output, by rank.
// The launcher tags what it reads from a process in pieces, and a piece may
// end within a line; such a line is joined up again. Text without a tag is
// kept under rank -1.
std::map<int, Lines> lines_by_rank(const std::string& tagged_console);

// Regular files held under read leases: a process that opens one to write waits until they
// are released (or the system's lease-break time, 45 seconds by default, has passed). Creates
// each file if missing; throws, naming it, where one cannot be held.
class HeldFiles {
 public:
  HeldFiles(const std::filesystem::path& directory, const std::vector<std::string>& names);
  ~HeldFiles() { release(); }
  HeldFiles(const HeldFiles&) = delete;
  HeldFiles& operator=(const HeldFiles&) = delete;
  bool held() const { return !descriptors_.empty(); }
  void release();

 private:
  std::vector<int> descriptors_;
};

// A process and the rank the launcher gave it (-1 when none).
struct Started {
  pid_t pid;
  int rank;
};

// The live processes whose program argument (argv[0]) is exactly `program`.
std::vector<Started> processes_started_from(const std::string& program);

// The expected report of a run, matched line by line; an empty string when
// every line matches.
std::string match_report(const Lines& lines, const std::vector<Pattern>& expected);

}  // namespace quenda::hostile

#endif  // QUENDA_TEST_HOSTILE_HOSTILE_SUPPORT_H_
