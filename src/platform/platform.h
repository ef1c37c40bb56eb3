// The few operating-system services whose spelling differs between POSIX and
// Windows. Everything above this seam is platform-free.
#ifndef QUENDA_PLATFORM_PLATFORM_H_
#define QUENDA_PLATFORM_PLATFORM_H_

#include <cerrno>
#include <cstdint>
#include <optional>

namespace quenda::platform {

// Opens (creating if missing, never truncating) a file for reading and
// writing with permission 0777 and no sharing restriction. Returns the
// descriptor, or -1 when the open fails.
int open_descriptor(const char* name);

// Closes a descriptor. A descriptor of -1 fails with a bad-descriptor error
// and has no other effect; it never ends the process.
void close_descriptor(int descriptor);

// What close_descriptor does where the C runtime must not see -1: a
// negative descriptor (an open that failed) gets the bad-descriptor error a
// POSIX close gives it and never reaches `close_call`; any other goes to
// `close_call`.
template <typename CloseCall>
void close_unless_failed(int descriptor, CloseCall&& close_call) {
  if (descriptor < 0) {
    errno = EBADF;
    return;
  }
  (void)close_call(descriptor);
}

// Whether the errno value that a run of the descriptor test left (cleared
// before it) can come from a call of the test that failed. A call that
// worked may leave a value behind where the C runtime says so (below).
bool descriptor_calls_failed(int error);

// A file as the system tells files apart while it keeps its name.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t number = 0;
  bool operator==(const FileId&) const = default;
};

// The file at `name` now, or nothing (errno says why) when the name is gone.
// Where a file that a process holds open can be neither removed nor renamed
// (Windows), every file that exists is the same to this.
std::optional<FileId> identify_file(const char* name);

// The current working directory, allocated once and never freed, or nullptr
// when it cannot be determined.
const char* current_directory();

// Discards unread console input where the C library defines doing so.
void discard_console_input();

}  // namespace quenda::platform

#endif  // QUENDA_PLATFORM_PLATFORM_H_
