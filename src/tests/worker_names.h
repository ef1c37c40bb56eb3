// Names of a worker's scratch files: "data64-windows-<rank>@<processor>[.tmp]".
// The rank and the processor name keep workers that share a directory apart.
#ifndef QUENDA_TESTS_WORKER_NAMES_H_
#define QUENDA_TESTS_WORKER_NAMES_H_

#include <cstdio>

#include "plan.h"

namespace quenda {

// The worker's ".tmp" file. Truncates rather than overflows the buffer.
inline void format_worker_file_name(char (&buffer)[kNameBufferSize], int rank,
                                    const char* processor_name) {
  std::snprintf(buffer, sizeof buffer, "%s%d%s%s%s", kFilePrefix, rank, "@", processor_name,
                kFileSuffix);
}

// The worker's block-write output: the same name without ".tmp".
inline void format_worker_output_name(char (&buffer)[kNameBufferSize], int rank,
                                      const char* processor_name) {
  std::snprintf(buffer, sizeof buffer, "%s%d%s%s", kFilePrefix, rank, "@", processor_name);
}

}  // namespace quenda

#endif  // QUENDA_TESTS_WORKER_NAMES_H_
