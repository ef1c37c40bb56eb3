// The fixed texts of the report, as the benchmark writes them to the console
// and the results file and as the results tool reads them back. The figures
// go between a line's start and its end.
#ifndef QUENDA_REPORT_TEXTS_H_
#define QUENDA_REPORT_TEXTS_H_

#include <string>
#include <string_view>

namespace quenda::texts {

// The title; later versions of the benchmark change only the date at its end.
inline constexpr char kTitleStart[] =
    "Torvane :: Lumicrest Benchmark Quenda Lite for Windows Clusters";
inline constexpr char kTitle[] =
    "Torvane :: Lumicrest Benchmark Quenda Lite for Windows Clusters on x86 64bit system "
    "2019.12.06.";
// A results file's name: this, the processor name, " @ " and the local time.
inline constexpr char kResultsFilePrefix[] = "results_quenda_lite_windows_clusters @ ";

inline constexpr char kThreads[] = "Thread(s): ";
inline constexpr char kSingleSection[] = "Force to be single thread.";
inline constexpr char kClusterSection[] = "Multi-Thread Enabled:";
inline constexpr char kStreamHeading[] = "Power of Handling Files -- Lower";
inline constexpr char kDescriptorHeading[] = "Power of Handling Files -- Higher";
// The console's single-process heading of the descriptor test has always
// carried this spelling; result parsers match it.
inline constexpr char kDescriptorHeadingSingleConsole[] = "Power of Handling Files -- Hihger";
inline constexpr char kBytewiseHeading[] = "Low writing and reading speeds:";
inline constexpr char kBlockHeading[] = "High writing and reading speeds:";

// A worker's lines start "Thread:<rank>", then "@<processor name>" on all
// but the file-handling lines of the results file.
inline constexpr char kThread[] = "Thread:";
inline constexpr char kSpent[] = "The system spent: ";
// Time-line endings: the single-process read lines end in a colon, the
// workers' in a full stop.
inline constexpr char kSecs[] = " Secs.";
inline constexpr char kSecsToWrite[] = " Secs. to Write.";
inline constexpr char kSecsToReadSingle[] = " Secs. to Read:";
inline constexpr char kSecsToReadWorker[] = " Secs. to Read.";

inline constexpr char kProcess[] = "The system could process ";
inline constexpr char kProcessSingleFile[] = "The system could process  ";
inline constexpr char kFilesPerSec[] = " Files/sec.";
inline constexpr char kItWas[] = "It was: ";
inline constexpr char kAccessesPerSec[] = " Millions Accesses/sec.";
inline constexpr char kAccessesPerSecWorkerConsole[] = " Millions Access/sec.";
inline constexpr char kConventionally[] = "Conventionally, it was: ";
inline constexpr char kMbPerSec[] = " MB/sec.";
inline constexpr char kMbPerSecWide[] = "  MB/sec.";

inline constexpr char kOverallFiles[] = "Overall, The system could process: ";
inline constexpr char kOverallAccesses[] = "Overall, It was: ";
inline constexpr char kToWrite[] = "to Write";
inline constexpr char kToRead[] = "to Read";
inline constexpr char kTotalWriting[] = "Conventionally, total writing speed was: ";
inline constexpr char kTotalReading[] = "Conventionally, total reading speed was: ";
inline constexpr char kImprovements[] = "Multi-Thread Improvements: ";
inline constexpr char kTimes[] = " times.";

// The kinds of access the means and verdicts of the access tests name; the
// file-handling tests name none.
inline constexpr char kLowWriting[] = "low writing";
inline constexpr char kLowReading[] = "low reading";
inline constexpr char kHighWriting[] = "high writing";
inline constexpr char kHighReading[] = "high reading";

// "Among all nodes, the average <kind> process per thread was: ".
inline std::string mean_start(std::string_view kind) {
  std::string text = "Among all nodes, the average ";
  if (!kind.empty()) (text += kind) += ' ';
  return text + "process per thread was: ";
}

// The verdict line. With a kind, the significant wording keeps its "the" and
// the other drops it, as the report has always had them.
inline std::string verdict_text(std::string_view kind, bool significant) {
  std::string text = "Among all nodes, ";
  if (!kind.empty()) (text += kind) += ' ';
  if (significant || kind.empty()) text += "the ";
  return text + "performance differences of threads tend to be " +
         (significant ? "significant." : "not significant.");
}

}  // namespace quenda::texts

#endif  // QUENDA_REPORT_TEXTS_H_
