#pragma once

// The view window's "Save video...": every frame of an open clip file as the window shows it,
// with its sound, into an AVI file. Headless: the window, the command line and the tests all run
// this one operation and only differ in the Operator and the observers they give it.
//
// The work goes through the work folder, as the window's export always has: one 24-bit bitmap
// per frame (file<i>.bmp) and the sound track as <n>.wav, muxed into the AVI at the end and then
// removed. The AVI appears only when complete; an existing file of that name is kept on failure.

#include <QImage>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "media/AviWriter.h"
#include "media/ClipPictures.h"

namespace orvana {

struct ClipExportOptions {
  QSize Shown{960, 540};  // the window's picture: 960 x 540, or 240 x 240 on the logo channel
  std::filesystem::path WorkFolder;  // paths::workFolder()
  std::filesystem::path Target;      // the AVI file
  AviCodec Codec = AviCodec::Mjpeg;
  std::filesystem::path KeepWav;  // when set, the sound track is also kept here
  // Each frame once it is shown and saved: the window moves its track bar, label and picture.
  std::function<void(int frame, const QImage& shown)> OnFrame;
  // The bitmaps and the WAV (its path given) are complete and the mux is about to start.
  std::function<void(const std::filesystem::path& wav)> BeforeMux;
  // Asked after every frame; true stops the export there (no message, working files removed).
  std::function<bool()> Cancelled;
};

// Runs the export; true only when the AVI is in place. Every failure has been told to `op`.
bool ExportClip(ClipPictures& clip, const ClipExportOptions& options, Operator& op);

// The steps, for the window and the tests.

// Whether a name is one of the export's working files: file<digits>.bmp or <digits>.wav.
bool IsExportWorkFile(const std::string& name);
// Removes the export's working files from the folder and nothing else; a file that cannot be
// removed stays.
void ClearWorkFolder(const std::filesystem::path& folder);
// The number the next WriteWav names its file with; it advances on every WriteWav.
int NextWavNumber();
// Writes the sound track (whole frames of 7680 bytes) as <n>.wav in the folder, telling the
// operator when it cannot. Returns the file written, or an empty path.
std::filesystem::path WriteWav(const std::filesystem::path& folder,
                               const std::vector<std::uint8_t>& audio, Operator& op);

}  // namespace orvana
