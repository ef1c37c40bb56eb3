// Helpers shared by the unit tests: a scratch working directory, captured
// report sinks and file contents.
#ifndef QUENDA_TEST_UNIT_TEST_SUPPORT_H_
#define QUENDA_TEST_UNIT_TEST_SUPPORT_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run/report.h"

namespace quenda::testing {

// Makes a fresh temporary directory the working directory for the life of
// the object, then returns to the previous one and deletes it.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(std::filesystem::current_path()) {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("quenda-unit-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Names of the files in the directory.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// A report whose two sinks are kept in memory.
struct CapturedReport {
  std::ostringstream console_text;
  std::ostringstream file_text;
  Report report{console_text, file_text};

  std::vector<std::string> console_lines() const { return split(console_text.str()); }
  std::vector<std::string> file_lines() const { return split(file_text.str()); }

  static std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

// A report whose two sinks write into one log, each line marked with its
// sink ("console: " or "file: "), in the order the lines were written.
class OrderedReport {
 public:
  std::vector<std::string> log;

 private:
  class MarkedLines : public std::streambuf {
   public:
    MarkedLines(std::vector<std::string>& log, const char* mark) : log_(log), mark_(mark) {}

   protected:
    int overflow(int c) override {
      if (c == '\n') {
        log_.push_back(mark_ + pending_);
        pending_.clear();
      } else if (c != traits_type::eof()) {
        pending_ += static_cast<char>(c);
      }
      return c;
    }

   private:
    std::vector<std::string>& log_;
    std::string mark_;
    std::string pending_;
  };
  MarkedLines console_lines_{log, "console: "};
  MarkedLines file_lines_{log, "file: "};
  std::ostream console_{&console_lines_};
  std::ostream file_{&file_lines_};

 public:
  Report report{console_, file_};
};

inline std::string file_bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary);
  out << bytes;
}

}  // namespace quenda::testing

#endif  // QUENDA_TEST_UNIT_TEST_SUPPORT_H_
