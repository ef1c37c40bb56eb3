#include "run/report.h"

#include "report_texts.h"

namespace quenda {
namespace {

constexpr const char kCopyright[] = "Copyright (C) 2019 Torvane Lumicrest. All rights reserved.";
constexpr const char kSupport[] = "For Support: quenda-support@torvane.com";

}  // namespace

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
