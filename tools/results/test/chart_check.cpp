#include "chart_check.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

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

// Glyph widths in ems, each rounded up from DejaVu Sans (the chart's first
// font; Arial is narrower).
double text_width(const std::string& text, double size, bool bold) {
  double ems = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c & 0xC0) == 0x80) continue;     // inside a UTF-8 sequence
    if (c == '&') i = text.find(';', i);  // an entity is one character
    if (std::string_view(" .,:;'!|il").find(c) != std::string_view::npos) {
      ems += 0.34;
    } else if (std::string_view("ftrj()[]-").find(c) != std::string_view::npos) {
      ems += 0.44;
    } else if (std::string_view("mwMW%").find(c) != std::string_view::npos) {
      ems += 1.0;
    } else if (c >= 'A' && c <= 'Z') {
      ems += 0.78;
    } else {
      ems += 0.64;
    }
  }
  return ems * size * (bold ? 1.1 : 1.0);
}

std::string attribute(const std::string& tag, const std::string& name, const std::string& absent) {
  const std::regex pattern("\\s" + name + "=\"([^\"]*)\"");
  std::smatch match;
  return std::regex_search(tag, match, pattern) ? match[1].str() : absent;
}

Box box_of(const std::string& tag, const std::string& content, double dx, double dy,
           const std::string& inherited) {
  const double size =
      std::stod(attribute(tag, "font-size", attribute(inherited, "font-size", "16")));
  const bool bold = attribute(tag + inherited, "font-weight", "") == "bold";
  const std::string anchor = attribute(inherited + tag, "text-anchor", "start");
  const double x = dx + std::stod(attribute(tag, "x", "0"));
  const double y = dy + std::stod(attribute(tag, "y", "0"));
  const double width = text_width(content, size, bold);
  const double left = anchor == "middle" ? x - width / 2 : anchor == "end" ? x - width : x;
  Box box{left, y - 0.8 * size, left + width, y + 0.25 * size, content};
  if (tag.find("rotate(-90") != std::string::npos) {  // turned about its own point
    box = Box{x - (y - box.top), y - (box.right - x), x + (box.bottom - y), y + (x - box.left),
              content};
  }
  return box;
}

}  // namespace

std::string label_problems(const std::filesystem::path& svg) {
  const std::string text = testing::read_file(svg);
  const double width = std::stod(attribute(text, "width", "0"));
  const double height = std::stod(attribute(text, "height", "0"));
  std::vector<Box> boxes;
  double dx = 0;
  double dy = 0;
  const std::regex translate("translate\\(([-0-9.]+) ([-0-9.]+)\\)");
  const std::regex tspan("(<tspan[^>]*>)([^<]*)</tspan>");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (line.starts_with("<g ") && std::regex_search(line, match, translate)) {
      dx = std::stod(match[1].str());
      dy = std::stod(match[2].str());
    } else if (line == "</g>") {
      dx = dy = 0;
    } else if (line.starts_with("<text ")) {
      const std::size_t open_end = line.find('>');
      const std::string tag = line.substr(0, open_end + 1);
      const std::string content = line.substr(open_end + 1, line.rfind("</text>") - open_end - 1);
      if (content.find("<tspan") == std::string::npos) {
        boxes.push_back(box_of(tag, content, dx, dy, ""));
        continue;
      }
      for (std::sregex_iterator it(content.begin(), content.end(), tspan), end; it != end; ++it) {
        boxes.push_back(box_of((*it)[1].str(), (*it)[2].str(), dx, dy, tag));
      }
    }
  }
  std::string problems;
  const auto where = [](const Box& box) {
    std::ostringstream text;
    text << "'" << box.text << "' [" << box.left << ", " << box.top << ", " << box.right << ", "
         << box.bottom << "]";
    return text.str();
  };
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const Box& a = boxes[i];
    if (a.left < 0 || a.top < 0 || a.right > width || a.bottom > height) {
      problems += "outside the picture: " + where(a) + "\n";
    }
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      const Box& b = boxes[j];
      if (a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom) {
        problems += "overlap: " + where(a) + " and " + where(b) + "\n";
      }
    }
  }
  if (boxes.empty()) problems += "no text labels found\n";
  return problems;
}

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
