#include "command_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <system_error>
#include <variant>

#include "compare.h"
#include "csv_output.h"
#include "json_output.h"
#include "node_figures.h"
#include "rank_map.h"
#include "reason.h"
#include "results_file.h"
#include "svg_chart.h"
#include "text_escape.h"
#include "trend.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// Far above any real results file (some hundred bytes per worker and test),
// low enough that a wrong argument does not fill the memory.
constexpr std::uintmax_t kLargestResultsFile = 64u * 1024u * 1024u;

constexpr const char kUsage[] =
    "usage: quenda-lite-results [--partial] [--output-dir DIR] [--rank-map MAP\n"
    "                           [--outlier-fraction F]] [--] PATH...\n"
    "       quenda-lite-results compare [--json] [--threshold PERCENT] BASE NEW\n"
    "       quenda-lite-results trend [--output-dir DIR] PATH...\n"
    "Converts Quenda Lite results files into JSON, CSV and an SVG chart; compares\n"
    "two runs; charts the history of many (compare -h, trend -h for more).\n"
    "  PATH                  a results file, or a folder: all results files in it\n"
    "  -o, --output-dir DIR  write into DIR (created if needed), not next to each file\n"
    "  --rank-map MAP        name each worker's node and give the figures by node; MAP\n"
    "                        is the batch script's map, a job log holding it (its\n"
    "                        failure lines then mark figures that are not\n"
    "                        measurements), or the run's shared working folder\n"
    "  --outlier-fraction F  flag a node whose median rate is below F times the\n"
    "                        median over all nodes (default 0.5)\n"
    "  --partial             also convert files of runs that were stopped; their\n"
    "                        JSON says \"partial\": true\n"
    "  --                    what follows are paths, even where they start with -\n"
    "  -h, --help            show this text\n"
    "  --version             show the version of Quenda Lite this tool belongs to\n";

struct Options {
  bool allow_partial = false;
  std::optional<fs::path> output_dir;
  std::optional<fs::path> rank_map;
  std::optional<double> outlier_fraction;
  std::vector<fs::path> paths;
};

// A fraction above 0 and at most 1, as given on the command line.
std::optional<double> parse_fraction(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (!std::isfinite(value) || value <= 0.0 || value > 1.0) return {};
  return value;
}

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
    } else if (arg == "-o" || arg == "--output-dir" || arg.starts_with("--output-dir=")) {
      std::string folder;
      if (arg.starts_with("--output-dir=")) {
        folder = arg.substr(std::string("--output-dir=").size());
      } else if (i + 1 == args.size()) {
        return arg + " needs a folder";
      } else {
        folder = args[++i];
      }
      if (options.output_dir) return "the output folder is given twice";
      if (folder.empty()) return "the output folder's name is empty";
      options.output_dir = fs::path(folder);
    } else if (arg == "--rank-map" || arg == "--outlier-fraction") {
      if (i + 1 == args.size()) return arg + " needs a value";
      const std::string& value = args[++i];
      if (arg == "--rank-map") {
        if (options.rank_map) return "the rank map is given twice";
        options.rank_map = fs::path(value);
      } else {
        options.outlier_fraction = parse_fraction(value);
        if (!options.outlier_fraction) {
          return "--outlier-fraction needs a number above 0, at most 1";
        }
      }
    } else {
      return "unknown option " + printable(arg);
    }
  }
  if (options.paths.empty()) return "no results file or folder given";
  if (options.outlier_fraction && !options.rank_map) return "--outlier-fraction needs --rank-map";
  return options;
}

// The longest file name, in bytes, of the file systems the outputs go to.
constexpr std::size_t kLongestName = 255;

struct OutputFile {
  fs::path path;
  std::string content;
};

// The temporary file that becomes `output`: a short name beside it, the same
// on every run, so that a conversion killed midway leaves at most one per
// output, which the next conversion overwrites.
fs::path temporary_for(const fs::path& output) {
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a of the output's name
  for (const char c : output.filename().string()) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  std::array<char, 40> name{};
  std::snprintf(name.data(), name.size(), ".quenda-results-%016llx.tmp",
                static_cast<unsigned long long>(hash));
  return output.parent_path() / name.data();
}

// Writes every output into its temporary file, then renames each over the
// output, so that a reader finds an output whole, old or new. Nothing is
// renamed unless all were written and no output's place holds a folder.
// Returns the reason, or an empty string.
std::string write_outputs(const std::vector<OutputFile>& outputs) {
  for (const OutputFile& output : outputs) {
    const std::size_t length = output.path.filename().string().size();
    if (length > kLongestName) {
      return "the output name " + printable(output.path.filename().string()) + " would be " +
             std::to_string(length) + " bytes long, more than the " + std::to_string(kLongestName) +
             " the file system allows";
    }
    // A folder in an output's place is left alone, before any output moves.
    std::error_code ignored;
    if (fs::is_directory(output.path, ignored)) {
      return "cannot rename a finished output to " + printable(output.path.string()) + ": " +
             std::make_error_code(std::errc::is_a_directory).message();
    }
  }
  std::string error;
  for (const OutputFile& output : outputs) {
    errno = 0;
    std::ofstream file(temporary_for(output.path), std::ios::binary | std::ios::trunc);
    file.write(output.content.data(), static_cast<std::streamsize>(output.content.size()));
    file.close();
    if (!file) {
      error = "cannot write " + printable(temporary_for(output.path).string()) + ": " +
              reason_for(errno, "the stream failed");
      break;
    }
  }
  for (std::size_t i = 0; error.empty() && i < outputs.size(); ++i) {
    std::error_code failure;
    fs::rename(temporary_for(outputs[i].path), outputs[i].path, failure);
    if (failure) {
      error = "cannot rename a finished output to " + printable(outputs[i].path.string()) + ": " +
              failure.message();
    }
  }
  for (const OutputFile& output : outputs) {
    std::error_code ignored;
    fs::remove(temporary_for(output.path), ignored);
  }
  return error;
}

