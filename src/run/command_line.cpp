#include "run/command_line.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace quenda {
namespace {

constexpr const char kHelp[] =
    "usage: mpirun -np N quenda-lite\n"
    "       quenda-lite --help | --version\n"
    "Measures the disk and file-system speed of a cluster as one MPI job: rank 0\n"
    "runs six file tests alone, then every other rank runs them at once on files\n"
    "of its own in the working directory, which is the file system measured.\n"
    "The report goes to standard output and to a results file in the working\n"
    "directory; at the end rank 0 waits for Enter. The program takes no other\n"
    "arguments and reads no configuration.\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "Exit status: 0 every file operation worked, 1 one failed (standard error says\n"
    "which), 2 an argument the program does not take.\n"
    "See quenda-lite(1) and quenda-lite-results(1).\n";

// The argument as one line of the terminal: control bytes and backslashes
// as \xNN.
std::string printable(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

int answer_command_line(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "--version")) {
    if (first == "--help") {
      out << kHelp;
    } else {
      out << "quenda-lite " << QUENDA_LITE_VERSION << '\n';
    }
    out.flush();
    return out ? 0 : 1;
  }
  // One write, so that the lines of several ranks refusing at once do not
  // interleave on a shared standard error.
  std::string line = "quenda-lite: unexpected argument '";
  line += printable(first);
  line += "': the program takes none but --help or --version\n";
  err << line;
  return kExitUsage;
}

}  // namespace quenda
