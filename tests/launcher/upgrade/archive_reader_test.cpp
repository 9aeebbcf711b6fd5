// The package reader: opening, listing and unpacking entries, and refusing damaged or hostile ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

#include "launcher/upgrade/archive_reader.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/zip_builder.h"

namespace rovik::launcher {
namespace {
namespace fs = std::filesystem;
using fixtures::ReadWholeFile;
using fixtures::WriteWholeFile;
using test::ZipEntrySpec;

class ArchiveReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.Path() / "FILE");
    extract_ = dir_.Path() / "FILE" / "Temp" / "";
  }

  // Writes the entries as a package and opens it with the extraction folder set.
  ArchivePtr Open(const std::vector<ZipEntrySpec>& entries) {
    const fs::path package = dir_.Path() / "package.zip";
    EXPECT_TRUE(test::WriteZip(package, entries));
    ArchivePtr archive(OpenArchive(package));
    EXPECT_TRUE(archive);
    if (archive) {
      SetExtractFolder(archive.get(), extract_);
    }
    return archive;
  }

  // Unpacks entry index under its own reduced name.
  bool Extract(Archive* archive, int index) {
    ArchiveEntry entry;
    return GetEntry(archive, index, entry) && ExtractEntry(archive, index, entry.Name());
  }

  static mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  fixtures::TempDir dir_;
  fs::path extract_;
};

TEST_F(ArchiveReaderTest, OpeningFailsForAnythingButAReadableZip) {
  EXPECT_EQ(OpenArchive(dir_.Path() / "missing.zip"), nullptr);
  EXPECT_EQ(OpenArchive(dir_.Path()), nullptr);
  EXPECT_EQ(OpenArchive(""), nullptr);
  ASSERT_TRUE(WriteWholeFile(dir_.Path() / "text.zip", "this is no archive"));
  EXPECT_EQ(OpenArchive(dir_.Path() / "text.zip"), nullptr);
  const std::string zip = test::BuildZip({test::FileEntry("a.txt", "hello")});
  ASSERT_TRUE(WriteWholeFile(dir_.Path() / "cut.zip", zip.substr(0, zip.size() - 22)));
  EXPECT_EQ(OpenArchive(dir_.Path() / "cut.zip"), nullptr);
  CloseArchive(nullptr);
}

TEST_F(ArchiveReaderTest, EmptyArchiveHasNoEntries) {
  // minizip finds no directory end at the very first byte of a file, so the empty archive
  // carries a stub before it, as a self-extracting package would.
  ASSERT_TRUE(WriteWholeFile(dir_.Path() / "empty.zip", "SFX stub" + test::BuildZip({})));
  ArchivePtr archive(OpenArchive(dir_.Path() / "empty.zip"));
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  EXPECT_EQ(EntryCount(archive.get()), 0);
  EXPECT_FALSE(GetEntry(archive.get(), 0, entry));
  EXPECT_FALSE(GetEntry(archive.get(), -1, entry));
  EXPECT_FALSE(ExtractEntry(archive.get(), 0, u"a.txt"));
}

TEST_F(ArchiveReaderTest, ExtractFolderGetsATrailingSeparator) {
  ArchivePtr archive = Open({test::FileEntry("a", "a")});
  SetExtractFolder(archive.get(), dir_.Path() / "x");
  EXPECT_EQ(ExtractFolder(archive.get()), dir_.Path() / "x" / "");
  SetExtractFolder(archive.get(), dir_.Path() / "y" / "");
  EXPECT_EQ(ExtractFolder(archive.get()), dir_.Path() / "y" / "");
}

TEST_F(ArchiveReaderTest, EntriesAreListedByIndexWithReducedNamesAndSizes) {
  ArchivePtr archive = Open({test::FileEntry("../../evil.dll", std::string(1000, 'e')),
                             test::FileEntry("C:\\x\\y.dll", "y"), test::FolderEntry("skin/")});
  ASSERT_EQ(EntryCount(archive.get()), 3);
  ArchiveEntry entry;
  ASSERT_TRUE(GetEntry(archive.get(), 0, entry));
  EXPECT_EQ(entry.index, 0);
  EXPECT_EQ(entry.Name(), u"evil.dll");
  EXPECT_EQ(entry.uncompressedSize, 1000);
  EXPECT_LT(entry.compressedSize, 1000);
  EXPECT_EQ(entry.attributes, kAttrArchive);
  ASSERT_TRUE(GetEntry(archive.get(), 2, entry));
  EXPECT_TRUE(entry.IsFolder());
  EXPECT_EQ(entry.Name(), u"skin/");
  ASSERT_TRUE(GetEntry(archive.get(), 1, entry));
  EXPECT_EQ(entry.Name(), u"x\\y.dll");
  EXPECT_FALSE(GetEntry(archive.get(), 3, entry));
}

