#include "commands/convert.h"

#include <array>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <variant>

#include "analyse/node_figures.h"
#include "read/in_order.h"
#include "read/rank_map.h"
#include "read/results_file.h"
#include "read/run_record.h"
#include "write/csv_output.h"
#include "write/json_output.h"
#include "write/replace_file.h"
#include "write/svg_chart.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

struct Options {
  std::vector<std::string> paths;
  std::optional<std::string> output_dir;
  bool allow_partial = false;
  std::optional<fs::path> rank_map;
  std::optional<double> outlier_fraction;
  std::optional<double> alpha;
  bool fail_on_flag = false;
};

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
      : options_(options), out_(out), err_(err), records_(err) {}

  int run() {
    const auto& output_dir = options_.output_dir;
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
    for (const std::string& path : options_.paths) take(path);
    // The files are read and their outputs made on a few threads; what is
    // said and written follows the order of the files.
    in_order(
        files_.size(), [this](std::size_t i) { return prepare(files_[i]); },
        [this](std::size_t i, Prepared prepared) {
          finish(files_[i], prepared);
          if (!prepared.outputs.empty()) give_back(prepared.outputs);
        });
    return flushed(out_, err_, failed_ || flagged_ ? kExitFailed : kExitConverted);
  }

 private:
  // A file to convert, or a path refused before anything was read.
  struct File {
    fs::path path;
    std::string refusal;  // the whole message
  };

  // What a thread makes of a file: the message that refuses it, or its
  // outputs, not yet written, and what to say of it.
  struct Prepared {
    std::string refusal;
    bool flagged = false;
    fs::path stem;
    std::vector<OutputFile> outputs;
    std::string note;       // on the error stream, a partial run's
    std::string node_text;  // on standard output, after the file's line
  };

  void fail(const fs::path& path, std::string_view reason) {
    err_ << printable(path.string()) << ": error: " << reason << '\n';
    failed_ = true;
  }

  void take(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error == std::errc::no_such_file_or_directory)
      return refuse(path, "no such file or folder");
    if (error) return refuse(path, "cannot open: " + error.message());
    if (fs::is_directory(status)) return take_folder(path);
    if (!fs::is_regular_file(status)) return refuse(path, "not a regular file");
    add(path);
  }

  void refuse(const fs::path& path, std::string_view reason) {
    files_.push_back({path, printable(path.string()) + ": error: " + std::string(reason)});
  }

  void take_folder(const fs::path& folder) {
    const auto files = results_files_in(folder);
    if (files.index() == 1) return refuse(folder, std::get<1>(files));
    for (const fs::path& file : std::get<0>(files)) add(file);
  }

  void add(const fs::path& path) {
    std::error_code error;
    const fs::path identity = fs::weakly_canonical(path, error);
    // The same file named twice is converted once.
    if (!error && !converted_inputs_.insert(identity).second) return;
    files_.push_back({path, {}});
  }

  // Everything that does not depend on the files before: run on a thread.
  Prepared prepare(const File& file) const {
    Prepared prepared;
    if (!file.refusal.empty()) {
      prepared.refusal = file.refusal;
      return prepared;
    }
    thread_local std::string text;  // one file at a time, its room reused
    auto read = read_run(file.path, ParseOptions{.allow_partial = options_.allow_partial}, text);
    if (auto* message = std::get_if<std::string>(&read)) {
      prepared.refusal = std::move(*message);
      return prepared;
    }
    RunResults& run = std::get<RunResults>(read);
    const std::string name = printable(file.path.string());
    if (run.partial)
      prepared.note = name + ": note: converted a partial run (" + run.partial_reason + ")\n";
    std::optional<RunNodes> nodes;
    if (rank_map_) {
      if (const std::string disagreement = apply_rank_map(*rank_map_, run); !disagreement.empty()) {
        prepared.refusal = name + ": error: the rank map " +
                           printable(options_.rank_map->string()) +
                           " is not of this run: " + disagreement;
        return prepared;
      }
      nodes = node_figures(run, fraction(), alpha());
      prepared.flagged = options_.fail_on_flag && any_flagged(*nodes);
      prepared.node_text = node_summary(run, *nodes, fraction(), alpha());
    }
    const auto& output_dir = options_.output_dir;
    const fs::path folder = output_dir ? fs::path(*output_dir) : file.path.parent_path();
    prepared.stem = folder / output_stem(file.path);
    const RunNodes* by_node = nodes ? &*nodes : nullptr;
    Rooms rooms = take_rooms();
    prepared.outputs = {
        {fs::path(prepared.stem) += ".json",
         to_json(run, by_node, record_of(file.path), std::move(rooms[0]))},
        {fs::path(prepared.stem) += ".csv", to_csv(run, std::move(rooms[1]))},
        {fs::path(prepared.stem) += ".svg", to_svg(run, by_node, std::move(rooms[2]))}};
    return prepared;
  }

  // The room of a file's three outputs, a megabyte for a run of 511
  // workers, is reused from file to file rather than grown anew.
  using Rooms = std::array<std::string, 3>;
  Rooms take_rooms() const {
    const std::lock_guard lock(rooms_mutex_);
    if (rooms_.empty()) return {};
    Rooms rooms = std::move(rooms_.back());
    rooms_.pop_back();
    return rooms;
  }

  void give_back(std::vector<OutputFile>& outputs) const {
    Rooms rooms;
    for (std::size_t i = 0; i < rooms.size(); ++i) rooms[i] = std::move(outputs[i].content);
    const std::lock_guard lock(rooms_mutex_);
    rooms_.push_back(std::move(rooms));
  }

  // Says and writes what `prepare` made of a file, in the files' order.
  void finish(const File& file, const Prepared& prepared) {
    const fs::path& path = file.path;
    if (!prepared.refusal.empty()) {
      err_ << prepared.refusal << '\n';
      failed_ = true;
      return;
    }
    flagged_ = flagged_ || prepared.flagged;
    std::error_code error;
    const fs::path stem_identity = fs::weakly_canonical(prepared.stem, error);
    if (!output_stems_.insert(error ? prepared.stem : stem_identity).second) {
      return fail(path, "its outputs would replace those of another file converted in this run");
    }
    records_.in(folder_of(path));  // names the folder's refused records, once
    const std::string write_error = write_outputs(prepared.outputs);
    if (!write_error.empty()) return fail(path, write_error);
    err_ << prepared.note;
    out_ << printable(path.string()) << " -> " << printable(prepared.outputs[0].path.string())
         << ", .csv, .svg\n"
         << prepared.node_text;
  }

  static fs::path folder_of(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
  }

  // The batch script's record beside the results file, where there is one;
  // each folder's records are read once.
  const RunRecord* record_of(const fs::path& path) const {
    const auto& records = records_.quietly_in(folder_of(path));
    const auto found = records.find(path.filename().string());
    return found == records.end() ? nullptr : &found->second;
  }

  double fraction() const { return options_.outlier_fraction.value_or(kDefaultOutlierFraction); }
  double alpha() const { return options_.alpha.value_or(kDefaultAlpha); }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool failed_ = false;
  bool flagged_ = false;  // a node flagged, with --fail-on-flag
  std::optional<RankMap> rank_map_;
  std::vector<File> files_;
  std::set<fs::path> converted_inputs_;
  std::set<fs::path> output_stems_;
  mutable RecordFolders records_;
  mutable std::mutex rooms_mutex_;
  mutable std::vector<Rooms> rooms_;
};

}  // namespace

