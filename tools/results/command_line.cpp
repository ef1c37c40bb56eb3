#include "command_line.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>
#include <variant>

#include "csv_output.h"
#include "json_output.h"
#include "output_files.h"
#include "results_file.h"
#include "svg_chart.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// Far above any real results file (some hundred bytes per worker and test),
// low enough that a wrong argument does not fill the memory.
constexpr std::uintmax_t kLargestResultsFile = 64u * 1024u * 1024u;

constexpr const char kUsage[] =
    "usage: quenda-lite-results [--partial] [--output-dir DIR] PATH...\n"
    "Converts Quenda Lite results files into JSON, CSV and an SVG chart.\n"
    "  PATH                  a results file, or a folder: all results files in it\n"
    "  -o, --output-dir DIR  write into DIR (created if needed), not next to each file\n"
    "  --partial             also convert files of runs that were stopped; their\n"
    "                        JSON says \"partial\": true\n"
    "  -h, --help            show this text\n"
    "  --version             show the version of Quenda Lite this tool belongs to\n";

struct Options {
  bool allow_partial = false;
  std::optional<fs::path> output_dir;
  std::vector<fs::path> paths;
};

// Options, or the reason the command line is wrong.
std::variant<Options, std::string> parse_arguments(const std::vector<std::string>& args) {
  Options options;
  bool only_paths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_paths || arg.empty() || arg[0] != '-' || arg == "-") {
      options.paths.emplace_back(arg);
    } else if (arg == "--") {
      only_paths = true;
    } else if (arg == "--partial") {
      options.allow_partial = true;
    } else if (arg == "-o" || arg == "--output-dir") {
      if (i + 1 == args.size()) return arg + " needs a folder";
      options.output_dir = fs::path(args[++i]);
    } else if (arg.starts_with("--output-dir=")) {
      options.output_dir = fs::path(arg.substr(std::string("--output-dir=").size()));
    } else {
      return "unknown option " + arg;
    }
  }
  if (options.paths.empty()) return "no results file or folder given";
  return options;
}

// Reads the whole file into `text`; returns the reason it cannot, or an
// empty string.
std::string read_text(const fs::path& path, std::string& text) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return "cannot read: " + error.message();
  if (size > kLargestResultsFile) return "too large for a results file";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open";
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) return "cannot read";
  text = contents.str();
  return {};
}

// "name.txt" gives "name"; other names keep their extension, so that an
// output can never take the input's place.
std::string output_stem(const fs::path& input) {
  std::string name = input.filename().string();
  if (name.ends_with(".txt")) name.resize(name.size() - 4);
  return name;
}

class Converter {
 public:
  Converter(const Options& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  int run() {
    if (options_.output_dir) {
      std::error_code error;
      fs::create_directories(*options_.output_dir, error);
      if (error) {
        err_ << options_.output_dir->string()
             << ": error: cannot create the output folder: " << error.message() << '\n';
        return kExitFailed;
      }
    }
    for (const fs::path& path : options_.paths) take(path);
    return failed_ ? kExitFailed : kExitConverted;
  }

 private:
  void fail(const fs::path& path, std::string_view reason) {
    err_ << path.string() << ": error: " << reason << '\n';
    failed_ = true;
  }

  void take(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      take_folder(path);
    } else if (fs::exists(path, error)) {
      convert(path);
    } else {
      fail(path, "no such file or folder");
    }
  }

  // A folder's results files, in name order; other files are left alone.
  void take_folder(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      std::error_code ignored;
      if (it->is_regular_file(ignored) && is_results_file_name(it->path().filename().string())) {
        files.push_back(it->path());
      }
    }
    if (error) return fail(folder, "cannot list the folder: " + error.message());
    if (files.empty()) return fail(folder, "no results files in this folder");
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) convert(file);
  }

  void convert(const fs::path& path) {
    std::error_code error;
    const fs::path identity = fs::weakly_canonical(path, error);
    // The same file named twice is converted once.
    if (!error && !converted_inputs_.insert(identity).second) return;

    std::string text;
    const std::string read_error = read_text(path, text);
    if (!read_error.empty()) return fail(path, read_error);

    RunResults run;
    try {
      run = parse_results(text, path.filename().string(),
                          ParseOptions{.allow_partial = options_.allow_partial});
    } catch (const ParseError& parse_error) {
      err_ << path.string() << ':' << parse_error.line() << ": error: " << parse_error.reason()
           << '\n';
      failed_ = true;
      return;
    }

    const fs::path folder = options_.output_dir ? *options_.output_dir : path.parent_path();
    const fs::path stem = folder / output_stem(path);
    const fs::path stem_identity = fs::weakly_canonical(stem, error);
    if (!output_stems_.insert(error ? stem : stem_identity).second) {
      return fail(path, "its outputs would replace those of another file converted in this run");
    }
    std::vector<OutputFile> outputs{
        {fs::path(stem) += ".json", to_json(run)},
        {fs::path(stem) += ".csv", to_csv(run)},
        {fs::path(stem) += ".svg", to_svg(run)},
    };
    const std::string write_error = write_all_or_nothing(outputs);
    if (!write_error.empty()) return fail(path, write_error);

    if (run.partial) {
      err_ << path.string() << ": note: converted a partial run (" << run.partial_reason << ")\n";
    }
    out_ << path.string() << " -> " << outputs[0].path.string() << ", .csv, .svg\n";
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool failed_ = false;
  std::set<fs::path> converted_inputs_;
  std::set<fs::path> output_stems_;
};

}  // namespace

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (std::find_if(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "-h" || arg == "--help";
      }) != args.end()) {
    out << kUsage;
    return kExitConverted;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "quenda-lite-results " << QUENDA_LITE_VERSION << '\n';
    return kExitConverted;
  }
  const auto parsed = parse_arguments(args);
  if (parsed.index() == 1) {
    err << "quenda-lite-results: " << std::get<1>(parsed) << "\n" << kUsage;
    return kExitUsage;
  }
  return Converter(std::get<0>(parsed), out, err).run();
}

}  // namespace quenda::results
