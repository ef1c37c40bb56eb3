#include "analyse/history.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "analyse/judgement.h"

namespace quenda::results {
namespace {

double civil_seconds(int year, unsigned month, unsigned day, int hour, int minute, int second) {
  const std::chrono::sys_days date =
      std::chrono::year(year) / std::chrono::month(month) / std::chrono::day(day);
  return static_cast<double>(date.time_since_epoch().count()) * 86400.0 + hour * 3600.0 +
         minute * 60.0 + second;
}

// "before->after" where they differ.
void note_change(std::string& changes, const char* what, const std::string& before,
                 const std::string& after) {
  if (before == after) return;
  changes += (changes.empty() ? "" : "; ") + std::string(what) + " " + before + "->" + after;
}

// The log of a figure that can be judged: present, finite, above zero.
std::optional<double> log_of(const Figure& value) {
  if (!value || !std::isfinite(*value) || !(*value > 0.0)) return std::nullopt;
  return std::log(*value);
}

}  // namespace

const char* time_source_key(TimeSource source) {
  constexpr const char* kKeys[]{"record", "name", "name+mtime"};
  return kKeys[static_cast<int>(source)];
}

double local_instant(const NameMetadata& when) {
  int year = 0, hour = 0, minute = 0, second = 0;
  unsigned month = 1, day = 1;
  std::sscanf(when.local_date.c_str(), "%d-%u-%u", &year, &month, &day);
  std::sscanf(when.local_time.c_str(), "%d:%d:%d", &hour, &minute, &second);
  return civil_seconds(year, month, day, hour, minute, second);
}

std::optional<double> utc_instant(const std::string& text) {
  int year = 0, hour = 0, minute = 0, second = 0;
  unsigned month = 0, day = 0;
  int length = 0;
  if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2d:%2d:%2dZ%n", &year, &month, &day, &hour, &minute,
                  &second, &length) != 6 ||
      static_cast<std::size_t>(length) != text.size()) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                         std::chrono::day(day)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60 || hour < 0 || minute < 0 ||
      second < 0) {
    return std::nullopt;
  }
  return civil_seconds(year, month, day, hour, minute, second);
}

std::string changes_between(const TrendPoint& before, const TrendPoint& after) {
  std::string changes;
  note_change(changes, "workers", std::to_string(before.workers), std::to_string(after.workers));
  if (before.setup && after.setup) {
    note_change(changes, "file system", before.setup->fstype, after.setup->fstype);
    note_change(changes, "mount options", before.setup->mount_options, after.setup->mount_options);
    note_change(changes, "kernel", before.setup->kernel, after.setup->kernel);
  }
  return changes;
}

Departures judge_newest(const std::vector<TrendPoint>& points, double alpha) {
  Departures departures;
  if (points.empty()) return departures;
  departures.history = points.size() - 1;
  Family family;
  std::array<std::optional<std::size_t>, kTestCount> places;
  for (int t = 0; t < kTestCount; ++t) {
    const auto newest = log_of(points.back().tests[t].mean);
    if (!newest) continue;
    std::vector<double> history;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      if (const auto mean = log_of(points[i].tests[t].mean)) history.push_back(*mean);
    }
    const NodeScore score = score_against_history(*newest, history);
    if (!score.p_value) continue;
    departures.tests[t].share = std::exp(*score.deviation);
    places[t] = family.add(*score.p_value);
  }
  family.adjust();
  for (int t = 0; t < kTestCount; ++t) {
    if (!places[t]) continue;
    Departure& departure = departures.tests[t];
    departure.p_adjusted = family.adjusted(*places[t]);
    departure.flagged = *departure.p_adjusted <= alpha && *departure.share < 1.0 - kHistoryMargin;
  }
  return departures;
}

NodeDepartures judge_newest_nodes(const std::vector<TrendPoint>& points, double alpha) {
  NodeDepartures departures;
  if (points.empty()) return departures;
  const std::vector<NodePoint>& newest = points.back().nodes;
  departures.nodes = newest.size();
  Family family;
  std::vector<std::size_t> places;
  for (const NodePoint& node : newest) {
    for (int t = 0; t < kTestCount; ++t) {
      const auto value = log_of(node.median[t]);
      if (!value) continue;
      // The node's own past: a run where it ran and measured this test.
      std::vector<double> history;
      for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        for (const NodePoint& earlier : points[i].nodes) {
          if (earlier.name != node.name) continue;
          if (const auto past = log_of(earlier.median[t])) history.push_back(*past);
        }
      }
      const NodeScore score = score_against_history(*value, history);
      if (!score.p_value) continue;
      departures.judged.push_back(NodeDeparture{node.name, t, std::exp(*score.deviation)});
      places.push_back(family.add(*score.p_value));
    }
  }
  family.adjust();
  for (std::size_t i = 0; i < departures.judged.size(); ++i) {
    NodeDeparture& departure = departures.judged[i];
    departure.p_adjusted = family.adjusted(places[i]);
    departure.flagged = departure.p_adjusted <= alpha && departure.share < 1.0 - kHistoryMargin;
  }
  return departures;
}

}  // namespace quenda::results
