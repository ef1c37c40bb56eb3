#include "support/expected_report.h"

namespace quenda::e2e {
namespace {

const std::string kTitle =
    "Torvane :: Lumicrest Benchmark Quenda Lite for Windows Clusters on x86 64bit system "
    "2019.12.06.";

using Patterns = std::vector<Pattern>;

class Expected {
 public:
  Expected(const ReportShape& shape, Sink sink) : shape_(shape), sink_(sink) {}

  Patterns build() {
    banner();
    single_file_handling();
    single_bytewise();
    single_block();
    add(literal("Multi-Thread Enabled:"));
    cluster_file_handling("hs", "Power of Handling Files -- Lower");
    cluster_file_handling("hd", "Power of Handling Files -- Higher");
    add(literal("Multi-Thread Enabled:"));
    cluster_bytewise();
    add(literal("Multi-Thread Enabled:"));
    cluster_block();
    if (console()) {
      add(literal("Results have been saved in a file and you can find it at: " +
                  shape_.saved_path));
      blank();
      blank();
      add(literal("Press Enter to Exit."));
    }
    return patterns_;
  }

 private:
  bool console() const { return sink_ == Sink::kConsole; }
  int workers() const { return shape_.world_size - 1; }
  void add(const Pattern& pattern) { patterns_.push_back(pattern); }
  void blank() { add(literal("")); }

  void banner() {
    if (console()) {
      blank();
      add(literal(kTitle));
      add(LineBuilder().text("Copyright ").rest().done());
      add(LineBuilder().text("For Support: ").rest().done());
      blank();
      blank();
      blank();
    } else {
      add(literal(kTitle));
      blank();
    }
    add(literal("Thread(s): " + std::to_string(shape_.world_size)));
    blank();
    add(literal("Force to be single thread."));
    blank();
  }

  void single_file_handling() {
    const std::string could =
        console() ? "The system could process " : "The system could process  ";
    add(literal("Power of Handling Files -- Lower"));
    blank();
    add(LineBuilder().text("The system spent: ").number("hs.t").text(" Secs.").done());
    add(LineBuilder().text(could).number("hs.r").text(" Files/sec.").done());
    blank();
    add(literal(console() ? "Power of Handling Files -- Hihger"
                          : "Power of Handling Files -- Higher"));
    blank();
    add(LineBuilder().text("The system spent: ").number("hd.t").text(" Secs.").done());
    add(LineBuilder().text(could).number("hd.r").text(" Files/sec.").done());
    blank();
  }

  void access_single(const std::string& test, const std::string& time_unit) {
    add(LineBuilder().text("The system spent: ").number(test + ".t").text(time_unit).done());
    add(LineBuilder().text("It was: ").number(test + ".m").text(" Millions Accesses/sec.").done());
    add(LineBuilder()
            .text("Conventionally, it was: ")
            .number(test + ".mb")
            .text(" MB/sec.")
            .done());
  }

  void single_bytewise() {
    add(literal("Low writing and reading speeds:"));
    blank();
    access_single("bw", " Secs. to Write.");
    access_single("br", " Secs. to Read:");
    blank();
  }

  void single_block() {
    add(literal("High writing and reading speeds:"));
    blank();
    access_single("kr", " Secs. to Read:");
    access_single("kw", " Secs. to Write.");
    blank();
    blank();
  }

  // The byte-wise and block lines name the collector on both sinks.
  std::string named_thread(int rank) const {
    return "Thread:" + std::to_string(rank) + "@" + shape_.collector_name + " ";
  }

  // The file-handling lines name it on the console only.
  std::string thread(int rank) const {
    return "Thread:" + std::to_string(rank) + (console() ? "@" + shape_.collector_name + " " : " ");
  }

  // The verdict is known when no or one worker ran (no deviation); with more
  // workers it depends on the figures and is checked separately.
  Pattern verdict(const std::string& calm, const std::string& uneven) const {
    if (workers() <= 1) return literal(calm);
    return LineBuilder().one_of({calm, uneven}).done();
  }

