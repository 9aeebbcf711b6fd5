// Installing a package over a program folder: back-ups, replacement, and what is never written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "launcher/upgrade/upgrade_install.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/zip_builder.h"

namespace rovik::launcher {
namespace {
namespace fs = std::filesystem;
using fixtures::ReadWholeFile;
using fixtures::WriteWholeFile;
using test::ZipEntrySpec;

class UpgradeInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders_ = InstallFolders::Of(dir_.Path() / "bin" / "");
    for (const fs::path& f :
         {folders_.extractFolder, folders_.backupFolder, folders_.upgradeFolder}) {
      fs::create_directories(f);
    }
  }

  InstallResult Install(const std::vector<ZipEntrySpec>& entries,
                        const InstallOptions& options = {}) {
    EXPECT_TRUE(test::WriteZip(Package(), entries));
    return InstallPackage(Package(), folders_, options);
  }

  fs::path Package() const { return folders_.upgradeFolder / "patch.zip"; }
  fs::path App(const fs::path& rel) const { return folders_.appDir / rel; }
  fs::path Back(const fs::path& rel) const { return folders_.backupFolder / rel; }
  fs::path Temp(const fs::path& rel) const { return folders_.extractFolder / rel; }

  // Every file below the temp root with its content, the package left out.
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(dir_.Path())) {
      if (item.path() != Package()) {
        tree[fs::relative(item.path(), dir_.Path()).string()] =
            item.is_regular_file() ? ReadWholeFile(item.path()) : "<dir>";
      }
    }
    return tree;
  }

  fixtures::TempDir dir_;
  InstallFolders folders_;
};

TEST_F(UpgradeInstallTest, ReplacesProgramFilesAfterSavingThem) {
  ASSERT_TRUE(WriteWholeFile(App("RovikAlarm"), "old alarm"));
  const InstallResult result = Install(
      {test::FileEntry("RovikAlarm", "new alarm"), test::FileEntry("libnew.so", "new library")});
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.entries, 2);
  EXPECT_EQ(result.installed, 2);
  EXPECT_EQ(result.failed, 0);
  EXPECT_EQ(ReadWholeFile(App("RovikAlarm")), "new alarm");
  EXPECT_EQ(ReadWholeFile(Back("RovikAlarm")), "old alarm");
  EXPECT_EQ(ReadWholeFile(App("libnew.so")), "new library");
  EXPECT_FALSE(fs::exists(Back("libnew.so")));
  EXPECT_EQ(ReadWholeFile(Temp("RovikAlarm")), "new alarm");
}

// Entries made with a private umask must not take the program's files away from other users.
TEST_F(UpgradeInstallTest, ReplacedFilesKeepTheirModeAndNewFilesGetOrdinaryOnes) {
  ASSERT_TRUE(WriteWholeFile(App("libQXDll.so"), "old library"));
  ASSERT_TRUE(WriteWholeFile(App("RovikAlarm"), "old program"));
  fs::permissions(App("libQXDll.so"), fs::perms(0644));
  fs::permissions(App("RovikAlarm"), fs::perms(0755));
  auto privateEntry = [](const char* name, uint32_t mode) {
    ZipEntrySpec spec = test::FileEntry(name, std::string("new ") + name);
    spec.externalAttributes = (0100000u | mode) << 16;
    return spec;
  };
  const InstallResult result =
      Install({privateEntry("libQXDll.so", 0600), privateEntry("RovikAlarm", 0600),
               privateEntry("notes.txt", 0600), privateEntry("rovik-tool", 0700),
               privateEntry("open.txt", 0666), test::DosEntry("dos.txt", "dos", kAttrArchive)});
  EXPECT_EQ(result.installed, 6);
  auto mode = [&](const char* name) {
    return static_cast<unsigned>(fs::status(App(name)).permissions() & fs::perms::mask);
  };
  EXPECT_EQ(ReadWholeFile(App("RovikAlarm")), "new RovikAlarm");
  EXPECT_EQ(mode("libQXDll.so"), 0644u);
  EXPECT_EQ(mode("RovikAlarm"), 0755u);
  EXPECT_EQ(mode("notes.txt"), 0644u);
  EXPECT_EQ(mode("rovik-tool"), 0755u);
  EXPECT_EQ(mode("open.txt"), 0644u);
  EXPECT_EQ(mode("dos.txt"), 0644u);
  // The back-up is the original, mode and all.
  EXPECT_EQ(static_cast<unsigned>(fs::status(Back("RovikAlarm")).permissions() & fs::perms::mask),
            0755u);
}