// `status`, once everything written to `out` has reached it; a listing or a
// help text cut short by a full disk or a closed pipe is a failure.
int flushed(std::ostream& out, std::ostream& err, int status) {
  errno = 0;
  out.flush();
  if (out) return status;
  err << "quenda-lite-results: error: cannot write to standard output: "
      << reason_for(errno, "the stream failed") << '\n';
  return kExitFailed;
}

// Opens a results file once its size is known to be that of one; returns
// the reason it cannot, or an empty string.
std::string open_results(const fs::path& path, std::ifstream& in) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return "cannot read: " + error.message();
  if (size > kLargestResultsFile) {
    return "too large for a results file (" + std::to_string(size) + " bytes; at most " +
           std::to_string(kLargestResultsFile) + ")";
  }
  errno = 0;
  in.open(path, std::ios::binary);
  if (!in) return "cannot open: " + reason_for(errno, "the library gives no reason");
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
    if (options_.rank_map) {
      auto map = read_rank_map(*options_.rank_map);
      if (const auto* reason = std::get_if<std::string>(&map)) {
        err_ << printable(options_.rank_map->string()) << ": error: " << *reason << '\n';
        return kExitFailed;
      }
      rank_map_ = std::move(std::get<RankMap>(map));
    }
    if (options_.output_dir) {
      std::error_code error;
      fs::create_directories(*options_.output_dir, error);
      if (error) {
        err_ << printable(options_.output_dir->string())
             << ": error: cannot create the output folder: " << error.message() << '\n';
        return kExitFailed;
      }
    }
    for (const fs::path& path : options_.paths) take(path);
    return flushed(out_, err_, failed_ ? kExitFailed : kExitConverted);
  }

 private:
  void fail(const fs::path& path, std::string_view reason) {
    err_ << printable(path.string()) << ": error: " << reason << '\n';
    failed_ = true;
  }

  void take(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error == std::errc::no_such_file_or_directory) return fail(path, "no such file or folder");
    if (error) return fail(path, "cannot open: " + error.message());
    if (fs::is_directory(status)) return take_folder(path);
    if (!fs::is_regular_file(status)) return fail(path, "not a regular file");
    convert(path);
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

    std::ifstream in;
    const std::string open_error = open_results(path, in);
    if (!open_error.empty()) return fail(path, open_error);

    RunResults run;
    try {
      run = parse_results(in, path.filename().string(),
                          ParseOptions{.allow_partial = options_.allow_partial});
    } catch (const ParseError& parse_error) {
      err_ << printable(path.string()) << ':' << parse_error.line()
           << ": error: " << parse_error.reason() << '\n';
      failed_ = true;
      return;
    }

    std::optional<RunNodes> nodes;
    if (rank_map_) {
      const std::string disagreement = apply_rank_map(*rank_map_, run);
      if (!disagreement.empty()) {
        return fail(path, "the rank map " + printable(options_.rank_map->string()) +
                              " is not of this run: " + disagreement);
      }
      nodes = node_figures(run, fraction());
    }

    const fs::path folder = options_.output_dir ? *options_.output_dir : path.parent_path();
    const fs::path stem = folder / output_stem(path);
    const fs::path stem_identity = fs::weakly_canonical(stem, error);
    if (!output_stems_.insert(error ? stem : stem_identity).second) {
      return fail(path, "its outputs would replace those of another file converted in this run");
    }
    std::vector<OutputFile> outputs{
        {fs::path(stem) += ".json", to_json(run, nodes ? &*nodes : nullptr)},
        {fs::path(stem) += ".csv", to_csv(run)},
        {fs::path(stem) += ".svg", to_svg(run, nodes ? &*nodes : nullptr)},
    };
    const std::string write_error = write_outputs(outputs);
    if (!write_error.empty()) return fail(path, write_error);

    if (run.partial) {
      err_ << printable(path.string()) << ": note: converted a partial run (" << run.partial_reason
           << ")\n";
    }
    out_ << printable(path.string()) << " -> " << printable(outputs[0].path.string())
         << ", .csv, .svg\n";
    if (nodes) out_ << node_summary(run, *nodes, fraction());
  }

  double fraction() const { return options_.outlier_fraction.value_or(kDefaultOutlierFraction); }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool failed_ = false;
  std::optional<RankMap> rank_map_;
  std::set<fs::path> converted_inputs_;
  std::set<fs::path> output_stems_;
};

}  // namespace

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && (args[0] == "compare" || args[0] == "trend")) {
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "compare" ? run_compare(rest, out, err) : run_trend(rest, out, err);
  }
  if (std::find_if(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "-h" || arg == "--help";
      }) != args.end()) {
    out << kUsage;
    return flushed(out, err, kExitConverted);
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "quenda-lite-results " << QUENDA_LITE_VERSION << '\n';
    return flushed(out, err, kExitConverted);
  }
  const auto parsed = parse_arguments(args);
  if (parsed.index() == 1) {
    err << "quenda-lite-results: " << std::get<1>(parsed) << "\n" << kUsage;
    return kExitUsage;
  }
  return Converter(std::get<0>(parsed), out, err).run();
}

}  // namespace quenda::results
