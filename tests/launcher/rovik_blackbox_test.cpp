// The Rovik program run from a temp program folder, as a user's machine would have it: single
// instance, starting the client, the upgrade with its marker, and the quit command to the
// alarm monitor.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/window_link.h"
#include "tests/fixtures/program_folder.h"
#include "tests/upgrade/zip_builder.h"

namespace {
namespace fs = std::filesystem;
using namespace rovik;
using namespace std::chrono_literals;
using fixtures::ReadWholeFile;
using fixtures::WriteWholeFile;

class RovikProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = folder_.ApplyToThisProcess();
    ASSERT_TRUE(folder_.Copy("Rovik"));
    ASSERT_TRUE(folder_.CopyFrom(fixtures::BuildDir() / "tests" / "launcher_test_client"));
    fs::rename(folder_.Program("launcher_test_client"), folder_.Program("RovikClient"));
    elsewhere_ = folder_.Root() / "elsewhere";
    fs::create_directories(elsewhere_);
  }

  // Runs the launcher with its current folder somewhere else than the program folder.
  fixtures::RunResult RunLauncher(std::chrono::milliseconds bound = 60s) {
    fixtures::ChildOptions options = folder_.Options();
    options.workingDir = elsewhere_;
    return fixtures::RunProgram(folder_.Program("Rovik"), {}, bound, options);
  }

  bool ClientStarted(std::chrono::milliseconds bound = 10s) const {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
      if (fs::exists(folder_.Path() / "client-started.txt")) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  static std::optional<platform::RegistryKey> Key() {
    return platform::RegistryKey::Create(platform::RegRoot::LocalMachine, "SOFTWARE\\MERVO\\ROVIK",
                                         platform::kKeyWrite);
  }
  static void SetMarker(uint32_t value, const std::string& file = "") {
    auto key = Key();
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteDword("UpgradePatch", value));
    if (!file.empty()) {
      ASSERT_TRUE(key->WriteString("UpgradeFile", file));
    }
  }
  static std::optional<uint32_t> Marker() { return Key()->ReadDword("UpgradePatch"); }

  fixtures::ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<fixtures::ScopedEnv>>> env_;
  fs::path elsewhere_;
};

TEST_F(RovikProgramTest, WithoutMarkerStartsTheClientFromItsOwnFolderAtOnce) {
  const auto result = RunLauncher(20s);
  ASSERT_TRUE(result.started);
  EXPECT_TRUE(result.status.Success()) << result.err;
  ASSERT_TRUE(ClientStarted());
  const std::string record = ReadWholeFile(folder_.Path() / "client-started.txt");
  EXPECT_NE(record.find("folder=" + folder_.Path().string() + "\n"), std::string::npos) << record;
  EXPECT_NE(record.find("cwd=" + elsewhere_.string() + "\n"), std::string::npos) << record;
  // No window was made: its folders were never created.
  EXPECT_FALSE(fs::exists(folder_.Path() / "FILE"));
}

TEST_F(RovikProgramTest, MarkerZeroIsNoUpgrade) {
  SetMarker(0, "patch.zip");
  ASSERT_TRUE(RunLauncher(20s).status.Success());
  EXPECT_TRUE(ClientStarted());
  EXPECT_FALSE(fs::exists(folder_.Path() / "FILE"));
}

TEST_F(RovikProgramTest, SecondLauncherEndsAtOnceAndStartsNothing) {
  SetMarker(1, "patch.zip");
  platform::NamedMutex first;
  ASSERT_EQ(first.Create("RovikClient"), platform::NamedMutex::Result::Acquired);
  const auto start = std::chrono::steady_clock::now();
  const auto result = RunLauncher(20s);
  EXPECT_TRUE(result.status.Success());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_FALSE(ClientStarted(1s));
  EXPECT_EQ(Marker(), 1u);
  EXPECT_FALSE(fs::exists(folder_.Path() / "FILE"));
  // Once the first one has gone, a launcher runs again.
  first.Release();
  SetMarker(0);
  EXPECT_TRUE(RunLauncher(20s).status.Success());
  EXPECT_TRUE(ClientStarted());
}

TEST_F(RovikProgramTest, MarkerSetInstallsWithBackupsClearsItAndStartsTheClient) {
  ASSERT_TRUE(folder_.WriteFile("QXDll.so", "old library"));
  fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(test::WriteZip(folder_.Path() / "FILE/Upgrade/patch.zip",
                             {test::FileEntry("QXDll.so", "new library"),
                              test::FileEntry("FILE/RovikInfo.txt", "http://127.0.0.1:1/"),
                              test::FileEntry("../../outside.txt", "inside after all")}));
  SetMarker(1, "patch.zip");
  const auto result = RunLauncher();
  ASSERT_FALSE(result.timedOut);
  EXPECT_TRUE(result.status.Success()) << result.err;
  EXPECT_EQ(Marker(), 0u);
  EXPECT_EQ(folder_.ReadFile("QXDll.so"), "new library");
  EXPECT_EQ(folder_.ReadFile("FILE/BackFile/QXDll.so"), "old library");
  EXPECT_EQ(folder_.ReadFile("FILE/RovikInfo.txt"), "http://127.0.0.1:1/");
  EXPECT_EQ(folder_.ReadFile("outside.txt"), "inside after all");
  EXPECT_FALSE(fs::exists(folder_.Root() / "outside.txt"));
  EXPECT_TRUE(ClientStarted());
}

TEST_F(RovikProgramTest, MarkerIsClearedEvenWhenThePackageIsMissing) {
  SetMarker(1, "missing.zip");
  const auto result = RunLauncher();
  EXPECT_TRUE(result.status.Success()) << result.err;
  EXPECT_EQ(Marker(), 0u);
  // The splash window ran: it made its folders.
  EXPECT_TRUE(fs::is_directory(folder_.Path() / "FILE" / "Temp"));
  EXPECT_TRUE(ClientStarted());
}

TEST_F(RovikProgramTest, RunningAlarmMonitorReceivesExactlyTheQuitCommand) {
  ASSERT_TRUE(folder_.Copy("rovik-send"));
  fixtures::ChildProcess monitor;
  ASSERT_TRUE(folder_.Start(monitor, "rovik-send", {"--listen", "ROVIKALARM"}));
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!platform::FindWindowByTitle("ROVIKALARM") && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(platform::FindWindowByTitle("ROVIKALARM"));
  SetMarker(1, "missing.zip");
  EXPECT_TRUE(RunLauncher().status.Success());
  const auto lines = monitor.WaitForLines(1, 5s);
  ASSERT_EQ(lines.size(), 1u) << monitor.Stdout();
  EXPECT_EQ(lines[0], "dwData=0 cbData=2 data=0~");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(monitor.WaitForLines(2, 0ms).size(), 1u);
  EXPECT_TRUE(ClientStarted());
}

}  // namespace
