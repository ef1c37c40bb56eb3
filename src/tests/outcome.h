// What a test's file operations came to, found out after its timed stretch
// from what they left behind: the streams' sticky state, the errno the test
// left, the sizes of its files, and for the handling tests one fresh create
// and remove of the test's name. Nothing here runs between the clock
// readings, so the timed stretches make exactly the calls they measure.
#ifndef QUENDA_TESTS_OUTCOME_H_
#define QUENDA_TESTS_OUTCOME_H_

#include <cerrno>
#include <cstdint>
#include <istream>
#include <ostream>

#include "run/failures.h"
#include "tests/file_handling.h"

namespace quenda {

// The stream handling test failed when its last cycle left a stream failed
// (an open or a close failed); a fresh create and remove of the name through
// a stream then gives the system's reason. It failed as well when the name
// is still there, as every cycle ends by removing it: one more removal then
// gives the reason (a sticky folder where the file is another user's).
Outcome stream_handling_outcome(const char* name, const HandlingFiles& files);

// The descriptor handling test keeps nothing but errno: `error` is what the
// test left (cleared before it). A call failed when that is set and a fresh
// create and remove of the name through a descriptor fails as well; a value
// left by a call that worked is not taken for a failure.
Outcome descriptor_handling_outcome(const char* name, int error);

// A write test failed when the stream that wrote is failed (its open or a
// write failed; `error` is the errno the test left) or when the file holds
// fewer than `length` bytes or is not a regular file.
Outcome written_outcome(const char* name, const std::ostream& out, int error, std::int64_t length);

// A read test failed when its input is missing, not a regular file or
// shorter than `length`, or when the stream that read is failed: it never
// opened (`error` then gives the system's reason) or a read failed.
Outcome read_outcome(const char* name, const std::istream& in, int error, std::int64_t length);

// Closes a test's stream and examines that close alone: where the system
// takes writes on trust (network file systems, quotas) their error may only
// show here. A stream that never opened has nothing to close; its test has
// said why. What the stream's own close() does, with its result kept.
template <typename FileStream>
Outcome close_outcome(const char* name, FileStream& stream) {
  const bool was_open = stream.is_open();
  errno = 0;
  if (stream.rdbuf()->close() != nullptr) return std::nullopt;
  stream.setstate(std::ios::failbit);
  if (!was_open) return std::nullopt;
  return Failure{name, reason_for(errno, "the close failed")};
}

// What stands at `name` if it is a named pipe, a socket or a device, which
// would hold a test in its open for ever (a pipe waits for a reader), or
// nullptr: a regular file, a directory and nothing at all are for the tests
// to meet.
const char* special_file_kind(const char* name);

}  // namespace quenda

#endif  // QUENDA_TESTS_OUTCOME_H_
