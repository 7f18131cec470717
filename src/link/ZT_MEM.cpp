#include "link/ZT_MEM.h"

#include "link/ITF_ZT.h"
#include "link/TimingTable.h"

namespace orvana {

ZT_MEM::ZT_MEM(ITF_ZT& link) : link_(link), image_(std::make_unique<RegisterImage>()) {
  image_->fill(0);
}

bool ZT_MEM::WriteRegisters(std::uint8_t code, std::uint16_t offset, const std::uint8_t* data,
                            int n) {
  const ParameterBlock block = RegisterBlock(offset);
  const bool ok = link_.WriteCommand(code, &block, data, n);
  // The device needs the pause to apply a register write, failed or not.
  if (code == kCmdRegister) DelayMs(4);
  return ok;
}

bool ZT_MEM::WriteRegister(int slot, int byte, std::uint8_t value) {
  const int offset = slot * 32 + byte;
  if (offset < 0 || offset >= kRegisterImageSize) return false;
  auto& cell = (*image_)[static_cast<std::size_t>(offset)];
  cell = value;
  return WriteRegisters(kCmdRegister, static_cast<std::uint16_t>(offset), &cell, 1);
}

bool ZT_MEM::readRegisters(std::uint16_t offset, std::uint8_t* destination, int n) {
  const ParameterBlock block = RegisterBlock(offset);
  if (!link_.WriteCommand(kCmdRegister, &block, nullptr, 0)) return false;
  return link_.ReadCommand(kCmdRegister, destination, n);
}

bool ZT_MEM::ReadRegister(int slot, int byte, std::uint8_t& destination) {
  const int offset = slot * 32 + byte;
  if (offset < 0 || offset >= kRegisterImageSize) return false;
  return readRegisters(static_cast<std::uint16_t>(offset), &destination, 1);
}

bool ZT_MEM::ReadImage() {
  return readRegisters(0, image_->data(), kRegisterImageSize);
}

int ClipSelectOffset(int chip) {
  switch (chip) {
    case 0:
      return 800;
    case 2:
      return 804;
    case 4:
      return 808;
    case 8:
      return 816;
    case 10:
      return 824;
    default:
      return -1;
  }
}

bool SelectClip(ITF_ZT& link, int chip, int clipNumber) {
  const int offset = ClipSelectOffset(chip);
  if (offset < 0) return true;
  auto& image = link.mem().image();
  const auto at = static_cast<std::size_t>(offset);
  const auto reg = static_cast<std::uint16_t>(offset);
  image[at] = static_cast<std::uint8_t>(clipNumber);
  image[at + 1] = 1;  // strobe
  if (!link.mem().WriteRegisters(kCmdRegister, reg, &image[at], 2)) return false;
  image[at + 1] = 0;
  return link.mem().WriteRegisters(kCmdRegister, reg, &image[at], 2);
}

bool SelectClip(int chip, int clipNumber) {
  ITF_ZT* link = TimingTable().link;
  if (link == nullptr) return false;
  return SelectClip(*link, chip, clipNumber);
}

}  // namespace orvana
