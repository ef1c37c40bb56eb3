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
    access_section("Low writing and reading speeds:", {"bw", " Secs. to Write."},
                   {"br", " Secs. to Read:"}, "");
    access_section("High writing and reading speeds:", {"kr", " Secs. to Read:"},
                   {"kw", " Secs. to Write."}, "");
    blank();
    add(literal("Multi-Thread Enabled:"));
    cluster_file_handling("hs", "Power of Handling Files -- Lower");
    cluster_file_handling("hd", "Power of Handling Files -- Higher");
    add(literal("Multi-Thread Enabled:"));
    access_section("Low writing and reading speeds:", {"bw", " Secs. to Write."},
                   {"br", " Secs. to Read."}, "C:");
    add(literal("Multi-Thread Enabled:"));
    access_section("High writing and reading speeds:", {"kr", " Secs. to Read."},
                   {"kw", " Secs. to Write."}, "C:");
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
  // An access test's name among the figures and the end of its time line.
  struct Access {
    std::string test;
    std::string time_unit;
  };

  bool console() const { return sink_ == Sink::kConsole; }
  int workers() const { return shape_.world_size - 1; }
  void add(const Pattern& pattern) { patterns_.push_back(pattern); }
  void blank() { add(literal("")); }
  // A line of one number between fixed texts.
  void figure(const std::string& before, const std::string& name, const std::string& after) {
    add(LineBuilder().text(before).number(name).text(after).done());
  }

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
    for (const auto& [test, heading] :
         {std::pair{"hs", "Power of Handling Files -- Lower"},
          std::pair{"hd", console() ? "Power of Handling Files -- Hihger"
                                    : "Power of Handling Files -- Higher"}}) {
      add(literal(heading));
      blank();
      figure("The system spent: ", std::string(test) + ".t", " Secs.");
      figure(could, std::string(test) + ".r", " Files/sec.");
      blank();
    }
  }

  // The byte-wise and block lines name the collector on both sinks.
  std::string named_thread(int rank) const {
    return "Thread:" + std::to_string(rank) + "@" + shape_.collector_name + " ";
  }

  // The file-handling lines name it on the console only.
  std::string thread(int rank) const {
    return "Thread:" + std::to_string(rank) + (console() ? "@" + shape_.collector_name + " " : " ");
  }

  // The verdict on `kind` ("low writing ", or none for file handling); with
  // a kind, the calm wording drops its "the". It is known when no or one
  // worker ran (no deviation); with more workers it depends on the figures
  // and is checked separately.
  void verdict(const std::string& kind) {
    const std::string calm = "Among all nodes, " + (kind.empty() ? "the " : kind) +
                             "performance differences of threads tend to be not significant.";
    const std::string uneven = "Among all nodes, " + kind +
                               "the performance differences of threads tend to be significant.";
    add(workers() <= 1 ? literal(calm) : LineBuilder().one_of({calm, uneven}).done());
  }

  void cluster_file_handling(const std::string& test, const std::string& heading) {
    const std::string p = "C:" + test;
    add(literal(heading));
    blank();
    for (int i = 1; i <= workers(); ++i) {
      const std::string k = figure_suffix(i);
      figure(thread(i) + "The system spent: ", p + ".t" + k, " Secs.");
      figure(thread(i) + "The system could process ", p + ".r" + k, " Files/sec.");
    }
    figure("Overall, The system could process: ", p + ".total", " Files/sec.");
    figure("Multi-Thread Improvements: ", p + ".gain", " times.");
    blank();
    if (workers() > 0) {
      if (console()) blank();
      blank();
      figure("Among all nodes, the average process per thread was: ", p + ".mean", " Files/sec.");
      verdict("");
    }
    blank();
  }

  // The three lines of one process of an access test: `thread` before each
  // of the first two, and `k` after each figure's name.
  void access_lines(const Access& access, const std::string& thread, const std::string& k) {
    figure(thread + "The system spent: ", access.test + ".t" + k, access.time_unit);
    figure(thread + "It was: ", access.test + ".m" + k,
           console() && !thread.empty() ? " Millions Access/sec." : " Millions Accesses/sec.");
    figure("Conventionally, it was: ", access.test + ".mb" + k, " MB/sec.");
  }

  void totals(const std::string& p, const std::string& verb, const std::string& noun) {
    figure("Overall, It was: ", p + ".total", " Millions Accesses/sec.to " + verb);
    figure("Conventionally, total " + noun + " speed was: ", p + ".totalmb", " MB/sec.");
    figure("Multi-Thread Improvements: ", p + ".gain", " times.");
  }

  void mean(const std::string& p, const std::string& kind, const std::string& unit) {
    figure("Among all nodes, the average " + kind + " process per thread was: ", p + ".mean", unit);
    verdict(kind + " ");
    blank();
  }

  // A byte-wise or block section, in its first and second test's order: the
  // single-process one (`phase` empty) or the cluster's (`phase` "C:").
  void access_section(const std::string& heading, Access first, Access second,
                      const std::string& phase) {
    add(literal(heading));
    blank();
    if (phase.empty()) {
      access_lines(first, "", "");
      access_lines(second, "", "");
      blank();
      return;
    }
    first.test = phase + first.test;
    second.test = phase + second.test;
    for (const Access& access : {first, second}) {
      for (int i = 1; i <= workers(); ++i) access_lines(access, named_thread(i), figure_suffix(i));
    }
    blank();
    const bool bytewise = first.test == "C:bw";
    if (bytewise) blank();
    const std::string write = bytewise ? "C:bw" : "C:kw";
    const std::string read = bytewise ? "C:br" : "C:kr";
    totals(write, "Write", "writing");
    totals(read, "Read", "reading");
    blank();
    blank();
    const std::string level = bytewise ? "low " : "high ";
    mean(write, level + "writing", bytewise ? " MB/sec." : "  MB/sec.");
    mean(read, level + "reading", "  MB/sec.");
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
