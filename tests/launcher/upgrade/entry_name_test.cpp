// Entry names, attributes and times of upgrade package entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "launcher/upgrade/archive_entry.h"
#include "launcher/upgrade/entry_name.h"
#include "launcher/upgrade/folder_guard.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/zip_builder.h"

namespace rovik::launcher {
namespace {

TEST(EntryNameReduction, StripsDrivesLeadingSeparatorsAndParentSteps) {
  EXPECT_EQ(ReduceEntryName(u"../../evil.dll"), u"evil.dll");
  EXPECT_EQ(ReduceEntryName(u"a/b/../evil.dll"), u"evil.dll");
  EXPECT_EQ(ReduceEntryName(u"C:\\x\\y.dll"), u"x\\y.dll");
  EXPECT_EQ(ReduceEntryName(u"/abs/z.txt"), u"abs/z.txt");
  EXPECT_EQ(ReduceEntryName(u"a\\..\\b\\..\\c.txt"), u"c.txt");
  EXPECT_EQ(ReduceEntryName(u"a\\../b/..\\c.txt"), u"c.txt");
  EXPECT_EQ(ReduceEntryName(u"//\\\\C:D:/x"), u"x");
  EXPECT_EQ(ReduceEntryName(u"skin/ok.png"), u"skin/ok.png");
  // Not covered by the reduction: a parent step right at the start.
  EXPECT_EQ(ReduceEntryName(u"../evil.dll"), u"../evil.dll");
  EXPECT_EQ(ReduceEntryName(u""), u"");
}

TEST(EntryNameReduction, NamesFromTheArchiveAreUsableOnlyWhenTheyStayInside) {
  EXPECT_EQ(EntryNameFromArchive("../../evil.dll"), u"evil.dll");
  EXPECT_EQ(EntryNameFromArchive("C:\\x\\y.dll"), u"x\\y.dll");
  EXPECT_EQ(EntryNameFromArchive("skin/"), u"skin/");
  // Refused: what the reduction leaves leading out, nothing left, a NUL, too long.
  for (const char* name : {"../evil.dll", "..\\evil.dll", "..", "a/..", "b\\..", "x/a/..\\..",
                           "C:", "/", "\\\\", "C:..\\up.dll"}) {
    EXPECT_EQ(EntryNameFromArchive(name), u"") << name;
  }
  EXPECT_EQ(EntryNameFromArchive(std::string("ok.dll\0../../x", 14)), u"");
  EXPECT_EQ(EntryNameFromArchive(std::string(kMaxEntryName, 'a')), u"");
  EXPECT_EQ(EntryNameFromArchive(std::string(kMaxEntryName - 1, 'a')).size(), kMaxEntryName - 1);
}

TEST(EntryNameReduction, Utf8NamesBecomeWideText) {
  EXPECT_EQ(EntryNameFromArchive("\xe7\x9a\xae\xe8\x82\xa4/a.png"), u"\u76ae\u80a4/a.png");
  // Broken UTF-8 is replaced, never passed through as raw bytes.
  EXPECT_EQ(EntryNameFromArchive("a\xff.txt"), u"a\ufffd.txt");
}

TEST(EntryNameReduction, HostileNamesNeverLeadOutOfTheFolder) {
  fixtures::TempDir dir;
  const auto folder = dir.Path() / "FILE" / "Temp";
  ASSERT_TRUE(CreateFolderLevels(dir.Path(), "FILE/Temp"));
  const char* hostile[] = {"../evil.dll", "..\\evil.dll", "../../evil.dll", "a/b/../evil.dll",
                           "..",          "../",          "a/../..",        "C:\\..\\x.dll",
                           "\\..\\x.dll", "./../x.dll",   ".\\..\\x.dll",   "a/./../../x",
                           "..././x.dll", "/etc/passwd",  "C:/Windows/x",   "...\\x",
                           "a\\..",       "x/..\\..\\y",  "..//x",          "..\\/x"};
  for (const char* raw : hostile) {
    const std::u16string name = EntryNameFromArchive(raw);
    if (name.empty()) {
      continue;
    }
    const auto inside = PathInside(folder, EntryRelativePath(name));
    ASSERT_FALSE(inside.empty()) << raw;
    const auto normal = inside.lexically_normal().string();
    EXPECT_EQ(normal.rfind(folder.string() + "/", 0), 0u) << raw << " -> " << normal;
  }
}

TEST(EntryNameReduction, SplitsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(SplitEntryName(u"a/b\\c.txt").folder, u"a/b");
  EXPECT_EQ(SplitEntryName(u"a/b\\c.txt").file, u"c.txt");
  EXPECT_EQ(SplitEntryName(u"c.txt").folder, u"");
  EXPECT_EQ(SplitEntryName(u"skin/").file, u"");
  EXPECT_EQ(EntryRelativePath(u"x\\y.dll"), std::filesystem::path("x/y.dll"));
}

TEST(EntryAttributes, DosMadeEntriesKeepTheirWindowsBits) {
  for (uint32_t system : {0u, 7u, 11u, 14u}) {
    EXPECT_EQ(EntryAttributes({system << 8, 0x37 | 0xFF00}), 0x37u) << system;
  }
  EXPECT_EQ(EntryAttributes({20, 0x01}), kAttrReadOnly);
  EXPECT_EQ(EntryUnixMode({20, 0x01}), 0u);
}

TEST(EntryAttributes, OtherSystemsMapFolderAndOwnerWriteBit) {
  const uint32_t unix = 3 << 8;
  EXPECT_EQ(EntryAttributes({unix, 0100644u << 16}), kAttrArchive);
  EXPECT_EQ(EntryAttributes({unix, 0100444u << 16}), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(EntryAttributes({unix, 040755u << 16}), kAttrArchive | kAttrFolder);
  EXPECT_EQ(EntryUnixMode({unix, 0100755u << 16}), 0755u);
  // Other systems than Unix carry no permission bits to keep.
  EXPECT_EQ(EntryAttributes({10 << 8, 0x20}), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(EntryUnixMode({10 << 8, 0100755u << 16}), 0u);
  EXPECT_TRUE(IsSymlinkEntry({unix, 0120777u << 16}));
  EXPECT_FALSE(IsSymlinkEntry({unix, 0100777u << 16}));
  EXPECT_FALSE(IsSymlinkEntry({0, 0120777u << 16}));
}

class EntryTimesTest : public ::testing::Test {
 protected:
  void SetUp() override { UseZone("UTC0"); }
  void TearDown() override {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void UseZone(const char* zone) {
    if (!saved_) {
      saved_ = true;
      if (const char* tz = std::getenv("TZ")) {
        previous_ = tz;
      }
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  static constexpr uint16_t kDate = (45 << 9) | (6 << 5) | 15;   // 2025-06-15
  static constexpr uint16_t kTime = (10 << 11) | (30 << 5) | 4;  // 10:30:08
  static constexpr FileTime kDosAsUtc = 1749983408ULL * 10000000ULL + kUnixEpochAsFileTime;

 private:
  bool saved_ = false;
  std::optional<std::string> previous_;
};

TEST_F(EntryTimesTest, DosTimeIsLocalTimeTakenToUtc) {
  EXPECT_EQ(DosDateTimeToFileTime(kDate, kTime), kDosAsUtc);
  EXPECT_EQ(DosDateTimeToFileTime((0 << 9) | (1 << 5) | 1, 0),
            315532800ULL * 10000000ULL + kUnixEpochAsFileTime);
  UseZone("XYZ-2");  // two hours ahead of UTC
  EXPECT_EQ(DosDateTimeToFileTime(kDate, kTime), kDosAsUtc - 2ULL * 3600 * 10000000ULL);
  // Month 0 or day 0 is no date.
  EXPECT_EQ(DosDateTimeToFileTime((45 << 9) | (0 << 5) | 1, 0), 0u);
  EXPECT_EQ(DosDateTimeToFileTime((45 << 9) | (1 << 5) | 0, 0), 0u);
}

TEST_F(EntryTimesTest, UtBlockWithOnlyModificationTimeReplacesWriteTimeOnly) {
  const EntryTimes times = EntryTimesFrom(kDate, kTime, test::UtBlock(1, {1000000000u}));
  EXPECT_EQ(times.write, UnixTimeToFileTime(1000000000u));
  EXPECT_EQ(times.access, kDosAsUtc);
  EXPECT_EQ(times.creation, kDosAsUtc);
}

TEST_F(EntryTimesTest, UtBlockTimesFollowTheirFlagBits) {
  EntryTimes times = EntryTimesFrom(kDate, kTime, test::UtBlock(7, {100, 200, 300}));
  EXPECT_EQ(times.write, UnixTimeToFileTime(100));
  EXPECT_EQ(times.access, UnixTimeToFileTime(200));
  EXPECT_EQ(times.creation, UnixTimeToFileTime(300));
  times = EntryTimesFrom(kDate, kTime, test::UtBlock(4, {300}));
  EXPECT_EQ(times.write, kDosAsUtc);
  EXPECT_EQ(times.creation, UnixTimeToFileTime(300));
}

TEST_F(EntryTimesTest, ExtraFieldIsWalkedBlockByBlockAndBounded) {
  std::string other("\x0a\x00\x04\x00XXXX", 8);  // an NTFS-tagged block before it
  EXPECT_EQ(EntryTimesFrom(kDate, kTime, other + test::UtBlock(1, {42})).write,
            UnixTimeToFileTime(42));
  // Flags promising three times in a block holding one (as central headers store it).
  std::string shortBlock = test::UtBlock(7, {42});
  EXPECT_EQ(EntryTimesFrom(kDate, kTime, shortBlock).write, UnixTimeToFileTime(42));
  EXPECT_EQ(EntryTimesFrom(kDate, kTime, shortBlock).access, kDosAsUtc);
  // A block claiming more bytes than the field holds reads nothing beyond it.
  std::string cut = test::UtBlock(3, {42, 43}).substr(0, 7);
  const EntryTimes times = EntryTimesFrom(kDate, kTime, cut);
  EXPECT_EQ(times.write, kDosAsUtc);
  // Only the first "UT" block counts.
  EXPECT_EQ(EntryTimesFrom(kDate, kTime, test::UtBlock(1, {5}) + test::UtBlock(1, {6})).write,
            UnixTimeToFileTime(5));
  EXPECT_EQ(EntryTimesFrom(kDate, kTime, std::string("\x55", 1)).write, kDosAsUtc);
}

}  // namespace
}  // namespace rovik::launcher
