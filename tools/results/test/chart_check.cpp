#include "chart_check.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <tuple>

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

struct Box {
  double left, top, right, bottom;
  std::string text;
};

// Glyph widths in ems, each rounded up from DejaVu Sans's, the chart's first font.
double text_width(const std::string& text, double size, bool bold) {
  double ems = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] & 0xC0) == 0x80) continue;     // inside a UTF-8 sequence
    if (text[i] == '&') i = text.find(';', i);  // an entity is one character
    const auto in = [&](std::string_view set) { return set.find(text[i]) != set.npos; };
    ems += in(" .,:;'!|il")                     ? 0.34
           : in("ftrj()[]-")                    ? 0.44
           : in("mwMW%")                        ? 1.0
           : (text[i] >= 'A' && text[i] <= 'Z') ? 0.78
                                                : 0.64;
  }
  return ems * size * (bold ? 1.1 : 1.0);
}

// The value of the first `name` attribute in `tags`.
std::string attribute(const std::string& tags, const std::string& name, const std::string& absent) {
  std::smatch match;
  const bool found = std::regex_search(tags, match, std::regex("\\s" + name + "=\"([^\"]*)\""));
  return found ? match[1].str() : absent;
}

}  // namespace

std::string label_problems(const std::filesystem::path& svg) {
  const std::string text = testing::read_file(svg);
  std::vector<Box> boxes;
  double dx = 0, dy = 0;  // the panel's offset
  std::string outer;      // the <text> around a <tspan>
  const std::regex translate("<g .*translate\\(([-0-9.]+) ([-0-9.]+)\\)");
  const std::regex label("<(text|tspan)([^>]*)>([^<]*)");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, translate))
      std::tie(dx, dy) = std::pair(std::stod(match[1]), std::stod(match[2]));
    if (line == "</g>") dx = dy = 0;
    for (std::sregex_iterator it(line.begin(), line.end(), label), end; it != end; ++it) {
      const std::string tags = (*it)[2].str() + ((*it)[1] == "tspan" ? outer : "");
      if ((*it)[1] == "text") outer = (*it)[2].str();
      const std::string content = (*it)[3].str();
      if (content.empty()) continue;
      const double size = std::stod(attribute(tags, "font-size", "16"));
      const double width = text_width(content, size, attribute(tags, "font-weight", "") == "bold");
      const std::string anchor = attribute(tags, "text-anchor", "start");
      const double x = dx + std::stod(attribute(tags, "x", "0"));
      const double y = dy + std::stod(attribute(tags, "y", "0"));
      const double left = anchor == "middle" ? x - width / 2 : anchor == "end" ? x - width : x;
      const bool turned = tags.find("rotate(-90") != std::string::npos;  // the axis unit
      boxes.push_back(
          turned ? Box{x - 0.8 * size, y - width / 2, x + 0.25 * size, y + width / 2, content}
                 : Box{left, y - 0.8 * size, left + width, y + 0.25 * size, content});
    }
  }
  std::string problems = boxes.empty() ? "no text labels found\n" : "";
  const double width = std::stod(attribute(text, "width", "0"));
  const double height = std::stod(attribute(text, "height", "0"));
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const Box& a = boxes[i];
    if (a.left < 0 || a.top < 0 || a.right > width || a.bottom > height) {
      problems += "'" + a.text + "' is outside the picture\n";
    }
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      const Box& b = boxes[j];
      if (a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom) {
        problems += "'" + a.text + "' and '" + b.text + "' overlap\n";
      }
    }
  }
  return problems;
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

}  // namespace quenda::results::samples
