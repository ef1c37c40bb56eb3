// Every name the benchmark gives a file, made and read back side by side, so
// that the benchmark and the results tool cannot disagree about one:
//   results_quenda_lite_windows_clusters @ <processor> @ local date Y.m.d time H.M.S.txt
//   data64-windows-<rank>@<processor>.tmp  (a worker's scratch file)
//   data64-windows-<rank>@<processor>      (its block copy)
#ifndef QUENDA_FILE_NAMES_H_
#define QUENDA_FILE_NAMES_H_

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "plan.h"
#include "report_texts.h"

namespace quenda {

// The results file's name for a run started at `local_time`.
inline std::string results_file_name(const char* processor_name, const std::tm& local_time) {
  std::array<char, 1024> date{};
  std::strftime(date.data(), date.size(), "local date %Y.%m.%d time %H.%M.%S.txt", &local_time);
  std::string name = texts::kResultsFilePrefix;
  name += processor_name;
  name += " @ ";
  name += date.data();
  return name;
}

// The results-file name for a run starting now, in local time.
inline std::string results_file_name_now(const char* processor_name) {
  const std::time_t now = std::time(nullptr);
  // localtime's result is a static buffer; this runs once, on one thread.
  const std::tm* local = std::localtime(&now);
  return results_file_name(processor_name, local != nullptr ? *local : std::tm{});
}

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

// A results-file name taken apart; the views point into the name read.
struct ResultsFileName {
  std::string_view processor_name;
  std::string_view date;  // "Y.m.d", the year of any number of digits
  std::string_view time;  // "H.M.S"
};

// A worker file's name taken apart; the view points into the name read.
struct WorkerFileName {
  std::uint64_t rank;
  std::string_view processor_name;  // never empty
};

namespace file_names {

inline bool digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "A.BB.CC" in digits, with A of `first_width` digits or, when 0, of any.
inline bool stamp(std::string_view text, std::size_t first_width) {
  if (text.size() < 6) return false;
  const std::string_view first = text.substr(0, text.size() - 6);
  const std::string_view rest = text.substr(first.size());
  return digits(first) && (first_width == 0 || first.size() == first_width) && rest[0] == '.' &&
         rest[3] == '.' && digits(rest.substr(1, 2)) && digits(rest.substr(4, 2));
}

}  // namespace file_names

// The parts of a name results_file_name makes, or nothing for any other
// name. The processor name may hold anything, " @ " included: the date is
// found from the end.
inline std::optional<ResultsFileName> read_results_file_name(std::string_view name) {
  constexpr std::string_view kDateStart = " @ local date ";
  constexpr std::string_view kTimeStart = " time ";
  constexpr std::string_view kEnd = ".txt";
  constexpr std::size_t kClockWidth = 8;  // "HH.MM.SS"
  const std::string_view prefix = texts::kResultsFilePrefix;
  if (!name.starts_with(prefix) || !name.ends_with(kEnd)) return std::nullopt;
  name.remove_suffix(kEnd.size());
  if (name.size() < kClockWidth) return std::nullopt;
  const std::string_view time = name.substr(name.size() - kClockWidth);
  name.remove_suffix(kClockWidth);
  if (!file_names::stamp(time, 2) || !name.ends_with(kTimeStart)) return std::nullopt;
  name.remove_suffix(kTimeStart.size());
  const std::size_t date_start = name.rfind(kDateStart);
  if (date_start == std::string_view::npos || date_start < prefix.size()) return std::nullopt;
  const std::string_view date = name.substr(date_start + kDateStart.size());
  if (!file_names::stamp(date, 0)) return std::nullopt;
  return ResultsFileName{name.substr(prefix.size(), date_start - prefix.size()), date, time};
}

// The rank and processor name of a worker's scratch file or block copy, or
// nothing for any other name (the collector's among them).
inline std::optional<WorkerFileName> read_worker_file_name(std::string_view name) {
  if (!name.starts_with(kFilePrefix)) return std::nullopt;
  name.remove_prefix(std::string_view(kFilePrefix).size());
  if (name.ends_with(kFileSuffix)) name.remove_suffix(std::string_view(kFileSuffix).size());
  const std::size_t at = name.find('@');
  if (at == std::string_view::npos || at + 1 == name.size()) return std::nullopt;
  const std::string_view digits = name.substr(0, at);
  std::uint64_t rank = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), rank);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return WorkerFileName{rank, name.substr(at + 1)};
}

}  // namespace quenda

#endif  // QUENDA_FILE_NAMES_H_
