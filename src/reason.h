// The system's words for an error number, shared by the benchmark and the
// results tool.
#ifndef QUENDA_REASON_H_
#define QUENDA_REASON_H_

#include <string>
#include <string_view>
#include <system_error>

namespace quenda {

// The system's words for an errno value, or `otherwise` when it is 0.
inline std::string reason_for(int error, std::string_view otherwise) {
  return error != 0 ? std::generic_category().message(error) : std::string(otherwise);
}

}  // namespace quenda

#endif  // QUENDA_REASON_H_
