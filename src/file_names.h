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

// The parts of a name results_file_name makes, or nothing for any other
// name. The processor name may hold anything, " @ " included: the date is
// found from the end.
inline std::optional<ResultsFileName> read_results_file_name(std::string_view name) {
  constexpr std::string_view kDateStart = " @ local date ";
  constexpr std::string_view kAfterYear = ".dd.dd time dd.dd.dd.txt";  // d: a digit
  const std::string_view prefix = texts::kResultsFilePrefix;
  if (!name.starts_with(prefix) || name.size() < prefix.size() + kAfterYear.size()) return {};
  const std::size_t after_year = name.size() - kAfterYear.size();
  for (std::size_t i = 0; i < kAfterYear.size(); ++i) {
    const char c = name[after_year + i];
    if (kAfterYear[i] == 'd' ? c < '0' || c > '9' : c != kAfterYear[i]) return {};
  }
  const std::size_t year = name.find_last_not_of("0123456789", after_year - 1) + 1;
  if (year == after_year || !name.substr(0, year).ends_with(kDateStart) ||
      year < prefix.size() + kDateStart.size()) {
    return {};
  }
  return ResultsFileName{name.substr(prefix.size(), year - kDateStart.size() - prefix.size()),
                         name.substr(year, after_year + 6 - year), name.substr(after_year + 12, 8)};
}

// A worker file's name taken apart; the view points into the name read.
struct WorkerFileName {
  std::uint64_t rank;
  std::string_view processor_name;  // never empty
};

// The rank and processor name of a worker's scratch file or block copy, or
// nothing for any other name (the collector's among them).
inline std::optional<WorkerFileName> read_worker_file_name(std::string_view name) {
  if (!name.starts_with(kFilePrefix)) return std::nullopt;
  name.remove_prefix(std::string_view(kFilePrefix).size());
  if (name.ends_with(kFileSuffix)) name.remove_suffix(std::string_view(kFileSuffix).size());
  const std::size_t at = name.find('@');
  if (at == std::string_view::npos || at + 1 == name.size()) return std::nullopt;
  std::uint64_t rank = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + at, rank);
  if (error != std::errc() || end != name.data() + at) return std::nullopt;
  return WorkerFileName{rank, name.substr(at + 1)};
}

}  // namespace quenda

#endif  // QUENDA_FILE_NAMES_H_
