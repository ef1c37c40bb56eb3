// What a test's file operations came to, found out after its timed stretch
// from what they left behind: the streams' sticky state, the errno the test
// left, the sizes of its files, and for the handling tests one fresh create
// and remove of the test's name. Nothing here runs between the clock
// readings, so the timed stretches make exactly the calls they measure.
#ifndef QUENDA_TESTS_OUTCOME_H_
#define QUENDA_TESTS_OUTCOME_H_

#include <cstdint>
#include <istream>
#include <ostream>

#include "run/failures.h"
#include "tests/file_handling.h"

namespace quenda {

// The stream handling test failed when its last cycle left a stream failed
// (an open or a close failed); a fresh create and remove of the name through
// a stream then gives the system's reason.
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
// shorter than `length`.
Outcome input_outcome(const char* name, std::int64_t length);

// The block read also fails when the stream that read is failed.
Outcome block_read_outcome(const char* name, const std::istream& in, int error,
                           std::int64_t length);

}  // namespace quenda

#endif  // QUENDA_TESTS_OUTCOME_H_
