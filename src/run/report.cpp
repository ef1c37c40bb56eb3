#include "run/report.h"

#include <array>

#include "report_texts.h"

namespace quenda {
namespace {

constexpr const char kCopyright[] = "Copyright (C) 2019 Torvane Lumicrest. All rights reserved.";
constexpr const char kSupport[] = "For Support: quenda-support@torvane.com";

}  // namespace

std::string results_file_name(const char* processor_name, const std::tm& local_time) {
  std::array<char, 1024> date{};
  std::strftime(date.data(), date.size(), "local date %Y.%m.%d time %H.%M.%S.txt", &local_time);
  std::string name = texts::kResultsFilePrefix;
  name += processor_name;
  name += " @ ";
  name += date.data();
  return name;
}

std::string results_file_name_now(const char* processor_name) {
  const std::time_t now = std::time(nullptr);
  // localtime's result is a static buffer; this runs once, on one thread.
  const std::tm* local = std::localtime(&now);
  return results_file_name(processor_name, local != nullptr ? *local : std::tm{});
}

std::string saved_path(const char* working_directory, const std::string& results_file_name) {
  std::string path = working_directory != nullptr ? working_directory : "(null)";
  path += '/';
  path += results_file_name;
  return path;
}

void write_banner(Report& report, int world_size) {
  report.console();
  report.console(texts::kTitle);
  report.console(kCopyright);
  report.console(kSupport);
  report.console();
  report.console();
  report.console();
  report.console(texts::kThreads, world_size);
  report.console();
  report.file(texts::kTitle);
  report.file();
  report.file(texts::kThreads, world_size);
  report.file();
  report.console(texts::kSingleSection);
  report.console();
  report.file(texts::kSingleSection);
  report.file();
}

void write_cluster_section(Report& report) { report.both(texts::kClusterSection); }

void write_closing(Report& report, const std::string& saved_path) {
  report.console("Results have been saved in a file and you can find it at: ", saved_path);
  report.console();
  report.console();
  report.console("Press Enter to Exit.");
}

}  // namespace quenda
