#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace quenda::platform {

int open_descriptor(const char* name) { return ::open(name, O_RDWR | O_CREAT, 0777); }

void close_descriptor(int descriptor) {
  // close(-1) fails with EBADF and does nothing else; the benchmark ignores it.
  (void)::close(descriptor);
}

bool descriptor_calls_failed(int error) { return error != 0; }

std::optional<FileId> identify_file(const char* name) {
  struct stat status {};
  if (::stat(name, &status) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino)};
}

const char* current_directory() { return ::getcwd(nullptr, 0); }

void discard_console_input() {
  // glibc and POSIX define fflush on an input stream: unread buffered input is
  // dropped (and a seekable file repositioned). On a pipe or a terminal, which
  // is what a launcher gives rank 0, there is nothing to reposition.
  (void)std::fflush(stdin);
}

}  // namespace quenda::platform
