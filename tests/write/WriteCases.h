#pragma once

// What the write process suites share: the clip fixtures, the fixture class, the uninterrupted
// reference write and the check of a clip's frame chain against the independent build.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "media/AviFixture.h"
#include "media/MediaController.h"
#include "store/ClipRecord.h"
#include "write/ExpectedFrames.h"
#include "write/WriteRig.h"

namespace orvana::test {

inline std::filesystem::path ClipFile(int frames = 10) {
  AviSpec s;
  s.Width = 64;
  s.Height = 36;
  s.Frames = frames;
  s.AudioRate = 48000;
  return Fixtures::Get("write" + std::to_string(frames), s);
}

inline constexpr std::uint32_t RowsFor(int totalFrames) {
  return static_cast<std::uint32_t>((12 + 2 * totalFrames + 8) * 64);
}

// Follows clip `slot`'s chain on `chip` through `total` frames, each page's content against the
// independent build; the lead page the last frame links to.
inline std::uint32_t ExpectChain(WriteRig& rig, ExpectedFrames& expected, int chip, int slot,
                                 int total, int wrap) {
  const ClipRecord r =
      ClipRecord::unpack(rig.Payload(chip, static_cast<std::uint32_t>(slot)).data());
  std::uint32_t lead = r.StartPage;
  for (int i = 0; i < total; ++i) {
    const Page want = expected.Content(chip, i, r.FrameCount, wrap);
    for (int m = 0; m < 73; ++m) {
      const Page got = rig.Payload(chip, lead + static_cast<std::uint32_t>(m));
      if (!std::equal(got.begin(), got.begin() + 7220, want.begin() + m * 7220)) {
        ADD_FAILURE() << "chip " << chip << " frame " << i << " page " << m;
        return 0;
      }
    }
    lead = GetU32(&rig.Payload(chip, lead + 72)[7220]);
  }
  return lead;
}

inline int CountStatus(const ScriptedOperator& op, const std::string& text) {
  return static_cast<int>(std::count(op.status[0].begin(), op.status[0].end(), text));
}

class WriteProcessTest : public ::testing::Test {
 protected:
  TempHome home;
};

// Clip 3 ("Ref") of the ten-frame clip written on "Clip 1" in one go, sequentially, each chip's
// pass decoding its own frames: what every interrupted, failed, overlapped or built-ahead write
// of it must leave on chips 0 and 1.
inline const std::vector<Page>& Reference() {
  static std::vector<Page> reference;
  if (reference.empty()) {
    WriteRig rig;
    rig.Prepare(0, ClipFile(10).string());
    rig.writer->AheadBudgetBytes = 0;
    rig.Write("3", "Ref");
    EXPECT_TRUE(rig.writer->Completed);
    if (rig.writer->Completed) reference = Snapshot(rig, {0, 1}, RowsFor(40));
    std::filesystem::remove(paths::settingsFile(kMainIni));
  }
  return reference;
}

}  // namespace orvana::test