TEST_F(UpgradeInstallTest, SubfolderEntriesMakeTheFoldersTheyNeedInsideTheirFolders) {
  ASSERT_TRUE(WriteWholeFile(App("skin/a.png"), "old a"));
  const fs::path outside = dir_.Path() / "outside";
  fs::create_directories(outside);
  fs::create_symlink(outside, App("linked"));
  fs::create_symlink(outside, Back("elsewhere"));
  ASSERT_TRUE(WriteWholeFile(App("elsewhere/b.png"), "old b"));
  const InstallResult result = Install(
      {test::FileEntry("skin/a.png", "new a"), test::FileEntry("skin/new/deep/c.png", "new c"),
       test::FileEntry("linked/d.png", "EVIL"), test::FileEntry("elsewhere/b.png", "new b")});
  EXPECT_EQ(ReadWholeFile(App("skin/a.png")), "new a");
  EXPECT_EQ(ReadWholeFile(Back("skin/a.png")), "old a");
  EXPECT_EQ(ReadWholeFile(App("skin/new/deep/c.png")), "new c");
  EXPECT_FALSE(fs::exists(Back("skin/new")));
  // A folder leading out of the program or back-up folder is never followed; an original whose
  // back-up cannot be made inside the back-up folder is not replaced.
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(ReadWholeFile(App("elsewhere/b.png")), "old b");
  EXPECT_EQ(result.installed, 2);
}

TEST_F(UpgradeInstallTest, FolderEntriesAreCreatedInTheExtractionFolderOnly) {
  const InstallResult result = Install({test::FolderEntry("plugins/")});
  EXPECT_EQ(result.installed, 0);
  EXPECT_TRUE(fs::is_directory(Temp("plugins")));
  EXPECT_FALSE(fs::exists(App("plugins")));
  EXPECT_FALSE(fs::exists(Back("plugins")));
}

TEST_F(UpgradeInstallTest, EmptyPackageChangesNothing) {
  ASSERT_TRUE(WriteWholeFile(App("RovikAlarm"), "old"));
  const auto before = Tree();
  EXPECT_EQ(Install({}).entries, 0);
  EXPECT_EQ(Tree(), before);
  // The same with a stub before the archive, which minizip can open.
  ASSERT_TRUE(WriteWholeFile(Package(), "stub" + test::BuildZip({})));
  const InstallResult result = InstallPackage(Package(), folders_);
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.entries, 0);
  EXPECT_EQ(Tree(), before);
}

TEST_F(UpgradeInstallTest, MissingOrUnreadablePackageInstallsNothing) {
  const auto before = Tree();
  EXPECT_FALSE(InstallPackage(folders_.upgradeFolder / "none.zip", folders_).opened);
  EXPECT_FALSE(InstallPackage(folders_.upgradeFolder, folders_).opened);
  EXPECT_EQ(Tree(), before);
}

// A run stopped after some files were replaced is run again as a whole: the files that already
// hold the package's bytes keep the back-ups of their originals.
TEST_F(UpgradeInstallTest, RunAgainKeepsEveryOriginalInTheBackups) {
  ASSERT_TRUE(WriteWholeFile(App("QXDll.so"), "version 1"));
  ASSERT_TRUE(WriteWholeFile(App("QXPlayDll.so"), "play 1"));
  const std::vector<ZipEntrySpec> package = {test::FileEntry("QXDll.so", "version 2"),
                                             test::FileEntry("QXPlayDll.so", "play 2")};
  Install(package);
  // An earlier run that was killed after the first file: the second one still is the original.
  ASSERT_TRUE(WriteWholeFile(App("QXPlayDll.so"), "play 1"));
  fs::remove(Back("QXPlayDll.so"));
  const InstallResult again = Install(package);
  EXPECT_EQ(again.installed, 2);
  EXPECT_EQ(ReadWholeFile(Back("QXDll.so")), "version 1");
  EXPECT_EQ(ReadWholeFile(Back("QXPlayDll.so")), "play 1");
  EXPECT_EQ(ReadWholeFile(App("QXDll.so")), "version 2");
  EXPECT_EQ(ReadWholeFile(App("QXPlayDll.so")), "play 2");
  // A later package with other content backs up what the program holds then.
  Install({test::FileEntry("QXDll.so", "version 3")});
  EXPECT_EQ(ReadWholeFile(Back("QXDll.so")), "version 2");
}

