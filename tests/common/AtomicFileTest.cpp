#include "common/AtomicFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/TempHome.h"

namespace orvana {
namespace {

std::vector<std::uint8_t> slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The temporary file is the call's own: what another writer (or a stopped one) left beside the
// target under a fixed name neither stops the write nor is taken over by it, and nothing of the
// call's own is left once the file is in place.
TEST(AtomicFile, AnotherWritersTemporaryIsNeitherInTheWayNorUsed) {
  test::TempHome home;
  const auto file = home.path() / "map.png";
  std::filesystem::create_directory(file.string() + ".part");
  { std::ofstream(file.string() + ".part-1") << "someone else's"; }
  const std::vector<std::uint8_t> first = {1, 2, 3}, second = {4, 5};
  ASSERT_TRUE(WriteFileAtomically(file, first));
  ASSERT_TRUE(WriteFileAtomically(file, second));
  EXPECT_EQ(slurp(file), second);
  EXPECT_TRUE(std::filesystem::is_directory(file.string() + ".part"));
  EXPECT_EQ(slurp(file.string() + ".part-1").size(), 14u);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(home.path())) entries += e.exists();
  EXPECT_EQ(entries, 3);
}

}  // namespace
}  // namespace orvana
