#include "tests/outcome.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace quenda {
namespace {

enum class Through { kStream, kDescriptor };

// Creates the file as the handling test does and removes it again; the
// reason when either fails.
std::optional<std::string> create_and_remove(const char* name, Through through) {
  errno = 0;
  if (through == Through::kStream) {
    std::ofstream probe(name, std::ios::binary | std::ios::out);
    if (!probe.is_open()) return reason_for(errno, "cannot be created");
  } else {
    const int descriptor = platform::open_descriptor(name);
    if (descriptor < 0) return reason_for(errno, "cannot be created");
    platform::close_descriptor(descriptor);
  }
  errno = 0;
  if (std::remove(name) != 0) return reason_for(errno, "cannot be removed");
  return std::nullopt;
}

// Why a file the test needs whole is not there as it should be: missing, no
// regular file, or fewer than `length` bytes.
std::optional<std::string> file_shortfall(const char* name, std::int64_t length) {
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (error) return error.message();
  if (std::filesystem::is_directory(status)) {
    return std::make_error_code(std::errc::is_a_directory).message();
  }
  if (!std::filesystem::is_regular_file(status)) return std::string("not a regular file");
  const auto size = std::filesystem::file_size(name, error);
  if (error) return error.message();
  if (size < static_cast<std::uintmax_t>(length)) {
    return "the file holds " + std::to_string(size) + " bytes, not " + std::to_string(length);
  }
  return std::nullopt;
}

Outcome failed_on(const char* name, std::string reason) { return Failure{name, std::move(reason)}; }

}  // namespace

Outcome stream_handling_outcome(const char* name, const HandlingFiles& files) {
  if (files.out.fail() || files.in.fail()) {
    const auto probe = create_and_remove(name, Through::kStream);
    return failed_on(name, probe ? *probe : "the last cycle's open or close failed");
  }
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(name, error))) return std::nullopt;
  errno = 0;
  if (std::remove(name) != 0) return failed_on(name, reason_for(errno, "cannot be removed"));
  return failed_on(name, "the last cycle's remove failed");
}

Outcome descriptor_handling_outcome(const char* name, int error) {
  if (!platform::descriptor_calls_failed(error)) return std::nullopt;
  const auto probe = create_and_remove(name, Through::kDescriptor);
  if (probe) return failed_on(name, *probe);
  return std::nullopt;
}

Outcome written_outcome(const char* name, const std::ostream& out, int error, std::int64_t length) {
  if (out.fail()) return failed_on(name, reason_for(error, "a write failed"));
  if (const auto shortfall = file_shortfall(name, length)) return failed_on(name, *shortfall);
  return std::nullopt;
}

Outcome read_outcome(const char* name, const std::istream& in, int error, std::int64_t length) {
  if (const auto shortfall = file_shortfall(name, length)) return failed_on(name, *shortfall);
  if (in.fail()) return failed_on(name, reason_for(error, "a read failed"));
  return std::nullopt;
}

const char* special_file_kind(const char* name) {
  std::error_code error;
  switch (std::filesystem::status(name, error).type()) {
    case std::filesystem::file_type::fifo:
      return "a named pipe (FIFO)";
    case std::filesystem::file_type::socket:
      return "a socket";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
      return "a device";
    default:
      return nullptr;
  }
}

}  // namespace quenda
