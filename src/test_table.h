// The six tests in the order the report lists them, each with every name it
// goes by and the threshold of its verdict. The benchmark and the results
// tool both read this table; a seventh test starts with a row here.
#ifndef QUENDA_TEST_TABLE_H_
#define QUENDA_TEST_TABLE_H_

#include <array>
#include <string_view>

#include "plan.h"

namespace quenda {

enum class TestId {
  kStreamHandling,
  kDescriptorHandling,
  kBytewiseWrite,
  kBytewiseRead,
  kBlockRead,
  kBlockWrite,
};

// What a test counts: files handled per second, or accesses (bytes) per
// second, which the report shows in millions and in MB.
enum class Measure { kFiles, kAccesses };

struct TestInfo {
  TestId id;
  std::string_view key;    // in the results tool's JSON and CSV
  const char* name;        // on standard error
  std::string_view label;  // over the results tool's chart panel
  Measure measure;
  // File handling compares the plain standard deviation in files per
  // second, the other tests compare it in millions of accesses per second.
  double threshold;
};

inline constexpr std::array<TestInfo, kTestCount> kTests{{
    {TestId::kStreamHandling, "stream_handling", "stream handling",
     "Handling files: streams (Lower)", Measure::kFiles, 1.5},
    {TestId::kDescriptorHandling, "descriptor_handling", "descriptor handling",
     "Handling files: descriptors (Higher)", Measure::kFiles, 1.5},
    {TestId::kBytewiseWrite, "bytewise_write", "byte-wise write", "Low speed: byte-wise writing",
     Measure::kAccesses, 0.01},
    {TestId::kBytewiseRead, "bytewise_read", "byte-wise read", "Low speed: byte-wise reading",
     Measure::kAccesses, 1.0},
    {TestId::kBlockRead, "block_read", "block read", "High speed: block reading",
     Measure::kAccesses, 150.0},
    {TestId::kBlockWrite, "block_write", "block write", "High speed: block writing",
     Measure::kAccesses, 350.0},
}};

constexpr const TestInfo& test_info(TestId id) { return kTests[static_cast<int>(id)]; }
constexpr const char* test_name(TestId id) { return test_info(id).name; }
constexpr double threshold_of(TestId id) { return test_info(id).threshold; }

constexpr bool rows_in_order() {
  for (int i = 0; i < kTestCount; ++i) {
    if (static_cast<int>(kTests[i].id) != i) return false;
  }
  return true;
}
static_assert(rows_in_order(), "kTests lists the tests in TestId order");

}  // namespace quenda

#endif  // QUENDA_TEST_TABLE_H_
