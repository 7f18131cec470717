#pragma once

// Host copy of the device's 1440-byte register image and register access with command 130.

#include <array>
#include <cstdint>
#include <memory>

namespace orvana {

class ITF_ZT;

inline constexpr int kRegisterImageSize = 1440;
using RegisterImage = std::array<std::uint8_t, kRegisterImageSize>;

class ZT_MEM {
 public:
  explicit ZT_MEM(ITF_ZT& link);

  // Writes n bytes at a register offset; a register write (130) is followed by 4 ms, whatever
  // its result.
  bool WriteRegisters(std::uint8_t code, std::uint16_t offset, const std::uint8_t* data, int n);
  // Stores the value in the image first, then writes it.
  bool WriteRegister(int slot, int byte, std::uint8_t value);
  bool ReadRegister(int slot, int byte, std::uint8_t& destination);
  // Refreshes the whole image from the device.
  bool ReadImage();

  RegisterImage& image() { return *image_; }
  const RegisterImage& image() const { return *image_; }

 private:
  bool readRegisters(std::uint16_t offset, std::uint8_t* destination, int n);

  ITF_ZT& link_;
  std::unique_ptr<RegisterImage> image_;
};

// Register offset of the clip select of a chip, or -1 for chips that have none.
int ClipSelectOffset(int chip);

// Cues clip `clipNumber` (directory slot 0..99) on `chip` through the run's link: the number with
// the strobe set, then with it cleared. Chips without a clip-select register take no traffic.
bool SelectClip(int chip, int clipNumber);
bool SelectClip(ITF_ZT& link, int chip, int clipNumber);

}  // namespace orvana
