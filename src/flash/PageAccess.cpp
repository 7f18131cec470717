#include "flash/PageAccess.h"

#include <string>

#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"

namespace orvana {

PageAccess::PageAccess(ITF_ZT& link, ZT_FLASH& flash, Operator& op)
    : link_(link), flash_(flash), op_(op) {}

bool PageAccess::BeginFlashAccess() {
  return flash_.SetHostAccess(true);
}

bool PageAccess::EndFlashAccess() {
  return flash_.SetHostAccess(false);
}

bool PageAccess::EraseFlashBlock(std::uint32_t row) {
  // The callers decide what a failed erase means; nothing is shown here.
  if (!flash_.EraseBlock(row)) return false;
  pageDone();
  return true;
}

bool PageAccess::ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  if (!flash_.ReadPage(page, row, ecc)) {
    pageFailed("Read error. Try again.");
    return false;
  }
  pageDone();
  return true;
}

bool PageAccess::WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  if (!flash_.ProgramPage(page, row, ecc)) {
    pageFailed("Write error. Try again.");
    return false;
  }
  pageDone();
  return true;
}

void PageAccess::ShowLinkCounters() {
  const std::int32_t confirms = link_.PollConfirms;
  const std::int32_t writeFailures = link_.WriteFailures;
  const std::int32_t readFailures = link_.ReadFailures;
  const std::int64_t corrections = flash_.Corrections;
  if (confirms != shownConfirms_ || writeFailures != shownWriteFailures_ ||
      readFailures != shownReadFailures_ || corrections != shownCorrections_) {
    op_.setStatus(1, counterText(confirms, writeFailures, readFailures, corrections));
  }
  shownConfirms_ = confirms;
  shownWriteFailures_ = writeFailures;
  shownReadFailures_ = readFailures;
  shownCorrections_ = corrections;
}

std::string PageAccess::counterText(std::int64_t confirms, std::int64_t writeFailures,
                                    std::int64_t readFailures, std::int64_t corrections) {
  return " C-" + std::to_string(confirms) + "    S-" + std::to_string(writeFailures) + "    R-" +
         std::to_string(readFailures) + "    B-" + std::to_string(corrections);
}

void PageAccess::pageDone() {
  ShowLinkCounters();
  // Keeps the window alive and lets Cancel act between the pages of a long operation.
  op_.processEvents();
}

void PageAccess::pageFailed(const char* text) {
  op_.setCursor(Operator::Cursor::Arrow);
  op_.message(text);
}

}  // namespace orvana
