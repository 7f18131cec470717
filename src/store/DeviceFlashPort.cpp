#include "store/DeviceFlashPort.h"

#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "link/ZT_MEM.h"

namespace orvana {

bool DeviceFlashPort::BeginFlashAccess() {
  return access_.BeginFlashAccess();
}
bool DeviceFlashPort::EndFlashAccess() {
  return access_.EndFlashAccess();
}
bool DeviceFlashPort::EraseFlashBlock(std::uint32_t row) {
  return access_.EraseFlashBlock(row);
}
bool DeviceFlashPort::ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  return access_.ReadFlashPage(page, row, ecc);
}
bool DeviceFlashPort::WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  return access_.WriteFlashPage(page, row, ecc);
}
void DeviceFlashPort::SetChipSelect(int chip) {
  access_.flash().SetChipSelect(chip);
}
bool DeviceFlashPort::SelectClip(int chip, int clipNumber) {
  return orvana::SelectClip(access_.link(), chip, clipNumber);
}
bool DeviceFlashPort::IsConnected() const {
  return access_.link().IsConnected();
}

}  // namespace orvana
