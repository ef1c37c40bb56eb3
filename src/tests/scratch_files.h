// The files and streams that the byte-wise and block tests share for the life
// of the process: the byte-wise write leaves its file open and behind, the
// byte-wise read and the block read take turns on one input stream, and the
// block write copies the block read's buffer to a second file.
#ifndef QUENDA_TESTS_SCRATCH_FILES_H_
#define QUENDA_TESTS_SCRATCH_FILES_H_

#include <cstdint>
#include <fstream>
#include <memory>

#include "plan.h"

namespace quenda {

struct ScratchFiles {
  std::ofstream bytewise_out;              // open from the byte-wise write on
  std::ifstream in;                        // byte-wise read, then block read
  std::ofstream block_out;                 // block write
  char input_name[kNameBufferSize] = {};   // a worker's ".tmp" file
  char output_name[kNameBufferSize] = {};  // a worker's block copy
  char byte = 0;                           // receives every byte read one at a time
  std::int64_t count = 0;                  // second-pass count, then the block's byte count
  std::unique_ptr<char[]> buffer;          // the block read's buffer, kept to the end
};

inline constexpr std::ios::openmode kBinaryWrite = std::ios::binary | std::ios::out;
inline constexpr std::ios::openmode kBinaryRead = std::ios::binary | std::ios::in;

}  // namespace quenda

#endif  // QUENDA_TESTS_SCRATCH_FILES_H_