TEST_F(ArchiveReaderTest, FileEntriesAreUnpackedWithEveryFolderLevel) {
  std::mt19937 random(7);
  std::string big(100000, '\0');
  for (char& c : big) {
    c = static_cast<char>(random() % 7 == 0 ? random() : 'a');
  }
  ZipEntrySpec stored = test::FileEntry("plain.txt", "stored bytes");
  stored.deflate = false;
  ArchivePtr archive =
      Open({test::FileEntry("a/b\\c/big.bin", big), stored, test::FileEntry("C:\\x\\y.dll", "y")});
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(Extract(archive.get(), i)) << i;
  }
  EXPECT_EQ(ReadWholeFile(extract_ / "a/b/c/big.bin"), big);
  EXPECT_EQ(ReadWholeFile(extract_ / "plain.txt"), "stored bytes");
  EXPECT_EQ(ReadWholeFile(extract_ / "x/y.dll"), "y");
}

TEST_F(ArchiveReaderTest, FolderEntryCreatesOnlyTheFolder) {
  ArchivePtr archive = Open({test::FolderEntry("skin/icons/")});
  EXPECT_TRUE(Extract(archive.get(), 0));
  EXPECT_TRUE(fs::is_directory(extract_ / "skin/icons"));
  EXPECT_TRUE(fs::is_empty(extract_ / "skin/icons"));
}

TEST_F(ArchiveReaderTest, ExtractionFolderIsCreatedOneLevelOnly) {
  ArchivePtr archive = Open({test::FileEntry("a.txt", "a")});
  SetExtractFolder(archive.get(), dir_.Path() / "missing" / "Temp");
  EXPECT_FALSE(Extract(archive.get(), 0));
  EXPECT_FALSE(fs::exists(dir_.Path() / "missing"));
  SetExtractFolder(archive.get(), dir_.Path() / "Temp2");
  EXPECT_TRUE(Extract(archive.get(), 0));
  EXPECT_EQ(ReadWholeFile(dir_.Path() / "Temp2" / "a.txt"), "a");
}

