#include "commands/trend.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <tuple>

#include "analyse/judgement.h"
#include "analyse/node_figures.h"
#include "analyse/rates.h"
#include "read/in_order.h"
#include "read/rank_map.h"
#include "read/run_record.h"
#include "write/replace_file.h"
#include "write/text_escape.h"
#include "write/trend_chart.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// A clock set back by an hour repeats an hour of local times: two names
// closer than this may be in either order.
constexpr double kRepeatedHour = 3600.0;

// Each node's median rates of `run`, its workers named by a rank map.
std::vector<NodePoint> node_points(const RunResults& run) {
  std::vector<NodePoint> points;
  const RunNodes nodes = node_figures(run, kDefaultOutlierFraction);
  for (int t = 0; t < kTestCount; ++t) {
    for (const NodeFigures& node : nodes[t].nodes) {
      auto point = std::find_if(points.begin(), points.end(),
                                [&](const NodePoint& known) { return known.name == node.name; });
      if (point == points.end()) point = points.insert(points.end(), NodePoint{node.name, {}});
      point->median[t] = node.median;
    }
  }
  return points;
}

// The judgement of the newest run for standard output, a line per test.
std::string departures_summary(const Departures& departures, double alpha) {
  const bool judged = std::any_of(departures.tests.begin(), departures.tests.end(),
                                  [](const Departure& test) { return test.share.has_value(); });
  if (!judged) {
    return "newest run not judged against its history: " + std::to_string(kMinHistory) +
           " earlier runs with a mean per worker are needed, " +
           std::to_string(departures.history) + " given\n";
  }
  std::string text = "newest run against the " + std::to_string(departures.history) +
                     " before it: flagged where its mean per worker is more than " +
                     report_text(kHistoryMargin * 100.0) +
                     "% below their typical one and significantly so (family level " +
                     report_text(alpha) + " over the six tests)\n";
  for (int t = 0; t < kTestCount; ++t) {
    const Departure& departure = departures.tests[t];
    text += "  " + std::string(test_key(kTests[t].id)) + ": ";
    if (!departure.share) {
      text += "not judged\n";
      continue;
    }
    text += report_text(*departure.share * 100.0, 3) + "% of its history, adjusted p " +
            report_text(*departure.p_adjusted, 2) + (departure.flagged ? ": departs\n" : "\n");
  }
  return text;
}

// The judgement of the newest run's nodes for standard output.
std::string node_departures_summary(const NodeDepartures& departures, std::size_t mapped,
                                    std::size_t runs, double alpha) {
  std::string text = "by node (" + std::to_string(mapped) + " of " + std::to_string(runs) +
                     " runs with a rank map): ";
  if (departures.nodes == 0) return text + "the newest run has no map, its nodes not judged\n";
  if (departures.judged.empty()) {
    return text + "newest run's nodes not judged: " + std::to_string(kMinHistory) +
           " earlier runs with a map naming the node are needed\n";
  }
  text += "flagged where a node's median rate is more than " + report_text(kHistoryMargin * 100.0) +
          "% below its own typical one and significantly so (family level " + report_text(alpha) +
          " over " + std::to_string(departures.judged.size()) +
          " tests of the newest run's nodes)\n";
  for (const NodeDeparture& departure : departures.judged) {
    if (!departure.flagged) continue;
    text += "  " + printable(departure.node) + ": " +
            std::string(test_key(kTests[departure.test].id)) + " at " +
            report_text(departure.share * 100.0, 3) + "% of its history, adjusted p " +
            report_text(departure.p_adjusted, 2) + ": departs\n";
  }
  if (!departures.any())
    text += "  no node departs among " + std::to_string(departures.nodes) + "\n";
  return text;
}

// --- The command -----------------------------------------------------------

struct Entry {
  fs::path path;
  std::optional<fs::file_time_type> modified;
  std::string job_id;  // from the run's record, where one lies beside the results file
  TrendPoint point;    // its name's and its record's part, until the file is read
};

