// quenda-lite-results: turns the benchmark's results files into JSON, CSV
// and an SVG chart. Everything but the argument vector lives in the library.
#include <iostream>
#include <string>
#include <vector>

#include "commands/command_line.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quenda::results::run_command_line(args, std::cout, std::cerr);
}
