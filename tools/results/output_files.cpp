#include "output_files.h"

#include <cerrno>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// A conversion works in a folder of its own beside its outputs:
//   <work>/lock             locked while the conversion runs
//   <work>/<output>         a new output being written
//   <work>/earlier/<output> the earlier output of that name, kept
//   <work>/absent/<output>  empty: there was no earlier output of that name
//   <work>/done             every new output is in place
// Every file in it has an output's own name, so no name the conversion makes
// is longer than an output's, and a later run can tell from the folder alone
// how to finish what an interrupted one left.
constexpr std::string_view kWorkPrefix = ".quenda-results-";
constexpr const char kLockName[] = "lock";
constexpr const char kEarlierName[] = "earlier";
constexpr const char kAbsentName[] = "absent";
constexpr const char kDoneName[] = "done";

// ".quenda-results-" and the digits a conversion gives its work folder.
bool is_work_folder_name(std::string_view name) {
  if (!name.starts_with(kWorkPrefix) || name.size() == kWorkPrefix.size()) return false;
  name.remove_prefix(kWorkPrefix.size());
  return name.find_first_not_of("0123456789") == std::string_view::npos;
}

// The system's reason for the last failed call, or `fallback` where the
// library left none.
std::string system_reason(int error_number, std::string_view fallback) {
  if (error_number == 0) return std::string(fallback);
  return std::generic_category().message(error_number);
}

std::string shown(const fs::path& path) { return printable(path.string()); }

// Writes `content` to a new file; returns the system's reason it cannot, or
// an empty string.
std::string write_file(const fs::path& path, const std::string& content) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return "cannot write " + shown(path) + ": " + system_reason(errno, "cannot create");
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (out.fail())
    return "cannot write " + shown(path) + ": " + system_reason(errno, "write failed");
  return {};
}

void remove_quietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// An output's place holds something that an earlier conversion wrote (or a
// user put there), not a folder, which is never touched.
bool holds_file(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  return !error && fs::exists(status) && !fs::is_directory(status);
}

// The lock that tells a running conversion's work folder from one that an
// interrupted conversion left. The system releases it when the process
// ends, however it ends.
class WorkLock {
 public:
  WorkLock() = default;
  WorkLock(const WorkLock&) = delete;
  WorkLock& operator=(const WorkLock&) = delete;
  ~WorkLock() { release(); }

  // Takes the lock file, creating it for a new work folder; false where it
  // is held elsewhere, or cannot be made or found.
  bool take(const fs::path& path, bool create) {
#ifdef _WIN32
    // A file held open cannot be removed on Windows; that is the lock.
    std::error_code error;
    if (!fs::remove(path, error) && !create) return false;
    if (error) return false;
    file_ = _wfopen(path.c_str(), L"wb");
    return file_ != nullptr;
#else
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (descriptor_ < 0) return false;
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
      release();
      return false;
    }
    return true;
#endif
  }

  void release() {
#ifdef _WIN32
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
#else
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
#endif
  }

 private:
#ifdef _WIN32
  std::FILE* file_ = nullptr;
#else
  int descriptor_ = -1;
#endif
};

// The longest name, in bytes, that the file system of `folder` takes.
std::size_t name_limit(const fs::path& folder) {
#ifdef _WIN32
  (void)folder;
  return 255;
#else
  const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : 255;
#endif
}

