// The installed tree as a user, a developer and the Debian package meet it: what lies where, the
// commands, the desktop entries, a C program built against it with pkg-config alone.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"
#include "tests/install/installed_tree.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace installtest;
using rovik::fixtures::ReadWholeFile;
using rovik::fixtures::RunProgram;

namespace {

// The peer-to-peer library the session library was built with comes with it, so that an installed
// libQXDll.so loads and links.
const std::set<std::string> kSuiteFolder = {"Rovik",           "RovikAlarm",  "rovik-send",
                                            "libQXPlayDll.so", "libQXDll.so", "libP2PAPI.so"};
const std::set<std::string> kStandIns = {"RovikClient", "camsim", "pushsim"};

// A program of the tree run as the package's user runs it. A sanitizer build's libraries need
// their run-time loaded first, which a plain C program does not do.
rovik::fixtures::ChildOptions PlainRun() {
  rovik::fixtures::ChildOptions options;
  auto env = rovik::fixtures::CurrentEnvironment();
  env = rovik::fixtures::WithVariable(env, "LD_LIBRARY_PATH", std::nullopt);
  env =
      rovik::fixtures::WithVariable(env, "ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
  options.env = env;
  options.workingDir = "/";
  return options;
}

// Width and height of a PNG file from its header; {0, 0} when it is none.
std::pair<int, int> PngSize(const fs::path& file) {
  const std::string bytes = ReadWholeFile(file);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto be32 = [&](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) |
           (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  return {be32(16), be32(20)};
}

class SuiteTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tree_ = InstalledTree::SuiteTree().release(); }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(tree_->Error(), ""); }
  static InstalledTree* tree_;
};
InstalledTree* SuiteTree::tree_ = nullptr;

TEST_F(SuiteTree, ProgramFolderHoldsTheSuiteAloneWithOriginRunPaths) {
  // No stand-in, test program, clip or build file among what a user installs.
  EXPECT_EQ(Entries(tree_->ProgramFolder()), kSuiteFolder);
  for (const auto& name : kSuiteFolder) {
    const fs::path file = tree_->ProgramFolder() / name;
    // Found beside each other wherever the folder is, never in the build tree.
    EXPECT_EQ(RunPath(file), "$ORIGIN") << name;
    // Programs run for everyone; libraries are read, as Debian installs them, without the
    // execute bit.
    const bool library = name.rfind("lib", 0) == 0;
    EXPECT_EQ(fs::status(file).permissions() & (fs::perms::others_read | fs::perms::others_exec),
              library ? fs::perms::others_read : fs::perms::others_read | fs::perms::others_exec)
        << name;
  }
}

TEST_F(SuiteTree, CommandsAreRelativeLinksThatRunFromTheProgramFolder) {
  const std::pair<const char*, const char*> commands[] = {
      {"rovik", "Rovik"}, {"rovik-alarm", "RovikAlarm"}, {"rovik-send", "rovik-send"}};
  EXPECT_EQ(Entries(tree_->Prefix() / "bin"),
            (std::set<std::string>{"rovik", "rovik-alarm", "rovik-send"}));
  for (const auto& [command, program] : commands) {
    const fs::path link = tree_->Prefix() / "bin" / command;
    ASSERT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_EQ(fs::read_symlink(link), fs::path("../lib/rovik") / program);
    EXPECT_TRUE(fs::equivalent(link, tree_->ProgramFolder() / program));
    // Through the link the program still finds its libraries and answers.
    auto r = RunProgram(link, {"--version"}, 5s, PlainRun());
    EXPECT_TRUE(r.status.Success()) << command << ": " << r.err;
    EXPECT_EQ(r.out, std::string(program) + " " + ExpectedVersion() + "\n");
  }
}

