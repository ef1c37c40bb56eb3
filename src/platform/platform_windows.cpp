#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

namespace quenda::platform {

int open_descriptor(const char* name) {
  int descriptor = -1;
  // Read/write and create-if-missing, nothing more: the runtime's default
  // text mode stays, and with it the check for a closing CTRL+Z that a
  // read/write open in text mode makes, which is part of what this open
  // costs on Windows. Deny-none sharing, like every other open of the
  // benchmark. _S_IREAD | _S_IWRITE is what 0777 means on Windows.
  (void)_sopen_s(&descriptor, name, _O_RDWR | _O_CREAT, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  return descriptor;
}

void close_descriptor(int descriptor) {
  // The Microsoft C runtime's invalid-parameter handler ends the process on
  // _close(-1). A failed open is answered the POSIX way instead: the close
  // fails with a bad-descriptor error and has no other effect.
  close_unless_failed(descriptor, _close);
}

const char* current_directory() { return _getcwd(nullptr, 0); }

void discard_console_input() {
  // Defined by the Microsoft C runtime for input streams.
  (void)fflush(stdin);
}

}  // namespace quenda::platform