TEST_F(ArchiveReaderTest, AttributesBecomePermissionsAndTimesAreSet) {
  ZipEntrySpec timed = test::FileEntry("timed.txt", "t");
  timed.extra = test::UtBlock(1, {1000000000u});
  ZipEntrySpec tool = test::FileEntry("tool", "#!/bin/sh\n");
  tool.externalAttributes = 0100775u << 16;
  ArchivePtr archive = Open({test::DosEntry("ro.txt", "r", kAttrReadOnly | kAttrArchive),
                             test::DosEntry("rw.txt", "w", kAttrArchive), tool, timed});
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(Extract(archive.get(), i)) << i;
  }
  EXPECT_EQ(Mode(extract_ / "ro.txt") & 0222, 0u);
  EXPECT_NE(Mode(extract_ / "rw.txt") & S_IWUSR, 0u);
  EXPECT_EQ(Mode(extract_ / "tool"), 0755u);  // executable, never writable by others
  struct stat info {};
  ASSERT_EQ(::stat((extract_ / "timed.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
}

TEST_F(ArchiveReaderTest, ExistingReadOnlyCopyIsReplaced) {
  ArchivePtr archive = Open({test::DosEntry("ro.txt", "new", kAttrReadOnly)});
  ASSERT_TRUE(WriteWholeFile(extract_ / "ro.txt", "old"));
  fs::permissions(extract_ / "ro.txt", fs::perms::owner_read);
  EXPECT_TRUE(Extract(archive.get(), 0));
  EXPECT_EQ(ReadWholeFile(extract_ / "ro.txt"), "new");
}

TEST_F(ArchiveReaderTest, DamagedEntriesFailAndLeaveNoFileNorAnEarlierCopy) {
  ZipEntrySpec badCrc = test::FileEntry("bad.dll", std::string(50000, 'x'));
  badCrc.crc = 0x12345678;
  ZipEntrySpec longer = test::FileEntry("longer.dll", "short data");
  longer.declaredSize = 1000;
  ZipEntrySpec shorter = test::FileEntry("shorter.dll", "rather long data");
  shorter.declaredSize = 4;
  ZipEntrySpec locked = test::FileEntry("locked.dll", "secret");
  locked.flags = 1;
  ZipEntrySpec garbage = test::FileEntry("garbage.dll", std::string(3000, 'g'));
  garbage.rawData = std::string(200, '\xff');
  ArchivePtr archive = Open({badCrc, longer, shorter, locked, garbage});
  const char* names[] = {"bad.dll", "longer.dll", "shorter.dll", "locked.dll", "garbage.dll"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(WriteWholeFile(extract_ / names[i], "from an earlier upgrade"));
    EXPECT_FALSE(Extract(archive.get(), i)) << names[i];
    EXPECT_FALSE(fs::exists(extract_ / names[i])) << names[i];
  }
}

TEST_F(ArchiveReaderTest, InflatedBytesAreCountedAgainstThePackageLimit) {
  ArchivePtr archive = Open({test::FileEntry("one", std::string(8, '1')),
                             test::FileEntry("two", std::string(8, '2')),
                             test::FileEntry("huge", std::string(1 << 20, '0'))});
  SetExtractLimit(archive.get(), 12);
  EXPECT_TRUE(Extract(archive.get(), 0));
  EXPECT_FALSE(Extract(archive.get(), 1));
  EXPECT_FALSE(fs::exists(extract_ / "two"));
  SetExtractLimit(archive.get(), kDefaultExtractLimit);
  EXPECT_TRUE(Extract(archive.get(), 2));
  EXPECT_EQ(fs::file_size(extract_ / "huge"), 1u << 20);
}

TEST_F(ArchiveReaderTest, LinksAndRefusedNamesAreNeverUnpacked) {
  const fs::path outside = dir_.Path() / "outside";
  fs::create_directories(outside);
  ArchivePtr archive =
      Open({test::SymlinkEntry("link", outside.string()), test::FileEntry("../evil.dll", "evil"),
            test::FileEntry(std::string("a.dll\0../../b", 13), "evil")});
  ArchiveEntry entry;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(GetEntry(archive.get(), i, entry));
    EXPECT_TRUE(entry.Name().empty()) << i;
    EXPECT_FALSE(ExtractEntry(archive.get(), i, u"harmless.txt")) << i;
  }
  EXPECT_FALSE(fs::exists(extract_ / "link"));
  EXPECT_FALSE(fs::exists(extract_ / "harmless.txt"));
  EXPECT_FALSE(fs::exists(dir_.Path() / "FILE" / "evil.dll"));
  // Names handed in by the caller are checked too.
  archive = Open({test::FileEntry("ok.dll", "ok")});
  EXPECT_FALSE(ExtractEntry(archive.get(), 0, u"../ok.dll"));
  EXPECT_FALSE(ExtractEntry(archive.get(), 0, u"/tmp/ok.dll"));
  EXPECT_FALSE(fs::exists(dir_.Path() / "FILE" / "ok.dll"));
}

TEST_F(ArchiveReaderTest, LinksInsideTheExtractionFolderAreNotFollowedOut) {
  const fs::path outside = dir_.Path() / "outside";
  fs::create_directories(outside);
  fs::create_directories(extract_);
  ASSERT_TRUE(WriteWholeFile(outside / "victim.dll", "precious"));
  fs::create_symlink(outside / "victim.dll", extract_ / "victim.dll");
  fs::create_symlink(outside, extract_ / "skin");
  ArchivePtr archive =
      Open({test::FileEntry("victim.dll", "overwritten"), test::FileEntry("skin/ok.png", "png")});
  EXPECT_FALSE(Extract(archive.get(), 0));
  EXPECT_FALSE(Extract(archive.get(), 1));
  EXPECT_EQ(ReadWholeFile(outside / "victim.dll"), "precious");
  EXPECT_FALSE(fs::exists(outside / "ok.png"));
}

}  // namespace
}  // namespace rovik::launcher