TEST_F(SuiteTree, HeadersPkgConfigDesktopEntriesManualPagesAndIcons) {
  const fs::path include = tree_->Prefix() / "include" / "rovik";
  EXPECT_EQ(Entries(include), (std::set<std::string>{"qx_api.h", "qx_play_api.h"}));
  EXPECT_EQ(ReadWholeFile(include / "qx_play_api.h"),
            ReadWholeFile(rovik::fixtures::SourceDir() / "player" / "api" / "qx_play_api.h"));
  EXPECT_EQ(ReadWholeFile(include / "qx_api.h"),
            ReadWholeFile(rovik::fixtures::SourceDir() / "camsession" / "qx_api.h"));

  const fs::path pc = tree_->Prefix() / "lib" / "pkgconfig";
  EXPECT_EQ(Entries(pc), (std::set<std::string>{"rovik-qx.pc", "rovik-qxplay.pc"}));
  auto env = rovik::fixtures::WithVariable(rovik::fixtures::CurrentEnvironment(), "PKG_CONFIG_PATH",
                                           pc.string());
  rovik::fixtures::ChildOptions options;
  options.env = env;
  auto version =
      RunProgram("/usr/bin/pkg-config", {"--modversion", "rovik-qx", "rovik-qxplay"}, 10s, options);
  EXPECT_EQ(version.out, ExpectedVersion() + "\n" + ExpectedVersion() + "\n") << version.err;

  const fs::path apps = tree_->Prefix() / "share" / "applications";
  const std::pair<const char*, const char*> entries[] = {{"rovik.desktop", "rovik"},
                                                         {"rovik-alarm.desktop", "rovik-alarm"}};
  for (const auto& [entry, command] : entries) {
    const std::string text = ReadWholeFile(apps / entry);
    // The command under the prefix the tree was installed for, not the build's.
    EXPECT_NE(text.find("\nExec=" + (tree_->InstalledAs() / "bin" / command).string() + "\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nIcon=rovik\n"), std::string::npos) << text;
    if (fs::exists("/usr/bin/desktop-file-validate")) {
      auto valid = RunProgram("/usr/bin/desktop-file-validate", {(apps / entry).string()}, 10s);
      EXPECT_TRUE(valid.status.Success() && valid.out.empty()) << valid.out << valid.err;
    }
  }
  EXPECT_EQ(Entries(tree_->Prefix() / "share" / "man" / "man1"),
            (std::set<std::string>{"rovik.1.gz", "rovik-alarm.1.gz", "rovik-send.1.gz"}));
  for (int size : {48, 256}) {
    const fs::path icon = tree_->Prefix() / "share" / "icons" / "hicolor" /
                          (std::to_string(size) + "x" + std::to_string(size)) / "apps" /
                          "rovik.png";
    EXPECT_EQ(PngSize(icon), std::make_pair(size, size)) << icon;
  }
}

// A client of each library, built with its pkg-config file alone; the session library's client
// links and loads only because the libraries it stands on are in the tree beside it.
TEST_F(SuiteTree, CProgramsBuiltWithPkgConfigAloneRunAgainstEachLibrary) {
  const struct {
    const char* source;
    const char* module;
    const char* says;
  } clients[] = {{"play_client.c", "rovik-qxplay", "player ok\n"},
                 {"session_client.c", "rovik-qx", "session ok\n"}};
  for (const auto& client : clients) {
    SCOPED_TRACE(client.module);
    rovik::fixtures::TempDir out("rovik-pc-");
    std::string error;
    auto program = BuildWithPkgConfig(
        *tree_, rovik::fixtures::SourceDir() / "tests" / "install" / client.source, client.module,
        out.Path(), &error);
    ASSERT_TRUE(program) << error;
    // Run from elsewhere with no library path: the flags carried where the library is.
    auto r = RunProgram(*program, {}, 20s, PlainRun());
    EXPECT_TRUE(r.status.Success()) << r.err;
    EXPECT_EQ(r.out, client.says);
  }
}

TEST(FullTree, StandInsGoBesideTheSuite) {
  if (InstalledTree::Given()) GTEST_SKIP() << "a given tree holds the suite alone";
  auto tree = InstalledTree::FullTree();
  ASSERT_EQ(tree->Error(), "");
  std::set<std::string> expected = kSuiteFolder;
  expected.insert(kStandIns.begin(), kStandIns.end());
  EXPECT_EQ(Entries(tree->ProgramFolder()), expected);
  for (const auto& name : kStandIns)
    EXPECT_EQ(RunPath(tree->ProgramFolder() / name), "$ORIGIN") << name;
}

}  // namespace
