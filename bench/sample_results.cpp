// The results file of a run of N processes (512 unless given) on standard
// output, written by the benchmark's own report code with the results
// tool's sample figures: files of the largest size without starting a
// 512-process run.
#include <iostream>
#include <string>

#include "sample_report.h"

int main(int argc, char** argv) {
  namespace samples = quenda::results::samples;
  const int processes = argc > 1 ? std::stoi(argv[1]) : 512;
  std::cout << samples::results_text(samples::sample_run(processes));
  return std::cout.flush() ? 0 : 1;
}
