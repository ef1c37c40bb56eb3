#include "output_files.h"

#include <fstream>
#include <random>

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// A name beside `path` that no other conversion uses at the same time.
fs::path unused_name(const fs::path& path, std::string_view infix) {
  static std::mt19937_64 generator{std::random_device{}()};
  fs::path name = path;
  name += std::string(infix) + std::to_string(generator() % 1000000000u);
  return name;
}

bool write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

void remove_quietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// How the file already in an output's place is kept while the new one
// takes it: a hard link leaves it where readers look for it until the
// rename replaces it; where the file system has no hard links it is moved
// aside.
enum class Kept { kNothing, kLinked, kMoved };

struct Slot {
  const OutputFile* file = nullptr;
  fs::path temporary;
  fs::path earlier;  // the earlier file's second name, when kept
  Kept kept = Kept::kNothing;
  bool renamed = false;  // the new output is in place
};

class Writer {
 public:
  Writer(const std::vector<OutputFile>& files, const FileSteps& steps) : steps_(steps) {
    for (const OutputFile& file : files) {
      slots_.push_back(Slot{&file, unused_name(file.path, ".tmp-"), {}, Kept::kNothing, false});
    }
  }

  std::string write() {
    for (const Slot& slot : slots_) {
      if (!write_file(slot.temporary, slot.file->content)) {
        return "cannot write " + slot.file->path.string() + undo();
      }
    }
    for (Slot& slot : slots_) {
      const std::string error = keep_earlier(slot);
      if (!error.empty()) return error + undo();
    }
    for (Slot& slot : slots_) {
      std::error_code error;
      steps_.rename(slot.temporary, slot.file->path, error);
      if (error) {
        return "cannot rename a finished output to " + slot.file->path.string() + ": " +
               error.message() + undo();
      }
      slot.renamed = true;
    }
    // Only a stray second name is left if this fails; the conversion is
    // complete either way.
    for (const Slot& slot : slots_) {
      if (slot.kept != Kept::kNothing) remove_quietly(slot.earlier);
    }
    return {};
  }

 private:
  // Gives the file in `slot`'s place a second name; returns the reason it
  // cannot, or an empty string. A folder there is not an earlier output: it
  // stays, and the rename onto it fails.
  std::string keep_earlier(Slot& slot) {
    const fs::path& path = slot.file->path;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || !fs::exists(status) || fs::is_directory(status)) return {};
    slot.earlier = unused_name(path, ".earlier-");
    steps_.create_hard_link(path, slot.earlier, error);
    if (!error) {
      slot.kept = Kept::kLinked;
      return {};
    }
    steps_.rename(path, slot.earlier, error);
    if (error) return "cannot set the earlier " + path.string() + " aside: " + error.message();
    slot.kept = Kept::kMoved;
    return {};
  }

  // Removes what this conversion wrote and puts the earlier files back;
  // returns what could not be put back, to go after the reason.
  std::string undo() {
    std::string unrestored;
    for (const Slot& slot : slots_) {
      remove_quietly(slot.temporary);
      const fs::path& path = slot.file->path;
      if (slot.kept == Kept::kNothing) {
        if (slot.renamed) remove_quietly(path);
        continue;
      }
      // A link whose file was never replaced: the earlier file is still in
      // place under its own name.
      if (slot.kept == Kept::kLinked && !slot.renamed) {
        remove_quietly(slot.earlier);
        continue;
      }
      std::error_code error;
      steps_.rename(slot.earlier, path, error);
      if (error)
        unrestored += "; the earlier " + path.string() + " is left as " + slot.earlier.string();
    }
    return unrestored;
  }

  const FileSteps& steps_;
  std::vector<Slot> slots_;
};

}  // namespace

FileSteps system_file_steps() {
  return FileSteps{
      [](const fs::path& from, const fs::path& to, std::error_code& error) {
        fs::rename(from, to, error);
      },
      [](const fs::path& from, const fs::path& to, std::error_code& error) {
        fs::create_hard_link(from, to, error);
      },
  };
}

std::string write_all_or_nothing(const std::vector<OutputFile>& files, const FileSteps& steps) {
  return Writer(files, steps).write();
}

}  // namespace quenda::results
