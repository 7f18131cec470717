#pragma once

// A RIFF WAVE writer for the export's sound track. The stream (the RIFF, format and data
// headers) is written with the first block of samples; the sizes are filled in on close.
// Results are 32-bit codes: 0 for success, else one of the failure codes below.

#include <cstdint>
#include <filesystem>

namespace orvana {

// The format record as a WAV file stores it (18 bytes with the extra size).
struct WaveFormat {
  std::uint16_t FormatTag = 0;  // 1: PCM
  std::uint16_t Channels = 0;
  std::uint32_t SamplesPerSec = 0;
  std::uint32_t AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
  std::uint16_t ExtraSize = 0;
};

// 48 kHz stereo 16-bit PCM: the export's sound.
WaveFormat PcmStereo48k();

inline constexpr std::uint32_t kWavOk = 0;
inline constexpr std::uint32_t kWavBadFormat = 0x80044066;   // no channels, or no sample size
inline constexpr std::uint32_t kWavBadData = 0x8004406A;     // no data, or not whole samples
inline constexpr std::uint32_t kWavNoTarget = 0x8004406C;    // no file to write to
inline constexpr std::uint32_t kWavWriteFault = 0x80044074;  // the file could not be written
inline constexpr std::uint32_t kWavSticky = 0x800440C7;      // an earlier write failed

struct WavTarget {
  int File = -1;
  WaveFormat Format;         // copied from WavOpen, zero when none was given
  std::uint32_t Period = 0;  // as given to WavOpen; a WAV file has no use for it
  bool AudioStream = false;  // a format was given
  bool StreamCreated = false;
  std::uint32_t SamplesWritten = 0;  // single samples (all channels counted)
  std::uint64_t DataBytes = 0;
  bool StickyError = false;
};

// Creates (or empties) the file; nullptr when it cannot be created.
WavTarget* WavOpen(const std::filesystem::path& path, std::uint32_t period,
                   const WaveFormat* format);
// Appends whole samples; the first append also writes the headers.
std::uint32_t WavAppend(WavTarget* target, const void* data, std::uint32_t bytes);
// Fills in the sizes, closes the file and frees the target. kWavNoTarget for null, else 0.
std::uint32_t WavClose(WavTarget* target);

}  // namespace orvana
