// Temporary names are hidden ("." first) and carry the process id and a count,
// made with an exclusive create so that two captures never share one.
#include "capture/staged_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace capture {
namespace {

namespace fs = std::filesystem;

std::string temporaryName(const fs::path& folder, const std::string& base, int attempt) {
  return (folder /
          ("." + base + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(attempt)))
      .string();
}

std::string cannot(const std::string& what, const std::string& path, const std::error_code& error) {
  return "cannot " + what + " " + path + ": " + error.message();
}

bool holdsFrames(const fs::path& folder) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (isFrameFile(it->path().filename().string())) return true;
  }
  return false;
}

}  // namespace

bool isFrameFile(const std::string& name) {
  return name.size() > 10 && name.rfind("frame_", 0) == 0 &&
         name.compare(name.size() - 4, 4, ".png") == 0 &&
         name.find_first_not_of("0123456789", 6) == name.size() - 4;
}

std::string StagedOutput::prepare(Kind kind, const std::string& finalPath, Existing existing) {
  kind_ = kind;
  // "frames/" names the folder "frames".
  final_ = finalPath;
  while (final_.size() > 1 && final_.back() == '/')
    final_.pop_back();
  existing_ = existing;
  std::error_code error;
  const fs::path path(final_);
  const fs::file_status status = fs::status(path, error);
  const bool overwrite = existing == Existing::Overwrite;

  if (kind == Kind::Video) {
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    if (!fs::is_directory(folder, error)) {
      return "cannot write " + finalPath + ": no folder " + folder.string();
    }
    if (fs::is_directory(status)) return "cannot write " + finalPath + ": it is a folder";
    if (fs::exists(status) && !overwrite) {
      return finalPath + " exists (--overwrite replaces it)";
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = temporaryName(folder, path.filename().string(), attempt);
      std::FILE* file = std::fopen(name.c_str(), "wbx");
      const int openErrno = errno;
      if (file != nullptr) {
        std::fclose(file);
        temporary_ = name;
        return {};
      }
      if (openErrno != EEXIST) return "cannot write " + finalPath + ": " + std::strerror(openErrno);
    }
    return "cannot write " + finalPath + ": no free temporary name";
  }

  // Frames: inside the folder when it exists, else beside it (then renamed to it).
  finalFolderExisted_ = fs::exists(status);
  fs::path stagingParent = path;
  std::string base = "vornisk-capture";
  if (finalFolderExisted_) {
    if (!fs::is_directory(status)) return "cannot make folder " + finalPath + ": not a folder";
    if (!overwrite && holdsFrames(path)) {
      return finalPath + " holds frames of an earlier capture (--overwrite replaces them)";
    }
  } else {
    stagingParent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    base = path.filename().string();
    // The folders above it that have to be made, outermost first.
    for (fs::path above = stagingParent; !above.empty() && !fs::exists(above, error);
         above = above.parent_path()) {
      madeFolders_.insert(madeFolders_.begin(), above.string());
      if (above == above.parent_path()) break;
    }
    fs::create_directories(stagingParent, error);
    if (error) {
      madeFolders_.clear();
      return cannot("make folder", finalPath, error);
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporaryName(stagingParent, base, attempt);
    if (fs::create_directory(name, error)) {
      temporary_ = name;
      return {};
    }
    if (error) {
      discard();
      return cannot("make folder", finalPath, error);
    }
  }
  discard();
  return "cannot make folder " + finalPath + ": no free temporary name";
}

std::string StagedOutput::commit() {
  if (temporary_.empty()) return {};
  std::error_code error;
  const bool overwrite = existing_ == Existing::Overwrite;
  if (kind_ == Kind::Video) {
    if (!overwrite && fs::exists(final_, error)) {
      return final_ + " appeared during the capture; the video was not kept";
    }
    fs::rename(temporary_, final_, error);
    if (error) return cannot("rename the video to", final_, error);
    temporary_.clear();
    return {};
  }
  if (!finalFolderExisted_) {
    fs::rename(temporary_, final_, error);
    if (!error) {
      temporary_.clear();
      madeFolders_.clear();
      return {};
    }
    // Made meanwhile by someone else: the frames move in one by one, as below.
    fs::create_directories(final_, error);
  }
  if (overwrite) {
    for (fs::directory_iterator it(final_, error), end; !error && it != end; it.increment(error)) {
      if (isFrameFile(it->path().filename().string())) fs::remove(it->path(), error);
    }
  } else if (holdsFrames(final_)) {
    return final_ + " received frames during the capture; the new frames were not kept";
  }
  if (error) return cannot("replace the frames in", final_, error);
  for (fs::directory_iterator it(temporary_, error), end; !error && it != end;
       it.increment(error)) {
    fs::rename(it->path(), fs::path(final_) / it->path().filename(), error);
  }
  if (error) return cannot("move the frames into", final_, error);
  fs::remove(temporary_, error);
  temporary_.clear();
  madeFolders_.clear();
  return {};
}

void StagedOutput::discard() {
  std::error_code error;
  if (!temporary_.empty()) fs::remove_all(temporary_, error);
  temporary_.clear();
  // Innermost first; a folder someone else filled meanwhile stays.
  for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it)
    fs::remove(*it, error);
  madeFolders_.clear();
}

}  // namespace capture
