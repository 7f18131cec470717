#pragma once

// The NAND sequencer: turns page operations into cycle lists (command 135), 1024-byte data
// moves (command 136) and status polls over the device link. Chips use 00h/30h read, 80h/10h
// program, 60h/D0h erase, 70h status, two column cycles (always 0: pages move whole) and three
// row cycles, low byte first.
//
// Exchanges per page: a read is 9 (list + eight data reads; 9 more for each time the ECC sends
// it back); a program is at least 12 (set-up list, eight data writes, confirm list, one status
// read of two exchanges).

#include <cstdint>

#include "flash/HammingCode.h"
#include "flash/PageBuffer.h"
#include "flash/ZT_FLASH_CYCLE.h"

namespace orvana {

class ITF_ZT;

class ZT_FLASH {
 public:
  static constexpr int kPieceBytes = 1024;
  static constexpr int kPieces = kPageBytes / kPieceBytes;
  static constexpr int kProgramPolls = 30;
  static constexpr int kErasePolls = 1000;
  static constexpr int kChips = 12;
  // Transfers of one page before the read fails. On a link losing a few percent of its replies a
  // transfer is spoilt about one time in five, and a read needing two equal transfers must still
  // come through.
  static constexpr int kReadAttempts = 8;
  // How long before a new sequencer the link counts as having last resent a read (ms): long
  // enough that its first read needs no wait.
  static constexpr std::uint32_t kQuietMs = 1000;
  // Pause before each data read of a repeated transfer, in ms.
  static constexpr int kSettleMs = 2;

  explicit ZT_FLASH(ITF_ZT& link);
  ZT_FLASH(const ZT_FLASH&) = delete;
  ZT_FLASH& operator=(const ZT_FLASH&) = delete;

  // Chip 0..11; anything else is refused without traffic.
  bool SetChipSelect(int chip);
  bool SetHostAccess(bool on);
  // The chip's status byte, or 0 when an exchange failed.
  std::uint8_t ReadStatus();
  // page: 8192 bytes. ecc == 1 runs the page through the page ECC (decode after reading, encode
  // before programming, in place, whatever the outcome of the program). Rows beyond the chip's
  // last page are refused without traffic. A transfer counts only when none of its requests was
  // resent and it starts two receive waits after the link last resent one (it waits for that).
  // With ecc == 1 a page that does not decode plausibly (see HammingCode::IsPlausible), or that
  // is not confirmed by a second equal counted transfer once anything was amiss, is read again,
  // up to kReadAttempts transfers in all; if none is accepted, the read fails and the buffer is
  // cleared. A raw page (ecc 0) counts from its first counted transfer.
  bool ReadPage(std::uint8_t* page, std::uint32_t row, int ecc);
  bool ProgramPage(std::uint8_t* page, std::uint32_t row, int ecc);
  bool EraseBlock(std::uint32_t row);

  // A finished operation that passed: ready and array ready set, both fail bits clear.
  static bool IsReady(std::uint8_t status) { return (status & 0x63) == 0x60; }

  // Bits corrected by the page ECC in the pages handed on; only grows.
  std::uint32_t Corrections = 0;
  // Page transfers not taken (the ECC found them implausible, or they awaited a second equal
  // transfer) and read again (or failed); only grows.
  std::uint32_t RejectedReads = 0;

  FlashControl& control() { return control_; }
  ZT_FLASH_CYCLE& cycle() { return cycle_; }
  HammingCode& code() { return code_; }

 private:
  void addRow(std::uint32_t row);
  // The read list and the eight data reads, without decoding.
  bool transferPage(std::uint8_t* page, std::uint32_t row, bool settle);
  bool readRawPage(std::uint8_t* page, std::uint32_t row);
  bool sendControl();
  bool pollReady(int limit);

  ITF_ZT& link_;
  FlashControl control_;
  ZT_FLASH_CYCLE cycle_;
  HammingCode code_;
  std::int32_t resendsSeen_ = 0;    // the link's ReadResends after the last page transfer
  std::uint32_t lastResendAt_ = 0;  // tick at which resends were last seen
};

}  // namespace orvana
