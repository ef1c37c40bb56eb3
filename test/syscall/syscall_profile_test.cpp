// The calls each timed test makes reach the operating system exactly as the
// tests intend, and nothing else does: the driver runs the six single-process
// tests under strace, each bracketed by markers, and every bracket must hold
// precisely the expected sequence of calls.
//
// Calls are compared in a canonical form: descriptors are named after the
// open that returned them within the bracket (#1, #2, ...), so a call on a
// descriptor the test did not open (a log, the console) stands out; reads
// show the requested and returned counts; write and writev both show as
// "write" with their length, and a short write shows its bytes. A reading of
// the MPI clock shows as "clock".
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plan.h"
#include "support/files.h"
#include "support/process.h"
#include "trace_reader.h"

namespace quenda::syscall {
namespace {

// Counts small enough for a traced run of a few seconds. The file is longer
// than two input buffers, so the byte-wise read refills its buffer and the
// block read takes the library's direct path, as with the full plan.
constexpr int kCycles = 100;
constexpr std::int64_t kLength = 16500;
constexpr std::int64_t kSecond = kLength / 2;

// The fewest bytes one read of a buffered pass may ask for: far more than
// one, which is what an unbuffered stream would request per byte.
constexpr long kLeastBuffer = 512;

using Profile = std::vector<std::string>;

// "#k", the name of the descriptor returned by the k-th open of a bracket.
// (Built by appending: GCC 12 warns falsely about "#" + std::string.)
std::string descriptor_label(int k) {
  std::string label(1, '#');
  label += std::to_string(k);
  return label;
}

struct Canonical {
  std::map<std::string, std::string> names;  // descriptor number -> "#k"
  int opened = 0;

  std::string descriptor(const std::string& number) const {
    const auto found = names.find(number);
    return found != names.end() ? found->second : "fd " + number + " (not opened here)";
  }