// The entries of a folder; none where it cannot be listed.
std::vector<fs::path> entries_of(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  return entries;
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
    if (!files.empty()) folder_ = files.front().path.parent_path();
    for (const OutputFile& file : files)
      slots_.push_back(Slot{&file, {}, {}, Kept::kNothing, false});
  }

  std::string write() {
    const std::size_t limit = name_limit(folder_);
    for (const Slot& slot : slots_) {
      const std::size_t length = slot.file->path.filename().string().size();
      if (length > limit) {
        return "the output name " + shown(slot.file->path.filename()) + " would be " +
               std::to_string(length) + " bytes long, more than the " + std::to_string(limit) +
               " the file system allows";
      }
    }
    std::string error = make_work_folder();
    if (!error.empty()) return error;
    for (Slot& slot : slots_) {
      slot.temporary = work_ / slot.file->path.filename();
      error = write_file(slot.temporary, slot.file->content);
      if (!error.empty()) return error + undo();
    }
    for (Slot& slot : slots_) {
      error = keep_earlier(slot);
      if (!error.empty()) return error + undo();
    }
    for (Slot& slot : slots_) {
      std::error_code failure;
      steps_.rename(slot.temporary, slot.file->path, failure);
      if (failure) {
        return "cannot rename a finished output to " + shown(slot.file->path) + ": " +
               failure.message() + undo();
      }
      slot.renamed = true;
    }
    // From here on an interrupted run is complete: a later one only removes
    // the work folder. If even the mark cannot be made, the new outputs are
    // in place all the same.
    std::error_code ignored;
    std::ofstream(work_ / kDoneName).close();
    fs::remove_all(work_, ignored);
    return {};
  }

 private:
  // A work folder of this conversion's own beside the outputs.
  std::string make_work_folder() {
    static std::mt19937_64 generator{std::random_device{}()};
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path work =
          folder_ / (std::string(kWorkPrefix) + std::to_string(generator() % 1000000000u));
      if (!fs::create_directory(work, error)) {
        if (!error) continue;  // another conversion's
        return "cannot make a work folder in " + shown(folder_.empty() ? "." : folder_) + ": " +
               error.message();
      }
      work_ = work;
      if (!lock_.take(work_ / kLockName, true) ||
          !fs::create_directory(work_ / kEarlierName, error) ||
          !fs::create_directory(work_ / kAbsentName, error)) {
        const std::string reason = system_reason(error ? error.value() : errno, "no lock");
        fs::remove_all(work_, error);
        return "cannot make a work folder in " + shown(folder_.empty() ? "." : folder_) + ": " +
               reason;
      }
      return {};
    }
    return "cannot make a work folder in " + shown(folder_) + ": every name tried is taken";
  }

  // Gives the file in `slot`'s place a second name, or records that there
  // is none; returns the reason it cannot, or an empty string. A folder
  // there is not an earlier output: it stays, and the rename onto it fails.
  std::string keep_earlier(Slot& slot) {
    const fs::path& path = slot.file->path;
    std::error_code error;
    if (!holds_file(path)) {
      const fs::file_status status = fs::symlink_status(path, error);
      if (fs::is_directory(status)) return {};
      return write_file(work_ / kAbsentName / path.filename(), "");
    }
    slot.earlier = work_ / kEarlierName / path.filename();
    steps_.create_hard_link(path, slot.earlier, error);
    if (!error) {
      slot.kept = Kept::kLinked;
      return {};
    }
    steps_.rename(path, slot.earlier, error);
    if (error) return "cannot set the earlier " + shown(path) + " aside: " + error.message();
    slot.kept = Kept::kMoved;
    return {};
  }

  // Removes what this conversion wrote and puts the earlier files back;
  // returns what could not be put back, to go after the reason.
  std::string undo() {
    std::string unrestored;
    for (const Slot& slot : slots_) {
      const fs::path& path = slot.file->path;
      if (slot.kept == Kept::kNothing) {
        if (slot.renamed) remove_quietly(path);
        continue;
      }
      // A link whose file was never replaced: the earlier file is still in
      // place under its own name.
      if (slot.kept == Kept::kLinked && !slot.renamed) continue;
      std::error_code error;
      steps_.rename(slot.earlier, path, error);
      if (error) {
        unrestored += "; the earlier " + shown(path) + " is left as " + shown(slot.earlier);
      }
    }
    // What could not be put back stays in the work folder for a later run.
    std::error_code ignored;
    if (unrestored.empty()) fs::remove_all(work_, ignored);
    return unrestored;
  }

  const FileSteps& steps_;
  fs::path folder_;
  fs::path work_;
  WorkLock lock_;
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

std::string recover_interrupted(const fs::path& folder, const FileSteps& steps) {
  const fs::path where = folder.empty() ? fs::path(".") : folder;
  std::string unrestored;
  for (const fs::path& work : entries_of(where)) {
    std::error_code ignored;
    if (!is_work_folder_name(work.filename().string()) || !fs::is_directory(work, ignored)) {
      continue;
    }
    // Held: a conversion still running. Missing: not a work folder of ours.
    WorkLock lock;
    if (!lock.take(work / kLockName, false)) continue;
    bool restored = true;
    if (!fs::exists(work / kDoneName, ignored)) {
      // Interrupted before every new output was in place: the earlier
      // outputs go back, and new ones of names that had none go.
      for (const fs::path& marker : entries_of(work / kAbsentName)) {
        const fs::path output = where / marker.filename();
        if (holds_file(output)) remove_quietly(output);
      }
      for (const fs::path& earlier : entries_of(work / kEarlierName)) {
        const fs::path output = where / earlier.filename();
        std::error_code error;
        steps.rename(earlier, output, error);
        if (error) {
          restored = false;
          unrestored += (unrestored.empty() ? "cannot put back " : "; cannot put back ") +
                        shown(output) + " from " + shown(earlier) + ": " + error.message();
        }
      }
    }
    lock.release();
    if (restored) fs::remove_all(work, ignored);
  }
  return unrestored;
}

}  // namespace quenda::results
