// A run as a JSON document: metadata, then per test the single-process
// figures, every worker's figures, the total, improvement, mean and verdict.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
#define QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_

#include <charconv>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyse/node_figures.h"
#include "read/results_file.h"
#include "read/run_record.h"

namespace quenda::results {

// The version of the layout of every JSON document the tool writes, its
// first member. Documents without it wrote a figure that is not finite as
// the string "inf", "-inf" or "nan".
inline constexpr int kJsonSchemaVersion = 2;

// A JSON document written as it goes into a string, laid out as
// nlohmann-json dumps with an indent of two, numbers and escapes included,
// so that every document the tool writes reads the same, byte for byte, as
// the ones its users' scripts were written against. In an object every
// value comes with its key, a word of the tool's own that needs no escape; in
// an array the key is ignored.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void open_object(std::string_view key = {}) { open(key, '{'); }
  void open_array(std::string_view key = {}) { open(key, '['); }
  void close();  // the innermost object or array

  // Invalid UTF-8 becomes U+FFFD.
  void text(std::string_view key, std::string_view value) {
    member(key);
    quote(value);
  }
  void boolean(std::string_view key, bool value) { raw(key, value ? "true" : "false"); }
  void null(std::string_view key) { raw(key, "null"); }
  void number(std::string_view key, double value);  // null where it is not finite
  template <std::integral Integer>
  void integer(std::string_view key, Integer value) {
    char digits[24];
    raw(key, std::string_view(digits, std::to_chars(digits, digits + sizeof digits, value).ptr));
  }

  // A figure: a number; null where the file does not hold it; null with
  // "<key>_reason" beside it ("not finite: inf", "-inf" or "nan") where it
  // is infinite or undefined (a timer that measured nothing), since JSON
  // has no such numbers.
  void figure(std::string_view key, const Figure& value);
  // An array of texts.
  void texts(std::string_view key, const std::vector<std::string>& values);
  // A verdict: true, false, or null where there is none.
  void verdict(std::string_view key, const std::optional<bool>& value) {
    raw(key, !value ? "null" : *value ? "true" : "false");
  }

 private:
  void open(std::string_view key, char bracket);
  void member(std::string_view key);   // what goes before a value
  void quote(std::string_view value);  // a string, escaped
  void raw(std::string_view key, std::string_view value) {
    member(key);
    out_ += value;
  }

  std::string& out_;
  std::vector<std::pair<char, bool>> open_;  // each open bracket, and whether it holds anything
};

// Figures are JSON numbers with the value the report printed.
// With the figures by node (a rank map was given), every worker also has
// "node" and "measurement", and every test "nodes" and "outlier_nodes".
// With the run's record, "record" holds it (put_record).
// The document replaces the text of `room`, whose memory it reuses.
std::string to_json(const RunResults& run, const RunNodes* nodes = nullptr,
                    const RunRecord* record = nullptr, std::string room = {});

// A run's record as the batch script wrote it, as the member `key`: its
// members under the same names, with "path", where it was read from, first.
void put_record(JsonWriter& json, std::string_view key, const RunRecord& record);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_JSON_OUTPUT_H_
