#include "trace_reader.h"

#include <cctype>
#include <sstream>
#include <utility>

namespace quenda::syscall {
namespace {

constexpr const char kMarker[] = "\"quenda-mark ";
constexpr const char kUnfinished[] = " <unfinished ...>";

// The arguments of the call whose parenthesis opens at `open`, split at its
// top-level commas, skipping quoted strings (with their escapes) and nested
// brackets. `close` is the index of the closing parenthesis, or npos when
// there is none.
std::vector<std::string> split_arguments(const std::string& text, std::size_t open,
                                         std::size_t& close) {
  std::vector<std::string> args;
  std::string current;
  int depth = 0;
  bool quoted = false;
  close = std::string::npos;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      current += c;
      if (c == '\\' && i + 1 < text.size())
        current += text[++i];
      else if (c == '"')
        quoted = false;
      continue;
    }
    if (c == '"') quoted = true;
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') {
      if (depth == 0) {
        if (c == ')') close = i;
        break;
      }
      --depth;
    }
    if (c == ',' && depth == 0) {
      args.push_back(current);
      current.clear();
      if (i + 1 < text.size() && text[i + 1] == ' ') ++i;
      continue;
    }
    current += c;
  }
  if (!current.empty() || !args.empty()) args.push_back(current);
  return args;
}

// "quenda-mark begin x" from a marker write's argument, or "" for any other.
std::string marker_text(const Call& call) {
  if (call.name != "write" || call.args.size() < 2) return "";
  const std::string& data = call.args[1];
  if (data.rfind(kMarker, 0) != 0) return "";
  const std::size_t end = data.find('"', 1);
  return end == std::string::npos ? "" : data.substr(1, end - 1);
}

// Parses one call as strace prints it, "name(arg, arg, ...) = result".
// Returns false for anything else (signals, exits, unparsable lines).
bool parse_call(const std::string& text, Call& call) {
  const std::size_t open = text.find('(');
  if (open == std::string::npos || open == 0) return false;
  for (std::size_t i = 0; i < open; ++i) {
    const char c = text[i];
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  }
  std::size_t close = 0;
  std::vector<std::string> args = split_arguments(text, open, close);
  if (close == std::string::npos) return false;
  const std::size_t equals = text.find(" = ", close);
  if (equals == std::string::npos) return false;
  call.name = text.substr(0, open);
  call.args = std::move(args);
  call.result = text.substr(equals + 3);
  return true;
}

}  // namespace

std::map<std::string, std::vector<Call>> read_stretches(const std::string& trace,
                                                        std::string& error) {
  std::map<std::string, std::vector<Call>> stretches;
  std::map<std::string, std::string> unfinished;  // by thread id
  std::string marking_thread;
  std::string open_test;  // the test whose begin marker came last, until its end
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string thread = line.substr(0, space);
    // strace pads short process ids ("9071  write(...)"), so skip every blank.
    const std::size_t start = line.find_first_not_of(' ', space);
    if (start == std::string::npos) continue;
    std::string text = line.substr(start);

    if (text.size() > sizeof kUnfinished - 1 &&
        text.compare(text.size() - (sizeof kUnfinished - 1), std::string::npos, kUnfinished) == 0) {
      unfinished[thread] = text.substr(0, text.size() - (sizeof kUnfinished - 1));
      continue;
    }
    if (text.rfind("<... ", 0) == 0) {
      const std::size_t resumed = text.find(" resumed>");
      if (resumed == std::string::npos) continue;
      text = unfinished[thread] + text.substr(resumed + 9);
      unfinished.erase(thread);
    }

    Call call;
    if (!parse_call(text, call)) continue;
    const std::string marker = marker_text(call);
    if (!marker.empty()) {
      if (marking_thread.empty()) marking_thread = thread;
      std::istringstream words(marker.substr(sizeof "quenda-mark" /* with the blank */));
      std::string edge;
      std::string test;
      words >> edge >> test;
      if (edge == "begin") {
        if (!open_test.empty()) error = "no end marker for " + open_test;
        open_test = test;
        stretches[test];  // an empty stretch is still a stretch
      } else if (edge == "end") {
        if (open_test != test) error = "end marker of " + test + " without its begin";
        open_test.clear();
      } else if (edge == "clock" && thread == marking_thread && !open_test.empty()) {
        stretches[open_test].push_back(Call{"clock", {}, ""});
      }
      continue;
    }
    if (thread == marking_thread && !open_test.empty()) stretches[open_test].push_back(call);
  }
  if (!open_test.empty() && error.empty()) error = "no end marker for " + open_test;
  if (marking_thread.empty() && error.empty()) error = "no marker in the trace";
  return stretches;
}

}  // namespace quenda::syscall
