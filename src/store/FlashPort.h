#pragma once

#include <cstdint>

namespace orvana {

// What the clip store needs from the device: the page access operations (with their operator
// messages), selecting the chip the rows refer to, the clip cue, and whether the link answers.
// DeviceFlashPort is the real one; the window and the command line hand it to the ClipStore.
class FlashPort {
 public:
  virtual ~FlashPort() = default;

  virtual bool BeginFlashAccess() = 0;
  virtual bool EndFlashAccess() = 0;
  virtual bool EraseFlashBlock(std::uint32_t row) = 0;
  // page: 8192 bytes; ecc 1 moves the 7280-byte payload through the page ECC (and leaves the
  // buffer encoded after a write), ecc 0 moves all 8192 bytes as they are.
  virtual bool ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) = 0;
  virtual bool WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) = 0;
  virtual void SetChipSelect(int chip) = 0;
  virtual bool SelectClip(int chip, int clipNumber) = 0;
  virtual bool IsConnected() const = 0;
};

}  // namespace orvana
