#include "chart_check.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process.h"

namespace quenda::results::samples {
namespace {

using testing::ProcessResult;
using testing::run_process;

const std::string kXmllint = QUENDA_XMLLINT;

bool have_xmllint() {
  if (kXmllint.empty()) {
    ADD_FAILURE() << "xmllint is needed to check the charts; install libxml2-utils";
    return false;
  }
  return true;
}

}  // namespace

std::string xml_problems(const std::filesystem::path& svg) {
  return xml_problems(std::vector<std::filesystem::path>{svg});
}

std::string xml_problems(const std::vector<std::filesystem::path>& svgs) {
  if (!have_xmllint()) return "no xmllint";
  std::vector<std::string> argv{kXmllint, "--noout"};
  for (const std::filesystem::path& svg : svgs) argv.push_back(svg.string());
  const ProcessResult result = run_process(argv, ".");
  if (result.exit_code == 0 && result.err.empty()) return {};
  return "xmllint exit " + std::to_string(result.exit_code) + ": " + result.err;
}

int xpath_count(const std::filesystem::path& svg, const std::string& expression) {
  if (!have_xmllint()) return -1;
  const ProcessResult result =
      run_process({kXmllint, "--xpath", "count(" + expression + ")", svg.string()}, ".");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  try {
    return std::stoi(result.out);
  } catch (const std::exception&) {
    ADD_FAILURE() << "xmllint printed '" << result.out << "'";
    return -1;
  }
}

std::string render_problems(const std::filesystem::path& svg) {
  const std::filesystem::path folder = svg.parent_path();
  const std::filesystem::path drawn = folder / "rsvg.png";
  const std::filesystem::path shot = folder / "chromium.png";
  std::string problems;
  const ProcessResult rsvg = run_process({"rsvg-convert", "-o", drawn.string(), svg.string()}, ".");
  if (rsvg.exit_code != 0 || !std::filesystem::exists(drawn)) {
    problems += "rsvg-convert exit " + std::to_string(rsvg.exit_code) + ": " + rsvg.err + "\n";
  }
  const ProcessResult browser =
      run_process({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                   "--screenshot=" + shot.string(), "--window-size=1000,1200",
                   "file://" + std::filesystem::absolute(svg).string()},
                  ".");
  if (browser.exit_code != 0 || !std::filesystem::exists(shot) ||
      std::filesystem::file_size(shot) < 10'000) {  // a blank page is a few kilobytes
    problems += "chromium exit " + std::to_string(browser.exit_code) + ": " + browser.err + "\n";
  }
  return problems;
}

int bars_in_panel(const std::filesystem::path& svg, const std::string& test_key) {
  return xpath_count(svg, "//*[local-name()='g'][@class='panel'][@data-test='" + test_key +
                              "']/*[local-name()='rect'][@class='bar']");
}

}  // namespace quenda::results::samples