  std::string operator()(const Call& call) {
    const auto& a = call.args;
    std::ostringstream out;
    if (call.name == "clock") return call.name;
    if (call.name == "openat" && a.size() >= 3) {
      out << "openat " << a[1] << ' ' << a[2];
      if (a.size() > 3) out << ' ' << a[3];
      std::string result = call.result;
      if (!result.empty() && result[0] != '-') {
        names[result] = descriptor_label(++opened);
        result = names[result];
      }
      out << " = " << result;
    } else if ((call.name == "close" || call.name == "fsync") && a.size() == 1) {
      out << call.name << ' ' << descriptor(a[0]) << " = " << call.result;
    } else if (call.name == "read" && a.size() == 3) {
      out << "read " << descriptor(a[0]) << ' ' << a[2] << " = " << call.result;
    } else if (call.name == "write" && a.size() == 3) {
      out << "write " << descriptor(a[0]) << ' ';
      if (std::stol(a[2]) <= 8) out << a[1] << ' ';
      out << a[2] << " = " << call.result;
    } else if (call.name == "writev" && a.size() == 3) {
      out << "write " << descriptor(a[0]) << ' ' << call.result << " = " << call.result;
    } else if (call.name == "lseek" && a.size() == 3) {
      out << "lseek " << descriptor(a[0]) << ' ' << a[1] << ' ' << a[2] << " = " << call.result;
    } else {
      out << call.name << '(';
      for (std::size_t i = 0; i < a.size(); ++i) out << (i ? ", " : "") << a[i];
      out << ") = " << call.result;
    }
    return out.str();
  }
};

Profile canonical(const std::vector<Call>& calls) {
  Canonical form;
  Profile profile;
  for (const Call& call : calls) profile.push_back(form(call));
  return profile;
}

std::string quoted(const char* name) { return std::string("\"") + name + "\""; }

// --- The expected profiles ---------------------------------------------------

Profile stream_handling(int cycles, const char* name = kCollectorFile) {
  const std::string file = quoted(name);
  Profile p;
  for (int c = 0; c < cycles; ++c) {
    const std::string out = descriptor_label(2 * c + 1);
    const std::string in = descriptor_label(2 * c + 2);
    p.push_back("openat " + file + " O_WRONLY|O_CREAT|O_TRUNC 0666 = " + out);
    p.push_back("openat " + file + " O_RDONLY = " + in);
    p.push_back("close " + in + " = 0");
    p.push_back("close " + out + " = 0");
    p.push_back("unlink(" + file + ") = 0");
  }
  return p;
}

Profile descriptor_handling(int cycles, const char* name = kCollectorFile) {
  const std::string file = quoted(name);
  Profile p;
  for (int c = 0; c < cycles; ++c) {
    const std::string fd = descriptor_label(c + 1);
    p.push_back("openat " + file + " O_RDWR|O_CREAT 0777 = " + fd);
    p.push_back("close " + fd + " = 0");
    p.push_back("unlink(" + file + ") = 0");
  }
  return p;
}

// `second`: where the second pass starts, and how many bytes it takes.
Profile bytewise_write(std::int64_t length, std::int64_t second = kSecond,
                       const char* name = kCollectorFile) {
  Profile p{"openat " + quoted(name) + " O_WRONLY|O_CREAT|O_TRUNC 0666 = #1"};
  // strace shows the fill byte 0x0B as "\v".
  const std::string one_byte = R"(write #1 "\v" 1 = 1)";
  p.insert(p.end(), static_cast<std::size_t>(length), one_byte);
  p.push_back("lseek #1 0 SEEK_SET = 0");
  p.push_back("lseek #1 " + std::to_string(second) + " SEEK_SET = " + std::to_string(second));
  p.insert(p.end(), static_cast<std::size_t>(second), one_byte);
  return p;
}

// `buffer` is what every refill of the stream's input buffer asks for. The
// worker's read closes its input; the collector's leaves that to the
// bracket of its report lines.
Profile bytewise_read(std::int64_t length, long buffer, std::int64_t second = kSecond,
                      const char* name = kCollectorFile, bool closes = false) {
  const std::string request = "read #1 " + std::to_string(buffer) + " = ";
  Profile p{"openat " + quoted(name) + " O_RDONLY = #1", "lseek #1 0 SEEK_SET = 0"};
  // The first pass reads to the end: full buffers, the rest, then end of file.
  for (std::int64_t left = length; left > 0; left -= buffer)
    p.push_back(request + std::to_string(std::min<std::int64_t>(left, buffer)));
  p.push_back(request + "0");
  p.push_back("lseek #1 0 SEEK_SET = 0");
  p.push_back("lseek #1 " + std::to_string(second) + " SEEK_SET = " + std::to_string(second));
  // The second pass takes `second` bytes from the offset `second` on.
  for (std::int64_t taken = 0, left = length - second; taken < second;) {
    const std::int64_t got = std::min<std::int64_t>(left, buffer);
    p.push_back(request + std::to_string(got));
    taken += got;
    left -= got;
  }
  if (closes) p.push_back("close #1 = 0");
  return p;
}

Profile block_read(std::int64_t length, const char* name = kCollectorFile) {
  const std::string n = std::to_string(length);
  return {"openat " + quoted(name) + " O_RDONLY = #1", "lseek #1 0 SEEK_END = " + n,
          "lseek #1 0 SEEK_CUR = " + n, "lseek #1 0 SEEK_SET = 0", "read #1 " + n + " = " + n};
}

Profile block_write(std::int64_t length, const char* name = kCollectorBlockFile) {
  const std::string n = std::to_string(length);
  return {"openat " + quoted(name) + " O_WRONLY|O_CREAT|O_TRUNC 0666 = #1",
          "write #1 " + n + " = " + n};
}

// Every call a test makes lies inside its timed stretch, after its first
// reading of the clock and before its second.
Profile timed(Profile calls) {
  calls.insert(calls.begin(), "clock");
  calls.push_back("clock");
  return calls;
}

// The request size of the byte-wise read's first read, or 0 without one.
long first_read_request(const std::vector<Call>& calls) {
  for (const Call& call : calls)
    if (call.name == "read" && call.args.size() == 3) return std::stol(call.args[2]);
  return 0;
}

// "" when `actual` is exactly `expected`, else where they part.
std::string compare(const Profile& actual, const Profile& expected) {
  const std::size_t common = std::min(actual.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (actual[i] != expected[i])
      return "call " + std::to_string(i + 1) + ": got \"" + actual[i] + "\", expected \"" +
             expected[i] + "\"";
  }
  if (actual.size() == expected.size()) return "";
  return std::to_string(actual.size()) + " calls, expected " + std::to_string(expected.size()) +
         (actual.size() > common ? "; first extra: \"" + actual[common] + "\""
                                 : "; first missing: \"" + expected[common] + "\"");
}

// Every test's verdict, the collector's six, its read's report lines and the
// worker's six: "" when its bracket holds exactly its profile.
std::map<std::string, std::string> check_profiles(
    const std::map<std::string, std::vector<Call>>& stretches) {
  std::map<std::string, std::string> verdicts;
  auto check = [&](const std::string& test, const Profile& expected) {
    const auto found = stretches.find(test);
    verdicts[test] = found == stretches.end() ? "no bracket in the trace"
                                              : compare(canonical(found->second), timed(expected));
  };
  check("stream_handling", stream_handling(kCycles));
  check("descriptor_handling", descriptor_handling(kCycles));
  check("bytewise_write", bytewise_write(kLength));
  const auto read = stretches.find("bytewise_read");
  const long buffer = read == stretches.end() ? 0 : first_read_request(read->second);
  if (buffer < kLeastBuffer) {
    verdicts["bytewise_read"] =
        "the first read asks for " + std::to_string(buffer) + " bytes: the stream is not buffered";
  } else {
    check("bytewise_read", bytewise_read(kLength, buffer));
  }
  check("block_read", block_read(kLength));
  check("block_write", block_write(kLength));
  // The collector's read closes its input only once its four report lines
  // are on the console and then in the results file. (Its open is the call
  // after its first clock reading.) Standard output may be unbuffered (MPICH
  // leaves it so), which writes a line in pieces: a run of console writes
  // counts as one.
  const auto lines = stretches.find("bytewise_read_lines");
  if (read != stretches.end() && lines != stretches.end()) {
    Profile actual;
    std::string results = "1";
    for (const Call& call : lines->second) {
      const std::string descriptor = call.args.at(0);
      if (results == "1" && call.name != "close" && descriptor != "1") results = descriptor;
      const std::string entry = (call.name == "writev" ? "write" : call.name) + " " +
                                Canonical().descriptor(descriptor);
      if (descriptor != "1" || actual.empty() || actual.back() != entry) actual.push_back(entry);
    }
    Profile expected{"write fd 1 (not opened here)"};
    expected.insert(expected.end(), 4, "write fd " + results + " (not opened here)");
    expected.push_back("close fd " + read->second.at(1).result + " (not opened here)");
    verdicts["bytewise_read_lines"] =
        results == "1" ? "no line in the results file" : compare(actual, expected);
  }
  // The worker forms of worker 2 on node "node", whose second passes take
  // kLength / 3 bytes.
  constexpr std::int64_t kWorkerSecond = kLength / 3;
  check("worker_stream_handling", stream_handling(kCycles, "data64-windows-2@node.tmp"));
  check("worker_descriptor_handling", descriptor_handling(kCycles, "data64-windows-2@node.tmp"));
  check("worker_bytewise_write",
        bytewise_write(kLength, kWorkerSecond, "data64-windows-2@node.tmp"));
  check("worker_bytewise_read",
        bytewise_read(kLength, buffer, kWorkerSecond, "data64-windows-2@node.tmp", true));
  check("worker_block_read", block_read(kLength, "data64-windows-2@node.tmp"));
  check("worker_block_write", block_write(kLength, "data64-windows-2@node"));
  return verdicts;
}

// --- Running the driver under strace -------------------------------------------

// What the traced run is made of besides the six tests.
enum class Scene {
  kPlain,
  kStray,     // the driver adds a call of its own inside every bracket
  kOccupied,  // directories stand where the collector's files go
};

// Runs the driver under strace in a fresh directory; returns the trace's
// brackets by test, or none with `error` set.
std::map<std::string, std::vector<Call>> traced_run(Scene scene, std::string& error) {
  const std::string strace = QUENDA_STRACE;
  if (strace.empty() || strace.find("NOTFOUND") != std::string::npos) {
    error = "strace is not installed (scripts/setup.sh installs it)";
    return {};
  }
  const testing::TemporaryFolder directory;
  if (scene == Scene::kOccupied) {
    // Directories in the places of both collector files, each holding a
    // file so that removing them fails too: nothing the tests create or
    // remove can succeed.
    for (const char* name : {kCollectorFile, kCollectorBlockFile}) {
      std::filesystem::create_directory(directory.path() / name);
      testing::write_file(directory.path() / name / "keep", "keep");
    }
  }
  const std::filesystem::path trace = directory.path() / "trace";
  // --seccomp-bpf stops only at the traced calls, which keeps 25,000 one-byte
  // writes down to a few seconds; %file and %desc cover every call that names
  // a file or takes a descriptor.
  std::vector<std::string> command = {strace, "-f", "--seccomp-bpf", "-qq", "-s", "48",
                                      "-e", "trace=%file,%desc", "-o", trace.string(),
                                      QUENDA_PROFILE_DRIVER, std::to_string(kCycles),
                                      std::to_string(kLength)};
  if (scene == Scene::kStray) command.push_back("--stray");
  const testing::ProcessResult traced =
      testing::run_process(command, directory.path(), {.out_path = "/dev/null"});
  if (traced.exit_code != 0) {
    error = "the traced driver failed: " + traced.err;
    return {};
  }
  return read_stretches(testing::read_file(trace), error);
}

TEST(SyscallProfile, EveryTimedTestMakesExactlyItsOwnCalls) {
  std::string error;
  const auto stretches = traced_run(Scene::kPlain, error);
  ASSERT_EQ(error, "");
  const auto verdicts = check_profiles(stretches);
  ASSERT_EQ(verdicts.size(), 13u);
  for (const auto& [test, verdict] : verdicts) EXPECT_EQ(verdict, "") << test;

  std::size_t reads = 0;
  for (const Call& call : stretches.at("bytewise_read")) reads += call.name == "read";
  EXPECT_LT(reads, 10u) << "a read per byte would be " << kLength + kSecond;
}

TEST(SyscallProfile, OneStrayCallInAnyTimedTestIsNoticed) {
  std::string error;
  const auto verdicts = check_profiles(traced_run(Scene::kStray, error));
  ASSERT_EQ(error, "");
  ASSERT_EQ(verdicts.size(), 13u);
  for (const auto& [test, verdict] : verdicts) {
    // The stray write goes to /dev/null, a descriptor no test opened.
    EXPECT_NE(verdict.find("not opened here"), std::string::npos) << test << ": " << verdict;
  }
}

TEST(SyscallProfile, WhenNoFileCanBeCreatedEveryHandlingCycleStillRuns) {
  std::string error;
  const auto stretches = traced_run(Scene::kOccupied, error);
  ASSERT_EQ(error, "");
  for (const char* test : {"stream_handling", "descriptor_handling"}) {
    ASSERT_EQ(stretches.count(test), 1u) << test;
    int creates = 0;
    int failed_creates = 0;
    int removes = 0;
    for (const Call& call : stretches.at(test)) {
      if (call.name == "openat" && call.args.size() >= 3 &&
          call.args[2].find("O_CREAT") != std::string::npos) {
        ++creates;
        failed_creates += call.result.rfind("-1", 0) == 0;
      }
      removes += call.name == "unlink";
    }
    EXPECT_EQ(creates, kCycles) << test;
    EXPECT_EQ(failed_creates, kCycles) << test;
    EXPECT_EQ(removes, kCycles) << test;
  }
}

TEST(TraceReader, JoinsSplitCallsAndKeepsOnlyTheMarkingThread) {
  const std::string trace =
      "7 write(3, \"quenda-mark clock\", 17) = 17\n"
      "7 write(3, \"quenda-mark begin t\", 19) = 19\n"
      "7 write(3, \"quenda-mark clock\", 17) = 17\n"
      "7 openat(AT_FDCWD, \"a, b\", O_RDONLY <unfinished ...>\n"
      "8 read(5, \"x\", 1) = 1\n"
      "7 <... openat resumed>) = 4\n"
      "8 close(5) = 0\n"
      "7 lseek(4, 0, SEEK_END) = 12\n"
      "7 --- SIGCHLD {si_signo=SIGCHLD} ---\n"
      "7 write(3, \"quenda-mark end t\", 17) = 17\n"
      "7 close(4) = 0\n";
  std::string error;
  const auto stretches = read_stretches(trace, error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(stretches.count("t"), 1u);
  EXPECT_EQ(canonical(stretches.at("t")),
            (Profile{"clock", R"(openat "a, b" O_RDONLY = #1)", "lseek #1 0 SEEK_END = 12"}));

  // Short process ids are padded with a second blank.
  const auto padded = read_stretches(
      "912  write(3, \"quenda-mark begin t\", 19) = 19\n"
      "912  close(4) = 0\n"
      "912  write(3, \"quenda-mark end t\", 17) = 17\n",
      error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(padded.count("t"), 1u);
  EXPECT_EQ(canonical(padded.at("t")), (Profile{"close fd 4 (not opened here) = 0"}));

  read_stretches("7 write(3, \"quenda-mark begin t\", 19) = 19\n", error);
  EXPECT_EQ(error, "no end marker for t");
}

}  // namespace
}  // namespace quenda::syscall
