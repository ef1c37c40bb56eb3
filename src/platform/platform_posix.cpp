#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

namespace quenda::platform {

int open_descriptor(const char* name) { return ::open(name, O_RDWR | O_CREAT, 0777); }

void close_descriptor(int descriptor) {
  // close(-1) fails with EBADF and does nothing else; the benchmark ignores it.
  (void)::close(descriptor);
}

const char* current_directory() { return ::getcwd(nullptr, 0); }

void discard_console_input() {
  // fflush on an input stream is only defined by POSIX for seekable files;
  // standard input of an MPI job is a pipe or a terminal, so nothing to do.
}

}  // namespace quenda::platform
