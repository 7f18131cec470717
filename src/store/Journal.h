#pragma once

// The journal: one JSON line per change made to a device (write, continue, delete, format,
// restore, copy) in journal.jsonl in the data folder. The file is only ever appended to, one
// whole line per write(2), and synced, so a crash loses at most the line being written and the
// lines before it are the operator's evidence of what each device was given.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvana {

struct JournalEntry {
  std::string Time;    // ISO 8601 UTC, set on append when empty
  std::string Device;  // address:port
  std::string Operation;
  std::string Channel;  // clip1, clip2, wipe, logo
  std::vector<int> Chips;
  int Clip = 0;  // clip number 1..100, 0 for none (format, restore)
  int Frames = 0;
  int ChainFrames = 0;  // frames in each chip's chain, hold frames included
  std::string Comment;
  std::string Result;  // "completed", "failed" or "cancelled"
  double Seconds = 0;
  // Per chip: SHA-256 (hex) of the clip's pages as programmed, frame by frame in chain order,
  // hold frames included, each page's 7280-byte payload.
  std::map<int, std::string> Digests;
};

std::filesystem::path journalFile();

// One JSON object, no line break.
std::string JournalLine(const JournalEntry& entry);
bool ParseJournalLine(const std::string& line, JournalEntry& entry);

// Appends the entry (Time filled in when empty); false when the line could not be written.
bool AppendJournal(JournalEntry entry);

// Every readable entry in file order; lines that are not an entry (a last line cut short by a
// crash) are skipped and described in `warnings`.
std::vector<JournalEntry> ReadJournal(std::vector<std::string>* warnings = nullptr);

// What the journal says clip `clip` of `channel` on `device` was given by its last write: the
// digest of every chip (gathered back through the continues of that write) and the chain length.
// False with `why` set when the journal has no completed write of it, or the clip has been
// deleted or formatted away since.
struct RecordedClip {
  std::string Time;
  int ChainFrames = 0;
  std::map<int, std::string> Digests;
};
bool FindRecordedClip(const std::vector<JournalEntry>& entries, const std::string& device,
                      const std::string& channel, int clip, RecordedClip& out, std::string& why);

// The SHA-256 digest of a clip's pages, fed page payload by page payload in chain order. A write
// feeds it every page it sends, so it must cost little beside the transfer.
class PageDigest {
 public:
  PageDigest();
  ~PageDigest();
  PageDigest(const PageDigest&) = delete;
  PageDigest& operator=(const PageDigest&) = delete;
  void AddPayload(const std::uint8_t* payload);
  std::string Hex() const;
  std::uint64_t Pages() const { return pages_; }
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::uint64_t pages_ = 0;
};

}  // namespace orvana
