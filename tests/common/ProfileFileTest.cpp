#include "common/ProfileFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/TempHome.h"

namespace orvana {
namespace {

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ProfileFile, ReadsWindowsFileWithCrlfAndAnyCase) {
  test::TempHome home;
  auto path = home.path() / "orvana.ini";
  std::ofstream(path, std::ios::binary) << "[Options]\r\nTimeCode=1\r\nWhatMedia=3\r\n\r\n"
                                           "[Safe write]\r\nComment=News at ten\r\n";
  ProfileFile ini(path);
  EXPECT_EQ(ini.readInt("options", "TIMECODE", 0), 1);
  EXPECT_EQ(ini.readInt("Options", "WhatMedia", 0), 3);
  EXPECT_EQ(ini.readString("SAFE WRITE", "comment", "No comment"), "News at ten");
  EXPECT_EQ(ini.readString("Safe write", "Missing", "No comment"), "No comment");
  EXPECT_EQ(ini.readInt("Nope", "TimeCode", 7), 7);
}

TEST(ProfileFile, MissingFileAndBadNumbersGiveDefaults) {
  test::TempHome home;
  ProfileFile ini(home.path() / "absent.ini");
  EXPECT_EQ(ini.readString("CurrDir", "Dir", "C:\\"), "C:\\");
  std::ofstream(ini.path()) << "[A]\nx=abc\ny=99999999999\nz=-12\n";
  EXPECT_EQ(ini.readInt("A", "x", 5), 5);
  EXPECT_EQ(ini.readInt("A", "y", 5), 5);
  EXPECT_EQ(ini.readInt("A", "z", 5), -12);
}

TEST(ProfileFile, WritesReplaceInPlaceAndAddSectionsAndKeys) {
  test::TempHome home;
  auto path = home.path() / "orvana.ini";
  std::ofstream(path, std::ios::binary) << "[Options]\r\nTimeCode=0\r\n\r\n[CurrDir]\r\nDir=/a\r\n";
  ProfileFile ini(path);
  ASSERT_TRUE(ini.writeInt("OPTIONS", "timecode", 1));
  ASSERT_TRUE(ini.writeInt("Options", "WhatMedia", 2));
  ASSERT_TRUE(ini.writeString("Safe write", "Comment", "x = y"));
  EXPECT_EQ(slurp(path),
            "[Options]\r\ntimecode=1\r\nWhatMedia=2\r\n\r\n[CurrDir]\r\nDir=/a\r\n\r\n"
            "[Safe write]\r\nComment=x = y\r\n");
  EXPECT_EQ(ini.readString("safe write", "comment", ""), "x = y");
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(home.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace orvana
