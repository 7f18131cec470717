#pragma once

#include "store/FlashPort.h"

namespace orvana {

class PageAccess;

// The clip store's way to the real (or simulated) device: the page access of the main window,
// the sequencer's chip select, the register image's clip cue and the link's state.
class DeviceFlashPort : public FlashPort {
 public:
  explicit DeviceFlashPort(PageAccess& access) : access_(access) {}

  bool BeginFlashAccess() override;
  bool EndFlashAccess() override;
  bool EraseFlashBlock(std::uint32_t row) override;
  bool ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) override;
  bool WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) override;
  void SetChipSelect(int chip) override;
  bool SelectClip(int chip, int clipNumber) override;
  bool IsConnected() const override;

 private:
  PageAccess& access_;
};

}  // namespace orvana
