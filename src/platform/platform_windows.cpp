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

bool descriptor_calls_failed(int error) {
  // A read/write open in text mode looks for a closing CTRL+Z by seeking to
  // the last byte; on an empty file that seek fails and leaves EINVAL,
  // although the open works. No failing call of the test leaves EINVAL: a
  // failed open is followed by the close of -1 (EBADF), and a failed remove
  // leaves its own reason.
  return error != 0 && error != EINVAL;
}

std::optional<FileId> identify_file(const char* name) {
  // The results stream opens without sharing deletion, so its file can be
  // neither removed nor renamed while the run holds it open.
  if (_access(name, 0) != 0) return std::nullopt;
  return FileId{};
}

const char* current_directory() { return _getcwd(nullptr, 0); }

void discard_console_input() {
  // Defined by the Microsoft C runtime for input streams.
  (void)fflush(stdin);
}

}  // namespace quenda::platform
