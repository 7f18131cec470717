#pragma once

// Page ECC: a Hamming code of our own layout. Every 8 payload bytes are stored followed by one
// check byte holding 7 check bits (bit 7 always 0); the 910 groups fill 8190 bytes and the page
// ends with two zero bytes.
//
// Data bit i of a group is bit (i mod 8) of byte (i div 8). Code positions 1..71: the powers of
// two belong to the check bits, the other 64 positions go to data bits 0..63 in increasing order
// (bit 0 at 3, bit 1 at 5, ..., bit 63 at 71). The check value is the XOR of the positions of all
// set data bits, so a single flipped data bit shows up as its own position.

#include <cstdint>

#include "flash/PageBuffer.h"

namespace orvana {

class HammingCode {
 public:
  static constexpr int kGroups = 910;
  static constexpr int kDataBytes = 8;
  static constexpr int kStoredBytes = 9;
  static constexpr int kCheckBits = 7;
  static constexpr int kHighestPosition = 71;

  // 7-bit check value of 8 data bytes; also kept as the last check value.
  std::uint8_t EccCheck(const std::uint8_t* data);

  // In place: the first 7280 bytes of `page` become the stored layout of all 8192 bytes.
  void EncodePage(std::uint8_t* page);

  // What decoding found in a page.
  struct PageReport {
    std::uint32_t corrected = 0;  // groups in which a data bit was inverted
    // Groups no single wrong bit explains, left as stored: a syndrome above 71 that is neither a
    // check bit (bit 7 included) nor an erased group (all ones but at most one bit).
    std::uint32_t unexplained = 0;
  };

  // A page this code corrects properly shows few corrected groups. With k single-bit errors
  // spread over 910 groups, about k(k-1)/2/910 groups hold two of them and are miscorrected
  // without notice: 16 errors already give one chance in eight of a silently wrong page, so
  // beyond that the code no longer vouches for the data. Real pages show a handful (a weak cell
  // or two); bytes that are not this page (a shifted transfer, another page's data, garbage)
  // give a syndrome at random per group: about 227 corrected and 650 unexplained groups.
  static constexpr std::uint32_t kMaxPlausibleCorrections = 16;

  // True when the page reads like this page with at most a few bit errors.
  static bool IsPlausible(const PageReport& report) {
    return report.unexplained == 0 && report.corrected <= kMaxPlausibleCorrections;
  }

  // In place: the stored layout becomes the corrected 7280-byte payload followed by zeros.
  // Returns the number of groups in which a data bit was inverted (one per group at most).
  std::uint32_t DecodePage(std::uint8_t* page) { return DecodePageReport(page).corrected; }
  // The same decoding, telling also what it could not explain.
  PageReport DecodePageReport(std::uint8_t* page);

  std::uint16_t checkValue() const { return checkValue_; }

  // Code position of data bit 0..63.
  static int codePosition(int dataBit);
  // Data bit at code position `s`, or -1 when s is 0, a check position or above 71.
  static int dataBitAt(unsigned s);

 private:
  std::uint16_t checkValue_ = 0;
};

}  // namespace orvana
