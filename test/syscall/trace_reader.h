// Reading a system-call trace as strace writes it with -f (every line starts
// with the thread id), and cutting out the calls between the markers that
// syscall_profile_driver writes around each test.
#ifndef QUENDA_TEST_SYSCALL_TRACE_READER_H_
#define QUENDA_TEST_SYSCALL_TRACE_READER_H_

#include <map>
#include <string>
#include <vector>

namespace quenda::syscall {

// One completed call: its name, its top-level arguments as strace printed
// them, and what it returned ("18", "-1 ENOENT (No such file or directory)").
struct Call {
  std::string name;
  std::vector<std::string> args;
  std::string result;
};

// The calls between "quenda-mark begin <test>" and "quenda-mark end <test>",
// by test name, made by the thread that wrote the markers; a
// "quenda-mark clock" among them (a reading of the MPI clock) stands in its
// place as a call named "clock". Split
// "<unfinished ...>" / "<... resumed>" pairs are joined first. On a malformed
// bracketing (an end without its begin, a missing end) `error` says which.
std::map<std::string, std::vector<Call>> read_stretches(const std::string& trace,
                                                        std::string& error);

}  // namespace quenda::syscall

#endif  // QUENDA_TEST_SYSCALL_TRACE_READER_H_
