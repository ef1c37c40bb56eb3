// Files for the tests of every suite: a temporary folder, whole-file reads
// and writes, and text split into lines. Portable: the Windows build's tests
// use it too.
#ifndef QUENDA_TEST_SUPPORT_FILES_H_
#define QUENDA_TEST_SUPPORT_FILES_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::testing {

using Lines = std::vector<std::string>;

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes, read-only entries included. Its path is
// canonical, as a program started in it sees its working directory. With
// kEnter it is the working directory for the life of the object.
class TemporaryFolder {
 public:
  enum Mode { kStayOutside, kEnter };
  explicit TemporaryFolder(Mode mode = kStayOutside);
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;  // the working directory to return to, with kEnter
  std::filesystem::path path_;
};

// A file's bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);
// Replaces the file's contents with `bytes`; throws when it cannot.
void write_file(const std::filesystem::path& path, const std::string& bytes);

// The names of the entries in `folder`, sorted.
std::vector<std::string> file_names(const std::filesystem::path& folder);

// Splits text into lines; a trailing newline does not make an empty last line.
Lines split_lines(const std::string& text);

// How many times `piece` occurs in `text`, overlapping occurrences included.
int count_occurrences(const std::string& text, const std::string& piece);

}  // namespace quenda::testing

#endif  // QUENDA_TEST_SUPPORT_FILES_H_
