#pragma once

// Page access: the only way the clip store and the write process reach the flash. Adds the
// operator's side (messages, link counters in status panel 1, event pumping) to the sequencer.

#include <cstdint>
#include <string>

#include "common/Operator.h"

namespace orvana {

class ITF_ZT;
class ZT_FLASH;

class PageAccess {
 public:
  PageAccess(ITF_ZT& link, ZT_FLASH& flash, Operator& op);

  bool BeginFlashAccess();
  bool EndFlashAccess();
  bool EraseFlashBlock(std::uint32_t row);
  // page: 8192 bytes; ecc 1 moves the 7280-byte payload through the page ECC.
  bool ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc);
  bool WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc);
  void ShowLinkCounters();

  // The text of status panel 1, e.g. " C-0    S-2    R-0    B-17".
  static std::string counterText(std::int64_t confirms, std::int64_t writeFailures,
                                 std::int64_t readFailures, std::int64_t corrections);

  ITF_ZT& link() { return link_; }
  ZT_FLASH& flash() { return flash_; }
  Operator& op() { return op_; }

 private:
  void pageDone();
  void pageFailed(const char* text);

  ITF_ZT& link_;
  ZT_FLASH& flash_;
  Operator& op_;
  std::int32_t shownConfirms_ = -1;
  std::int32_t shownWriteFailures_ = -1;
  std::int32_t shownReadFailures_ = -1;
  std::int64_t shownCorrections_ = -1;
};

}  // namespace orvana
