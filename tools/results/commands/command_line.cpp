#include "commands/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <system_error>
#include <variant>

#include "commands/compare.h"
#include "commands/metrics.h"
#include "write/csv_output.h"
#include "write/json_output.h"
#include "analyse/node_figures.h"
#include "read/rank_map.h"
#include "reason.h"
#include "write/replace_file.h"
#include "read/results_file.h"
#include "write/svg_chart.h"
#include "write/text_escape.h"
#include "commands/trend.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

constexpr const char kUsage[] =
    "usage: quenda-lite-results [--partial] [--output-dir DIR] [--rank-map MAP\n"
    "                           [--outlier-fraction F]] [--] PATH...\n"
    "       quenda-lite-results compare [--json] [--threshold PERCENT] BASE NEW\n"
    "       quenda-lite-results trend [--output-dir DIR] PATH...\n"
    "       quenda-lite-results metrics [--output-dir DIR] [OPTION]... RESULTS\n"
    "Converts Quenda Lite results files into JSON, CSV and an SVG chart; compares\n"
    "two runs; charts the history of many; writes a run's figures for Prometheus\n"
    "(compare -h, trend -h, metrics -h for more).\n"
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
  Arguments arguments;  // the paths and the output folder
  bool allow_partial = false;
  std::optional<fs::path> rank_map;
  std::optional<double> outlier_fraction;
};

// Options, or the reason the command line is wrong.
std::variant<Options, std::string> parse_arguments(const std::vector<std::string>& args) {
  Options options;
  auto read = read_arguments(
      args, true, [&](const std::string& arg, std::size_t& i) -> std::optional<std::string> {
        if (arg == "--partial") {
          options.allow_partial = true;
          return "";
        }
        if (arg != "--rank-map" && arg != "--outlier-fraction") return std::nullopt;
        const auto value = option_value(args, i);
        if (!value) return arg + " needs a value";
        if (arg == "--rank-map") {
          if (options.rank_map) return "the rank map is given twice";
          options.rank_map = fs::path(*value);
          return "";
        }
        options.outlier_fraction = finite_number(*value).value_or(0.0);
        if (*options.outlier_fraction <= 0.0 || *options.outlier_fraction > 1.0) {
          return "--outlier-fraction needs a number above 0, at most 1";
        }
        return "";
      });
  if (read.index() == 1) return std::get<1>(read);
  options.arguments = std::move(std::get<0>(read));
  if (options.arguments.paths.empty()) return "no results file or folder given";
  if (options.outlier_fraction && !options.rank_map) return "--outlier-fraction needs --rank-map";
  return options;
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
    const auto& output_dir = options_.arguments.output_dir;
    if (options_.rank_map) {
      auto map = read_rank_map(*options_.rank_map);
      if (const auto* reason = std::get_if<std::string>(&map)) {
        err_ << printable(options_.rank_map->string()) << ": error: " << *reason << '\n';
        return kExitFailed;
      }
      rank_map_ = std::move(std::get<RankMap>(map));
    }
    if (output_dir) {
      std::error_code error;
      fs::create_directories(*output_dir, error);
      if (error) {
        err_ << printable(*output_dir)
             << ": error: cannot create the output folder: " << error.message() << '\n';
        return kExitFailed;
      }
    }
    for (const std::string& path : options_.arguments.paths) take(path);
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

  void take_folder(const fs::path& folder) {
    const auto files = results_files_in(folder);
    if (files.index() == 1) return fail(folder, std::get<1>(files));
    for (const fs::path& file : std::get<0>(files)) convert(file);
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

    const auto& output_dir = options_.arguments.output_dir;
    const fs::path folder = output_dir ? fs::path(*output_dir) : path.parent_path();
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

std::optional<std::string> option_value(const std::vector<std::string>& args, std::size_t& i) {
  const std::size_t equals = args[i].find('=');
  if (equals != std::string::npos) return args[i].substr(equals + 1);
  if (i + 1 == args.size()) return {};
  return args[++i];
}

std::optional<double> finite_number(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (!std::isfinite(value)) return {};
  return value;
}

std::variant<Arguments, std::string> read_arguments(const std::vector<std::string>& args,
                                                    bool takes_output_dir,
                                                    const OptionReader& option) {
  Arguments arguments;
  bool only_paths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_paths || arg.empty() || arg[0] != '-' || arg == "-") {
      arguments.paths.push_back(arg);
    } else if (arg == "--") {
      only_paths = true;
    } else if (arg == "-h" || arg == "--help") {
      arguments.help = true;
      return arguments;
    } else if (takes_output_dir &&
               (arg == "-o" || arg == "--output-dir" || arg.starts_with("--output-dir="))) {
      const auto folder = option_value(args, i);
      if (!folder) return arg + " needs a folder";
      if (arguments.output_dir) return "the output folder is given twice";
      if (folder->empty()) return "the output folder's name is empty";
      arguments.output_dir = *folder;
    } else if (const auto problem = option(arg, i); !problem) {
      return "unknown option " + printable(arg);
    } else if (!problem->empty()) {
      return *problem;
    }
  }
  return arguments;
}

int usage_error(std::ostream& err, const std::string& problem, const char* usage) {
  err << "quenda-lite-results: " << problem << "\n" << usage;
  return kExitUsage;
}

std::variant<std::vector<fs::path>, std::string> results_files_in(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored) && is_results_file_name(it->path().filename().string())) {
      files.push_back(it->path());
    }
  }
  if (error) return "cannot list the folder: " + error.message();
  if (files.empty()) return "no results files in this folder";
  std::sort(files.begin(), files.end());
  return files;
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && (args[0] == "compare" || args[0] == "trend")) {
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "compare" ? run_compare(rest, out, err) : run_trend(rest, out, err);
  }
  if (!args.empty() && args[0] == "metrics") {
    return run_metrics(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
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
  if (parsed.index() == 1) return usage_error(err, std::get<1>(parsed), kUsage);
  return Converter(std::get<0>(parsed), out, err).run();
}

}  // namespace quenda::results
