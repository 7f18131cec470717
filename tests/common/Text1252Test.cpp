#include "common/Text1252.h"

#include <gtest/gtest.h>

namespace orvana {
namespace {

TEST(Text1252, ConvertsBothWaysAndNeverSplitsACharacter) {
  struct Case {
    std::string utf8, cp1252;
  } cases[] = {
      {"News 10", "News 10"},
      {"Caf\xC3\xA9", "Caf\xE9"},
      {"\xE2\x82\xAC 5", "\x80 5"},
      {"\xE2\x80\x9Cq\xE2\x80\x9D", "\x93q\x94"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
    EXPECT_EQ(cp1252ToUtf8(c.cp1252), c.utf8) << c.utf8;
  }
  // A character outside the code page becomes one '?', a broken sequence one '?' per byte.
  EXPECT_EQ(utf8ToCp1252("a\xE6\x97\xA5" "b"), "a?b");
  EXPECT_EQ(utf8ToCp1252("a\xE6\x97"), "a??");
}

}  // namespace
}  // namespace orvana