const Command& convert_command() {
  static const Command command{
      "",
      "PATH...",
      "a results file, or a folder: all results files in it",
      "writes each results file's JSON, CSV and SVG chart, next to it or into one folder.",
      {
          {"--partial", "",
           "also convert files of runs that were stopped; their JSON says \"partial\": true"},
          {"-o, --output-dir", "DIR", "write into DIR (created if needed), not next to each file",
           false, several_outputs},
          {"--rank-map", "MAP",
           "name each worker's node and give the figures by node; MAP is the batch script's map, "
           "a job log holding it (its failure lines then mark figures that are not "
           "measurements), or the run's shared working folder"},
          {"--outlier-fraction", "SHARE",
           "with --rank-map, flag a node whose median rate is at most SHARE of the other nodes' "
           "typical rate (default 80%) and significantly below it",
           false, outlier_share},
          {"--alpha", "A",
           "with --rank-map, the chance of any false flag in a run, over all its tests and nodes "
           "together, above 0 and below 1: 0.05 (the default) or 5%",
           false, alpha_level},
          {"--fail-on-flag", "", "with --rank-map, end with status 1 where a node is flagged"},
      },
      "Exit status: 0 every file converted, 1 a file not converted or, with --fail-on-flag, a "
      "node flagged, 2 a wrong command line."};
  return command;
}

int run_convert(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  Options options;
  options.paths = arguments.operands;
  options.output_dir = arguments.value("--output-dir");
  options.allow_partial = arguments.has("--partial");
  if (const auto map = arguments.value("--rank-map")) options.rank_map = fs::path(*map);
  if (const auto share = arguments.value("--outlier-fraction")) {
    options.outlier_fraction = *percent_of(*share) / 100;
  }
  if (const auto alpha = arguments.value("--alpha")) options.alpha = *percent_of(*alpha) / 100;
  options.fail_on_flag = arguments.has("--fail-on-flag");
  if (options.paths.empty()) return usage_error(err, "no results file or folder given");
  if (!options.rank_map) {
    // Without a map there are no nodes to judge.
    if (options.outlier_fraction) return usage_error(err, "--outlier-fraction needs --rank-map");
    if (options.alpha) return usage_error(err, "--alpha needs --rank-map");
    if (options.fail_on_flag) return usage_error(err, "--fail-on-flag needs --rank-map");
  }
  return Converter(options, out, err).run();
}

}  // namespace quenda::results
