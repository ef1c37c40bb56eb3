// The results file of a run of N processes (512 unless given) on standard
// output, written by the benchmark's own report code with the results
// tool's sample figures: files of the largest size without starting a
// 512-process run. With "-", the figures are read from standard input as
// {"processor_name": NAME, "tests": [[[seconds, rate], ...], ...]}: per test
// in the report's order, the collector's single-process figures and then
// each worker's, rates in files or accesses per second.
#include <iostream>
#include <string>

#include "sample_report.h"

int main(int argc, char** argv) {
  namespace samples = quenda::results::samples;
  const std::string given = argc > 1 ? argv[1] : "512";
  if (given != "-") {
    std::cout << samples::results_text(samples::sample_run(std::stoi(given)));
    return std::cout.flush() ? 0 : 1;
  }
  const nlohmann::json figures = nlohmann::json::parse(std::cin);
  samples::SampleRun run;
  run.processor_name = figures.at("processor_name");
  for (int t = 0; t < quenda::kTestCount; ++t) {
    const nlohmann::json& timings = figures.at("tests").at(t);
    run.tests[t].single = {timings.at(0).at(0), timings.at(0).at(1)};
    for (std::size_t i = 1; i < timings.size(); ++i) {
      run.tests[t].workers.push_back({timings.at(i).at(0), timings.at(i).at(1)});
    }
  }
  run.world_size = static_cast<int>(run.tests[0].workers.size()) + 1;
  std::cout << samples::results_text(run);
  return std::cout.flush() ? 0 : 1;
}