// A copy killed between its temporary file and the rename leaves ".name.XXXXXX" beside its target.
TEST_F(UpgradeInstallTest, LeftoversOfKilledCopiesAreRemovedAndNothingElse) {
  ASSERT_TRUE(WriteWholeFile(App("QXDll.so"), "old"));
  for (const fs::path& leftover :
       {App(".QXDll.so.a1B2c3"), Back(".QXDll.so.Zz9900"), App("skin/.a.png.qwerty")}) {
    ASSERT_TRUE(WriteWholeFile(leftover, "half written"));
  }
  for (const fs::path& kept : {App(".QXDll.so.short"), App(".QXDll.so.a1B2c3d"),
                               App(".QXDll.so.ab-def"), App(".other.so.a1B2c3")}) {
    ASSERT_TRUE(WriteWholeFile(kept, "someone else's"));
  }
  fs::create_directories(App(".QXDll.so.folder"));
  Install({test::FileEntry("QXDll.so", "new"), test::FileEntry("skin/a.png", "png")});
  EXPECT_EQ(ReadWholeFile(App("QXDll.so")), "new");
  EXPECT_EQ(ReadWholeFile(Back("QXDll.so")), "old");
  std::vector<std::string> hidden;
  for (const auto& [path, content] : Tree()) {
    if (fs::path(path).filename().string().rfind('.', 0) == 0) {
      hidden.push_back(path);
    }
  }
  EXPECT_EQ(hidden, (std::vector<std::string>{"bin/.QXDll.so.a1B2c3d", "bin/.QXDll.so.ab-def",
                                              "bin/.QXDll.so.folder", "bin/.QXDll.so.short",
                                              "bin/.other.so.a1B2c3"}));
}

TEST_F(UpgradeInstallTest, EntryWithBadCrcIsNotInstalledNorTakenFromAnEarlierRun) {
  ASSERT_TRUE(WriteWholeFile(App("QXPlayDll.so"), "current"));
  ASSERT_TRUE(WriteWholeFile(Temp("QXPlayDll.so"), "left by an earlier upgrade"));
  ZipEntrySpec bad = test::FileEntry("QXPlayDll.so", std::string(40000, 'p'));
  bad.crc = 1;
  const InstallResult result = Install({bad, test::FileEntry("good.txt", "good")});
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.installed, 1);
  EXPECT_EQ(ReadWholeFile(App("QXPlayDll.so")), "current");
  EXPECT_FALSE(fs::exists(Back("QXPlayDll.so")));
  EXPECT_FALSE(fs::exists(Temp("QXPlayDll.so")));
  EXPECT_EQ(ReadWholeFile(App("good.txt")), "good");
}

TEST_F(UpgradeInstallTest, ZipBombStopsAtTheLimitAndInstallsNothingOfIt) {
  InstallOptions options;
  options.extractLimit = 1 << 20;
  const InstallResult result =
      Install({test::FileEntry("bomb.bin", std::string(4 << 20, '\0'))}, options);
  EXPECT_EQ(result.failed, 1);
  EXPECT_FALSE(fs::exists(Temp("bomb.bin")));
  EXPECT_FALSE(fs::exists(App("bomb.bin")));
}

