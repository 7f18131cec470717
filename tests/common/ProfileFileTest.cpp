#include "common/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
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

// What a settings file can be besides text: each is reported once, naming the file and the reason,
// reads give the defaults without blocking or growing, and a write leaves the thing alone.
TEST(ProfileFile, WhatCannotBeReadAsTextIsReportedAndLeftAlone) {
  test::TempHome home;
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"endless device behind a link",
       [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); },
       "a device, not a regular file"},
      {"FIFO without a writer",
       [](const std::filesystem::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
       "a FIFO, not a regular file"},
      {"folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); },
       "a folder, not a regular file"},
      {"too large",
       [](const std::filesystem::path& p) {
         std::ofstream(p) << "[IP Address]\nAddr=127.0.0.5\n";
         std::filesystem::resize_file(p, ProfileFile::kMaxBytes + 1);
       },
       "larger than 1 MiB"},
      {"binary",
       [](const std::filesystem::path& p) {
         std::ofstream(p, std::ios::binary)
             << std::string("[IP Address]\nAddr=127.0.0.5\n\0\0", 30);
       },
       "not text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = home.path() / (std::string(c.name) + ".ini");
    c.make(path);
    ProfileFile ini(path);
    const auto t0 = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ini.readString("IP Address", "Addr", "none"), "none");
    EXPECT_EQ(ini.readInt("IP Address", "Port", 7), 7);
    EXPECT_FALSE(ini.writeString("IP Address", "Addr", "127.0.0.6"));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_NE(told.find(path.string()), std::string::npos) << told;
    EXPECT_NE(told.find(c.reason), std::string::npos) << told;
    EXPECT_EQ(told.find(path.string()), told.rfind(path.string())) << "told once: " << told;
    EXPECT_NE(ini.problem().find(c.reason), std::string::npos) << ini.problem();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(home.path() / "endless device behind a link.ini"));
  EXPECT_TRUE(std::filesystem::is_fifo(home.path() / "FIFO without a writer.ini"));
  // A file that is simply not there is no problem: defaults, nothing said, and it can be made.
  testing::internal::CaptureStderr();
  ProfileFile absent(home.path() / "absent.ini");
  EXPECT_EQ(absent.readString("A", "b", "c"), "c");
  EXPECT_EQ(absent.problem(), "");
  EXPECT_TRUE(absent.writeString("A", "b", "d"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Notepad saves as UTF-16 with a byte-order mark or as UTF-8 with one; both read as the Windows
// profile functions read them, and a write keeps the file's encoding.
TEST(ProfileFile, ByteOrderMarksAreReadAndKept) {
  test::TempHome home;
  auto utf16 = [](const std::string& text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (unsigned char c : text) {
      out += little ? static_cast<char>(c) : '\0';
      out += little ? '\0' : static_cast<char>(c);
    }
    return out;
  };
  const std::string text = "[IP Address]\r\nAddr=127.0.0.7\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::string mark;
  };
  const Case cases[] = {
      {"utf16le", utf16(text, true), "\xFF\xFE"},
      {"utf16be", utf16(text, false), "\xFE\xFF"},
      {"utf8bom", "\xEF\xBB\xBF" + text, "\xEF\xBB\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = home.path() / (std::string(c.name) + ".ini");
    std::ofstream(path, std::ios::binary) << c.bytes;
    ProfileFile ini(path);
    EXPECT_EQ(ini.readString("ip address", "addr", "none"), "127.0.0.7");
    ASSERT_TRUE(ini.writeString("IP Address", "Comment", "Caf\xC3\xA9 \xF0\x9F\x8E\xAC"));
    const std::string after = slurp(path);
    EXPECT_EQ(after.rfind(c.mark, 0), 0u);
    EXPECT_EQ(ini.readString("IP Address", "Addr", "none"), "127.0.0.7");
    EXPECT_EQ(ini.readString("IP Address", "Comment", "none"), "Caf\xC3\xA9 \xF0\x9F\x8E\xAC");
  }
  EXPECT_EQ(slurp(home.path() / "utf16le.ini").substr(0, 6), std::string("\xFF\xFE[\0I\0", 6));
}

}  // namespace
}  // namespace orvana
