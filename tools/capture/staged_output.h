// Capture outputs that appear whole or not at all. A video is written under a
// temporary name beside its final one, PNG frames into a temporary folder; both
// move into place only once the run has ended well, and are removed otherwise.
// An existing video, or a folder that already holds frames, is left alone
// unless the run may overwrite it.
#pragma once

#include <string>
#include <vector>

namespace capture {

class StagedOutput {
 public:
  enum class Kind { Video, Frames };
  enum class Existing { Keep, Overwrite };

  StagedOutput() = default;
  ~StagedOutput() { discard(); }
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Checks where the output goes and makes its temporary place. Returns an
  // empty string or a one-line error.
  std::string prepare(Kind kind, const std::string& finalPath, Existing existing);
  bool prepared() const { return !temporary_.empty(); }
  // Where to write: the temporary file, or the folder for the frames.
  const std::string& writePath() const { return temporary_; }
  // Moves the output into place; for frames, the folder's frames of an earlier
  // run go first. Returns an empty string or a one-line error.
  std::string commit();
  // Removes the temporary output and the folders made for it.
  void discard();

 private:
  Kind kind_ = Kind::Video;
  std::string final_;
  std::string temporary_;
  Existing existing_ = Existing::Keep;
  bool finalFolderExisted_ = false;
  std::vector<std::string> madeFolders_;  // outermost first
};

// Whether a file name is one of the frames a capture writes (frame_N.png).
bool isFrameFile(const std::string& name);

}  // namespace capture