// Each field of `nodes` as the distinct values of the nodes, in order.
RunSetup setup_of(const std::vector<NodeRecord>& nodes) {
  std::set<std::string> fstype, mount_options, kernel;
  for (const NodeRecord& node : nodes) {
    fstype.insert(node.fstype);
    mount_options.insert(node.mount_options);
    kernel.insert(node.kernel);
  }
  const auto joined = [](const std::set<std::string>& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : " | ") + value;
    return text;
  };
  return {joined(fstype), joined(mount_options), joined(kernel)};
}

// A rank map that may be a run's, and where it came from.
struct MapCandidate {
  std::string file_name;
  RankMap map;
  bool named = false;  // given as a file, for every run it fits
  std::optional<fs::file_time_type> modified;
};

double seconds_between(fs::file_time_type a, fs::file_time_type b) {
  return std::chrono::duration<double>(a - b).count();
}

class Trend {
 public:
  Trend(std::ostream& out, std::ostream& err) : out_(out), err_(err), records_(err) {}

  int run(const std::vector<std::string>& paths, const std::vector<std::string>& maps,
          const fs::path& folder, double alpha, bool fail_on_flag) {
    for (const std::string& path : paths) take(path);
    with_maps_ = !maps.empty();
    for (const std::string& map : maps) take_map(map);
    order();

    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
      err_ << printable(folder.string())
           << ": error: cannot create the output folder: " << error.message() << '\n';
      return kExitSkipped;
    }
    // One series per cluster, in the clusters' name order (runs without a
    // record first).
    std::vector<std::string> clusters;
    std::map<std::string, std::vector<TrendPoint>> series;
    // What a thread makes of a file: the message that refuses it, or its
    // point; the run itself only where a rank map may name its nodes, so
    // that a run is freed where it was read.
    struct Read {
      std::string message;
      TrendPoint point;
      std::optional<RunResults> run;
    };
    const auto read_entry = [this](std::size_t i) {
      thread_local std::string text;  // one file at a time, its room reused
      auto read = read_run(entries_[i].path, ParseOptions{.keep_workers = with_maps_}, text);
      Read result;
      if (auto* message = std::get_if<std::string>(&read)) {
        result.message = std::move(*message);
        return result;
      }
      RunResults& run = std::get<RunResults>(read);
      result.point.workers = run.worker_count();
      for (const TestResults& test : run.tests) {
        const Measure measure = measure_of(test.id);
        result.point.tests[static_cast<int>(test.id)] = {
            headline_rate(test.single, measure), headline_rate(test.total, measure),
            headline_rate(test.mean, measure), test.significant};
      }
      if (with_maps_) result.run = std::move(run);
      return result;
    };
    in_order(entries_.size(), read_entry, [&](std::size_t i, Read read) {
      if (!read.message.empty()) {
        err_ << read.message << "; skipped\n";
        skipped_ = true;
        return;
      }
      TrendPoint point = entries_[i].point;
      point.workers = read.point.workers;
      point.tests = read.point.tests;
      if (read.run && map_run(entries_[i], *read.run)) point.nodes = node_points(*read.run);
      std::vector<TrendPoint>& points = series[point.cluster];
      if (points.empty()) clusters.push_back(point.cluster);
      if (!points.empty()) point.changes = changes_between(points.back(), point);
      points.push_back(std::move(point));
    });
    if (clusters.empty()) {
      err_ << "quenda-lite-results: error: no run to chart\n";
      return kExitSkipped;
    }
    std::vector<TrendSeries> charted;
    std::string csv = trend_csv_header();
    std::string node_csv = trend_node_csv_header();
    for (const std::string& cluster : clusters) {
      std::vector<TrendPoint>& points = series[cluster];
      for (const TrendPoint& point : points) {
        csv += trend_csv_rows(point);
        node_csv += trend_node_csv_rows(point);
      }
      Departures departures = judge_newest(points, alpha);
      NodeDepartures nodes = judge_newest_nodes(points, alpha);
      charted.push_back(
          TrendSeries{cluster, std::move(points), std::move(departures), std::move(nodes)});
    }
    std::vector<OutputFile> outputs{{folder / "trend.csv", csv},
                                    {folder / "trend.svg", trend_svg(charted)}};
    if (with_maps_) outputs.push_back({folder / "trend-nodes.csv", node_csv});
    const std::string write_error = write_outputs(outputs);
    if (!write_error.empty()) {
      err_ << "quenda-lite-results: error: " << write_error << '\n';
      return kExitSkipped;
    }
    out_ << runs_charted(charted) << " -> " << printable((folder / "trend.csv").string())
         << ", .svg" << (with_maps_ ? ", trend-nodes.csv\n" : "\n") << order_summary();
    bool flagged = false;
    for (const TrendSeries& one : charted) {
      out_ << series_summary(one, charted.size());
      out_ << departures_summary(one.departures, alpha);
      if (with_maps_) {
        std::size_t with_map = 0;
        for (const TrendPoint& point : one.points) with_map += point.nodes.empty() ? 0 : 1;
        out_ << node_departures_summary(one.nodes, with_map, one.points.size(), alpha);
      }
      flagged = flagged || one.departures.any() || one.nodes.any();
    }
    out_.flush();
    return skipped_ || !out_ || (fail_on_flag && flagged) ? kExitSkipped : 0;
  }

 private:
  static constexpr int kExitSkipped = 1;

  void skip(const fs::path& path, std::string_view reason) {
    err_ << printable(path.string()) << ": error: " << reason << "; skipped\n";
    skipped_ = true;
  }

  void add(const fs::path& path) {
    // A file named twice, by another path or through a link, is read once: one
    // that is no link is known by its name in its folder's canonical path.
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code error;
    if (folder != canonical_.first) canonical_ = {folder, fs::weakly_canonical(folder, error)};
    if (error) canonical_.second = folder;
    const fs::path identity = fs::is_symlink(path, error) ? fs::weakly_canonical(path, error)
                                                          : canonical_.second / path.filename();
    if (!seen_.insert((error ? path : identity).native()).second) return;
    auto when = parse_results_file_name(path.filename().string());
    if (!when) {
      return skip(path,
                  "its name gives no date and time (the collector's names do: "
                  "'results_quenda_lite_windows_clusters @ <node> @ local date "
                  "YYYY.MM.DD time HH.MM.SS.txt')");
    }
    Entry entry;
    entry.path = path;
    TrendPoint& point = entry.point;
    point.when = std::move(*when);
    const fs::file_time_type modified = fs::last_write_time(path, error);
    if (!error) entry.modified = modified;
    const std::map<std::string, RunRecord>& records = records_.in(folder);
    if (const auto found = records.find(path.filename().string()); found != records.end()) {
      const RunRecord& record = found->second;
      point.cluster = record.cluster;
      entry.job_id = record.job_id;
      point.start_utc = record.start_utc;
      point.setup = setup_of(record.nodes);
      if (const auto start = utc_instant(record.start_utc)) {
        point.instant = *start;
        point.source = TimeSource::kRecord;
      }
    }
    entries_.push_back(std::move(entry));
  }

  void take(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) return skip(path, "cannot open: " + error.message());
    if (!fs::is_directory(status)) return add(path);
    const auto files = results_files_in(path);
    if (files.index() == 1) return skip(path, std::get<1>(files));
    for (const fs::path& file : std::get<0>(files)) add(file);
  }

  // Time order within each cluster. A run with a record has its UTC start;
  // one without, the local time of its name, which repeats for an hour
  // where a clock is set back: of two such names less than an hour apart,
  // the file modified first ran first where the modification times say so
  // clearly.
  void order() {
    // A series holds UTC and local times apart no better than its runs'
    // names do: with a run of it lacking a record, all go by their names.
    std::set<std::string> by_name;
    for (const Entry& entry : entries_) {
      if (entry.point.source != TimeSource::kRecord) by_name.insert(entry.point.cluster);
    }
    for (Entry& entry : entries_) {
      if (!by_name.contains(entry.point.cluster)) continue;
      entry.point.instant = local_instant(entry.point.when);
      entry.point.source = TimeSource::kName;
    }
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.point.cluster, a.point.instant, a.point.when.processor_name, a.path) <
             std::tie(b.point.cluster, b.point.instant, b.point.when.processor_name, b.path);
    });
    const auto swapped = [](const Entry& a, const Entry& b) {
      if (a.point.cluster != b.point.cluster || a.point.source == TimeSource::kRecord ||
          b.point.source == TimeSource::kRecord || !a.modified || !b.modified) {
        return false;
      }
      // Where b ran an hour of clock time earlier than its name says, a
      // started kRepeatedHour - names after it, and its file was written
      // about as much later: half of that is taken as proof, so that runs
      // of unlike length or files copied in another order are not reordered.
      const double names = b.point.instant - a.point.instant;
      return names < kRepeatedHour &&
             seconds_between(*a.modified, *b.modified) > (kRepeatedHour - names) / 2;
    };
    for (std::size_t pass = 0; pass < entries_.size(); ++pass) {
      bool moved = false;
      for (std::size_t i = 0; i + 1 < entries_.size(); ++i) {
        if (!swapped(entries_[i], entries_[i + 1])) continue;
        std::swap(entries_[i], entries_[i + 1]);
        entries_[i].point.source = entries_[i + 1].point.source = TimeSource::kNameMtime;
        moved = true;
      }
      if (!moved) break;
    }
  }

  // Standard output's word on how the runs were put in order.
  std::string order_summary() const {
    std::array<std::size_t, 3> counts{};
    for (const Entry& entry : entries_) ++counts[static_cast<int>(entry.point.source)];
    std::string text = "order:";
    if (counts[0] > 0) {
      text += " " + std::to_string(counts[0]) + " by their run record's UTC start;";
    }
    const std::size_t by_name = counts[1] + counts[2];
    if (by_name > 0) {
      text += " " + std::to_string(by_name) + " by the local time in their file's name";
      if (counts[2] > 0) {
        text += ", " + std::to_string(counts[2]) +
                " of them by their files' modification times beside a name less than an hour "
                "apart";
      }
      text += ";";
    }
    text.back() = '\n';
    return text;
  }

  static std::string series_summary(const TrendSeries& series, std::size_t count) {
    std::string text;
    if (count > 1 || !series.cluster.empty()) {
      text = series_heading(series, printable(series.cluster)) + "\n";
    }
    for (const TrendPoint& point : series.points) {
      if (point.changes.empty()) continue;
      text += "changed at " + point.when.local_date + " " + point.when.local_time + ": " +
              printable(point.changes) + "\n";
    }
    return text;
  }

  // Maps: a file for every run it fits, or a folder of the batch script's
  // maps (quenda-lite-<job id>.map); a folder without any is read as a
  // shared working folder.
  void take_map(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      if (const std::size_t found = maps_in(path); found > 0) return;
    }
    auto read = read_rank_map(path);
    if (const auto* reason = std::get_if<std::string>(&read)) {
      err_ << printable(path.string()) << ": error: " << *reason << "; not used\n";
      skipped_ = true;
      return;
    }
    maps_.push_back(
        MapCandidate{path.filename().string(), std::move(std::get<RankMap>(read)), true, {}});
  }

  // Reads the maps in `folder` once; returns how many it holds.
  std::size_t maps_in(const fs::path& folder) {
    std::error_code error;
    const fs::path key = fs::weakly_canonical(folder, error);
    const auto [known, added] = map_folders_.try_emplace(error ? folder : key, 0);
    if (!added) return known->second;
    std::size_t& found = known->second;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (!name.starts_with("quenda-lite-") || !name.ends_with(".map")) continue;
      auto read = read_rank_map(it->path());
      if (read.index() != 0) continue;  // a map being written, or not a map
      std::error_code time_error;
      const fs::file_time_type modified = fs::last_write_time(it->path(), time_error);
      maps_.push_back(MapCandidate{name, std::move(std::get<RankMap>(read)), false,
                                   time_error ? std::nullopt : std::optional(modified)});
      ++found;
    }
    return found;
  }

  // Names `run`'s workers' nodes from the map that is its: the map of its
  // job, as its record names it, else a map named for every run, else the
  // map beside it or in a folder of maps that fits it, the one written
  // nearest the results file where several do.
  bool map_run(const Entry& entry, RunResults& run) {
    maps_in(entry.path.parent_path().empty() ? fs::path(".") : entry.path.parent_path());
    const std::string own = "quenda-lite-" + entry.job_id + ".map";
    // Each candidate's distance from the run; the nearest is tried first and
    // mostly fits, so the rest are never put in order.
    std::vector<std::pair<double, const MapCandidate*>> order;
    order.reserve(maps_.size());
    for (const MapCandidate& c : maps_) {
      double distance = HUGE_VAL;
      if (!entry.job_id.empty() && c.file_name == own) {
        distance = -2.0;
      } else if (c.named) {
        distance = -1.0;
      } else if (c.modified && entry.modified) {
        distance = std::fabs(seconds_between(*c.modified, *entry.modified));
      }
      order.emplace_back(distance, &c);
    }
    for (auto untried = order.begin(); untried != order.end(); ++untried) {
      std::iter_swap(untried,
                     std::min_element(untried, order.end(), [](const auto& a, const auto& b) {
                       return a.first < b.first;
                     }));
      if (apply_rank_map(untried->second->map, run).empty()) return true;
    }
    return false;
  }

  std::ostream& out_;
  std::ostream& err_;
  std::vector<Entry> entries_;
  std::set<fs::path::string_type> seen_;     // canonical, so compared as strings
  std::pair<fs::path, fs::path> canonical_;  // the folder last added from, canonical
  std::vector<MapCandidate> maps_;
  std::map<fs::path, std::size_t> map_folders_;  // how many maps each holds
  RecordFolders records_;
  bool with_maps_ = false;
  bool skipped_ = false;
};

}  // namespace

