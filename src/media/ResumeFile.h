#pragma once

// The resume file of an interrupted write: one line "channel chip frame\n" naming the last odd
// frame whose pages were all programmed. Every note replaces the file through a temporary file
// and a rename, so a write cut off at any moment leaves either the old line or the new one.

#include <filesystem>

namespace orvana {

class ResumeFile {
 public:
  // The default is the resume file of the settings folders (ORVANA_HOME or XDG).
  ResumeFile();
  explicit ResumeFile(std::filesystem::path path) : path_(std::move(path)) {}

  // True when the file names this channel and chip and a frame at or beyond i.
  bool IsFrameOnFlash(int channel, int chip, int i) const;
  // Records frame i when it is odd; even frames leave the file as it is.
  void NoteFrameOnFlash(int channel, int chip, int i) const;
  void DeleteResumeFile() const;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace orvana