TEST_F(UpgradeInstallTest, HostileNamesNeverWriteOutsideTheProgramFolder) {
  const fs::path outside = dir_.Path() / "outside";
  fs::create_directories(outside);
  ASSERT_TRUE(WriteWholeFile(outside / "victim.dll", "precious"));
  fs::create_symlink(outside / "victim.dll", App("victim.dll"));
  fs::create_symlink(outside, App("plugins"));
  std::vector<ZipEntrySpec> package;
  for (const char* name :
       {"../evil1.dll", "..\\evil2.dll", "../../evil3.dll", "a/b/../evil4.dll", "/abs/evil5.dll",
        "C:\\x\\evil6.dll", "..", "a/..", "..\\..\\", "../FILE/evil7.dll", "victim.dll",
        "plugins/evil8.dll", "C:..\\evil9.dll"}) {
    package.push_back(test::FileEntry(name, "EVIL"));
  }
  package.push_back(test::SymlinkEntry("link.dll", "/etc/passwd"));
  package.push_back(test::FileEntry(std::string("nul.dll\0/../../../x", 19), "EVIL"));
  const InstallResult result = Install(package);
  EXPECT_EQ(result.entries, static_cast<int>(package.size()));

  EXPECT_EQ(ReadWholeFile(outside / "victim.dll"), "precious");
  EXPECT_EQ(fs::directory_iterator(outside) == fs::directory_iterator(), false);
  for (const auto& [path, content] : Tree()) {
    if (content == "EVIL") {
      EXPECT_EQ(path.rfind("bin/", 0), 0u) << path;
      EXPECT_EQ(path.find("outside"), std::string::npos) << path;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(dir_.Path() / "evil1.dll"));
  EXPECT_FALSE(fs::exists(folders_.appDir / "FILE" / "evil7.dll"));
  // Reduced names land where the reduction puts them, inside.
  EXPECT_EQ(ReadWholeFile(App("evil3.dll")), "EVIL");
  EXPECT_EQ(ReadWholeFile(App("evil4.dll")), "EVIL");
  EXPECT_EQ(ReadWholeFile(Temp("abs/evil5.dll")), "EVIL");
  EXPECT_EQ(ReadWholeFile(Temp("x/evil6.dll")), "EVIL");
  EXPECT_FALSE(fs::exists(App("link.dll")));
  EXPECT_FALSE(fs::exists(Temp("link.dll")));
}

TEST_F(UpgradeInstallTest, AnOriginalWhoseBackupFailsIsNotReplaced) {
  ASSERT_TRUE(WriteWholeFile(App("QXDll.so"), "original"));
  fs::create_directories(Back("QXDll.so"));  // the back-up cannot be written
  const InstallResult result = Install({test::FileEntry("QXDll.so", "new")});
  EXPECT_EQ(result.installed, 0);
  EXPECT_EQ(ReadWholeFile(App("QXDll.so")), "original");
}

TEST_F(UpgradeInstallTest, ReadOnlyProgramFilesAreSkippedSilently) {
  ASSERT_TRUE(WriteWholeFile(App("ro.dll"), "old"));
  fs::permissions(App("ro.dll"), fs::perms::owner_read);
  const InstallResult result =
      Install({test::FileEntry("ro.dll", "new"), test::FileEntry("rw.dll", "new")});
  EXPECT_EQ(result.installed, 1);
  EXPECT_EQ(ReadWholeFile(App("ro.dll")), "old");
  EXPECT_EQ(ReadWholeFile(Back("ro.dll")), "old");
  EXPECT_EQ(ReadWholeFile(App("rw.dll")), "new");
}

TEST_F(UpgradeInstallTest, ReportsEveryEntryAndCanStopEarly) {
  std::vector<std::u16string> seen;
  int pauses = 0;
  InstallOptions options;
  options.onEntry = [&](const ArchiveEntry& entry) { seen.emplace_back(entry.Name()); };
  options.afterEntry = [&] { ++pauses; };
  options.stopRequested = [&] { return seen.size() >= 2; };
  const InstallResult result = Install(
      {test::FileEntry("a", "1"), test::FolderEntry("d/"), test::FileEntry("b", "2")}, options);
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"a", u"d/"}));
  EXPECT_EQ(pauses, 2);
  EXPECT_EQ(result.entries, 2);
  EXPECT_FALSE(fs::exists(App("b")));
}

}  // namespace
}  // namespace rovik::launcher
