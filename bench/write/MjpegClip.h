#pragma once

#include <filesystem>

namespace orvana::bench {

// Writes an AVI of `frames` pictures of width x height as Motion JPEG (quality of a camera or
// editing export, every frame a key frame) with 48 kHz 16-bit stereo PCM sound, 25 frames/s,
// through the FFmpeg libraries. The pictures move, so no two frames code the same.
bool WriteMjpegClip(const std::filesystem::path& file, int width, int height, int frames);

}  // namespace orvana::bench