const Command& trend_command() {
  static const Command command{
      "trend",
      "PATH...",
      "a results file, or a folder: all results files in it",
      "charts the history of many runs: trend.csv (one row per run and test) and trend.svg (a "
      "panel per test, total and mean per worker over time), one series per cluster, in time "
      "order from each run's record (the batch script's quenda-lite-<job id>.json beside the "
      "results file) or else from the local date and time in each results file's name, marks "
      "a change of worker count, file system, mount options or kernel, and judges each "
      "cluster's newest run's mean per worker against the runs before it.",
      {
          {"-o, --output-dir", "DIR", "write into DIR (created if needed), not the current folder",
           false, several_outputs},
          {"--alpha", "A",
           "the chance of any false flag among the newest run's six tests, and apart among its "
           "nodes' tests with maps, above 0 and below 1: 0.05 (the default) or 5%",
           false, alpha_level},
          {"--rank-map", "MAP",
           "a map or job log for every run it fits, or a folder of the batch script's maps; the "
           "maps beside each results file are taken too: keeps each node's history and judges "
           "the newest run's nodes against their own past",
           true},
          {"--fail-on-flag", "",
           "end with status 1 where a newest run or one of its nodes departs from its history"},
      },
      "Exit status: 0 every file charted, 1 a file skipped (named on standard error) or, with "
      "--fail-on-flag, a departure flagged, 2 a wrong command line."};
  return command;
}

int run_trend(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.operands.empty()) return usage_error(err, "no results file or folder given");
  const double alpha = arguments.fraction("--alpha", kDefaultAlpha);
  return Trend(out, err).run(arguments.operands, arguments.all("--rank-map"),
                             arguments.value("--output-dir").value_or("."), alpha,
                             arguments.has("--fail-on-flag"));
}

}  // namespace quenda::results