  void cluster_file_handling(const std::string& test, const std::string& heading) {
    const std::string p = "C:" + test;
    add(literal(heading));
    blank();
    for (int i = 1; i <= workers(); ++i) {
      const std::string k = figure_suffix(i);
      add(LineBuilder()
              .text(thread(i) + "The system spent: ")
              .number(p + ".t" + k)
              .text(" Secs.")
              .done());
      add(LineBuilder()
              .text(thread(i) + "The system could process ")
              .number(p + ".r" + k)
              .text(" Files/sec.")
              .done());
    }
    add(LineBuilder()
            .text("Overall, The system could process: ")
            .number(p + ".total")
            .text(" Files/sec.")
            .done());
    add(LineBuilder()
            .text("Multi-Thread Improvements: ")
            .number(p + ".gain")
            .text(" times.")
            .done());
    blank();
    if (workers() > 0) {
      if (console()) blank();
      blank();
      add(LineBuilder()
              .text("Among all nodes, the average process per thread was: ")
              .number(p + ".mean")
              .text(" Files/sec.")
              .done());
      add(verdict(
          "Among all nodes, the performance differences of threads tend to be not significant.",
          "Among all nodes, the performance differences of threads tend to be significant."));
    }
    blank();
  }

  void access_worker(const std::string& p, int i, const std::string& time_unit) {
    const std::string k = figure_suffix(i);
    add(LineBuilder()
            .text(named_thread(i))
            .text("The system spent: ")
            .number(p + ".t" + k)
            .text(time_unit)
            .done());
    add(LineBuilder()
            .text(named_thread(i))
            .text("It was: ")
            .number(p + ".m" + k)
            .text(console() ? " Millions Access/sec." : " Millions Accesses/sec.")
            .done());
    add(LineBuilder()
            .text("Conventionally, it was: ")
            .number(p + ".mb" + k)
            .text(" MB/sec.")
            .done());
  }

  void totals(const std::string& p, const std::string& verb, const std::string& noun) {
    add(LineBuilder()
            .text("Overall, It was: ")
            .number(p + ".total")
            .text(" Millions Accesses/sec.to " + verb)
            .done());
    add(LineBuilder()
            .text("Conventionally, total " + noun + " speed was: ")
            .number(p + ".totalmb")
            .text(" MB/sec.")
            .done());
    add(LineBuilder()
            .text("Multi-Thread Improvements: ")
            .number(p + ".gain")
            .text(" times.")
            .done());
  }

  void cluster_bytewise() {
    add(literal("Low writing and reading speeds:"));
    blank();
    for (int i = 1; i <= workers(); ++i) access_worker("C:bw", i, " Secs. to Write.");
    for (int i = 1; i <= workers(); ++i) access_worker("C:br", i, " Secs. to Read.");
    blank();
    blank();
    totals("C:bw", "Write", "writing");
    totals("C:br", "Read", "reading");
    blank();
    blank();
    add(LineBuilder()
            .text("Among all nodes, the average low writing process per thread was: ")
            .number("C:bw.mean")
            .text(" MB/sec.")
            .done());
    add(
        verdict("Among all nodes, low writing performance differences of threads tend to be not "
                "significant.",
                "Among all nodes, low writing the performance differences of threads tend to be "
                "significant."));
    blank();
    add(LineBuilder()
            .text("Among all nodes, the average low reading process per thread was: ")
            .number("C:br.mean")
            .text("  MB/sec.")
            .done());
    add(
        verdict("Among all nodes, low reading performance differences of threads tend to be not "
                "significant.",
                "Among all nodes, low reading the performance differences of threads tend to be "
                "significant."));
    blank();
  }

  void cluster_block() {
    add(literal("High writing and reading speeds:"));
    blank();
    for (int i = 1; i <= workers(); ++i) access_worker("C:kr", i, " Secs. to Read.");
    for (int i = 1; i <= workers(); ++i) access_worker("C:kw", i, " Secs. to Write.");
    blank();
    totals("C:kw", "Write", "writing");
    totals("C:kr", "Read", "reading");
    blank();
    blank();
    add(LineBuilder()
            .text("Among all nodes, the average high writing process per thread was: ")
            .number("C:kw.mean")
            .text("  MB/sec.")
            .done());
    add(
        verdict("Among all nodes, high writing performance differences of threads tend to be not "
                "significant.",
                "Among all nodes, high writing the performance differences of threads tend to be "
                "significant."));
    blank();
    add(LineBuilder()
            .text("Among all nodes, the average high reading process per thread was: ")
            .number("C:kr.mean")
            .text("  MB/sec.")
            .done());
    add(
        verdict("Among all nodes, high reading performance differences of threads tend to be not "
                "significant.",
                "Among all nodes, high reading the performance differences of threads tend to be "
                "significant."));
    blank();
  }

  const ReportShape& shape_;
  Sink sink_;
  Patterns patterns_;
};

}  // namespace

std::vector<Pattern> expected_report(const ReportShape& shape, Sink sink) {
  return Expected(shape, sink).build();
}

}  // namespace quenda::e2e
