// The Rovik program run from a temp program folder, as a user's machine would have it: single
// instance, starting the client, the upgrade with its marker, the quit command to the alarm
// monitor, a launcher killed mid-upgrade, permissions, no screen, a read-only program folder, and
// a client that outlives the launcher's output pipe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/window_link.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/zip_builder.h"

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
    return ClientStartedIn(folder_.Path(), bound);
  }
  static bool ClientStartedIn(const fs::path& folder, std::chrono::milliseconds bound = 10s) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
      if (fs::exists(folder / "client-started.txt")) {
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

  // The folder's environment with every way to a display taken away, or DISPLAY set to display.
  std::vector<std::string> EnvironmentWithDisplay(const std::string& display) const {
    std::vector<std::string> env;
    for (const std::string& item : folder_.Environment()) {
      if (item.rfind("DISPLAY=", 0) != 0 && item.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
          item.rfind("QT_QPA_PLATFORM=", 0) != 0) {
        env.push_back(item);
      }
    }
    if (!display.empty()) {
      env.push_back("DISPLAY=" + display);
    }
    return env;
  }

  // Every file and folder below the program folder with its content and mode.
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(folder_.Path())) {
      const auto mode = static_cast<unsigned>(fs::symlink_status(item.path()).permissions());
      tree[fs::relative(item.path(), folder_.Path()).string()] =
          std::to_string(mode) + " " +
          (item.is_regular_file() ? ReadWholeFile(item.path()) : "<dir>");
    }
    return tree;
  }

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

// A launcher killed just after it replaced the first file: the next launch finishes the upgrade
// and the back-up folder holds every original.
TEST_F(RovikProgramTest, KilledMidUpgradeTheNextLaunchFinishesItAndKeepsEveryOriginal) {
  constexpr int kFiles = 40;
  auto name = [](int i) { return "f" + std::to_string(100 + i).substr(1) + ".dat"; };
  std::vector<test::ZipEntrySpec> package;
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(folder_.WriteFile(name(i), "old " + std::to_string(i)));
    package.push_back(test::FileEntry(name(i), "new " + std::to_string(i)));
  }
  fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(test::WriteZip(folder_.Path() / "FILE/Upgrade/patch.zip", package));
  SetMarker(1, "patch.zip");

  fixtures::ChildProcess launcher;
  ASSERT_TRUE(folder_.Start(launcher, "Rovik"));
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (folder_.ReadFile(name(0)) != "new 0" && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(2ms);
  }
  launcher.Kill();
  ASSERT_EQ(folder_.ReadFile(name(0)), "new 0") << launcher.Stderr();
  ASSERT_NE(folder_.ReadFile(name(kFiles - 1)), "new 39")
      << "the launcher was not killed mid-upgrade";
  EXPECT_EQ(Marker(), 1u);
  EXPECT_FALSE(ClientStarted(0ms));
  // What a kill between a copy's temporary file and its rename leaves behind.
  ASSERT_TRUE(folder_.WriteFile("." + name(1) + ".k1LL3d", "half"));
  ASSERT_TRUE(folder_.WriteFile("FILE/BackFile/." + name(2) + ".k1LL3d", "half"));

  const auto again = RunLauncher();
  ASSERT_FALSE(again.timedOut);
  EXPECT_TRUE(again.status.Success()) << again.err;
  EXPECT_EQ(Marker(), 0u);
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(folder_.ReadFile(name(i)), "new " + std::to_string(i));
    EXPECT_EQ(folder_.ReadFile("FILE/BackFile/" + name(i)), "old " + std::to_string(i));
  }
  for (const auto& item : fs::recursive_directory_iterator(folder_.Path())) {
    EXPECT_NE(item.path().filename().string()[0], '.') << item.path();
  }
  EXPECT_TRUE(ClientStarted());
}

// A package built with a private umask over a shared install, with files in subfolders.
TEST_F(RovikProgramTest, UpgradeKeepsModesAndInstallsAndBacksUpSubfolders) {
  ASSERT_TRUE(folder_.WriteFile("libQXDll.so", "old library"));
  ASSERT_TRUE(folder_.WriteFile("RovikAlarm", "old program"));
  ASSERT_TRUE(folder_.WriteFile("skin/a.png", "old a"));
  fs::permissions(folder_.Program("libQXDll.so"), fs::perms(0644));
  fs::permissions(folder_.Program("RovikAlarm"), fs::perms(0755));
  auto privateEntry = [](const std::string& entry, uint32_t mode) {
    test::ZipEntrySpec spec = test::FileEntry(entry, "new " + entry);
    spec.externalAttributes = (0100000u | mode) << 16;
    return spec;
  };
  fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(test::WriteZip(folder_.Path() / "FILE/Upgrade/patch.zip",
                             {privateEntry("libQXDll.so", 0600), privateEntry("RovikAlarm", 0700),
                              privateEntry("notes.txt", 0600), privateEntry("skin/a.png", 0600),
                              privateEntry("plugins/video/tool", 0700)}));
  SetMarker(1, "patch.zip");
  const auto result = RunLauncher();
  EXPECT_TRUE(result.status.Success()) << result.err;
  auto mode = [&](const std::string& rel) {
    return static_cast<unsigned>(fs::status(folder_.Path() / rel).permissions() & fs::perms::mask);
  };
  for (const char* rel :
       {"libQXDll.so", "RovikAlarm", "notes.txt", "skin/a.png", "plugins/video/tool"}) {
    EXPECT_EQ(folder_.ReadFile(rel), std::string("new ") + rel);
  }
  EXPECT_EQ(mode("libQXDll.so"), 0644u);
  EXPECT_EQ(mode("RovikAlarm"), 0755u);
  EXPECT_EQ(mode("notes.txt"), 0644u);
  EXPECT_EQ(mode("skin/a.png"), 0644u);
  EXPECT_EQ(mode("plugins/video/tool"), 0755u);
  EXPECT_EQ(folder_.ReadFile("FILE/BackFile/skin/a.png"), "old a");
  EXPECT_EQ(folder_.ReadFile("FILE/BackFile/RovikAlarm"), "old program");
  EXPECT_FALSE(fs::exists(folder_.Path() / "FILE/BackFile/plugins"));
  EXPECT_TRUE(ClientStarted());
}

// No screen at all, then a display that cannot be reached: the launcher never aborts, installs the
// upgrade with its progress on standard error, clears the marker and starts the client each time.
TEST_F(RovikProgramTest, WithoutAScreenTheUpgradeIsInstalledAndTheClientStartedEveryTime) {
  ASSERT_TRUE(folder_.WriteFile("QXDll.so", "version 1"));
  fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(test::WriteZip(folder_.Path() / "FILE/Upgrade/one.zip",
                             {test::FileEntry("QXDll.so", "version 2")}));
  ASSERT_TRUE(test::WriteZip(folder_.Path() / "FILE/Upgrade/two.zip",
                             {test::FileEntry("QXDll.so", "version 3")}));
  int run = 0;
  for (const std::string& display : {std::string(), std::string(":4093")}) {
    SCOPED_TRACE("DISPLAY=" + display);
    ++run;
    fs::remove(folder_.Path() / "client-started.txt");
    SetMarker(1, run == 1 ? "one.zip" : "two.zip");
    fixtures::ChildOptions options = folder_.Options();
    options.env = EnvironmentWithDisplay(display);
    const auto result = fixtures::RunProgram(folder_.Program("Rovik"), {}, 60s, options);
    ASSERT_FALSE(result.timedOut);
    EXPECT_TRUE(result.status.Success()) << result.err;
    EXPECT_NE(result.err.find("no display"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("正在更新文件：QXDll.so"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("[100%] 更新完成"), std::string::npos) << result.err;
    EXPECT_EQ(Marker(), 0u);
    EXPECT_EQ(folder_.ReadFile("QXDll.so"), run == 1 ? "version 2" : "version 3");
    EXPECT_TRUE(ClientStarted());
  }
  EXPECT_EQ(folder_.ReadFile("FILE/BackFile/QXDll.so"), "version 2");
}

// No video client beside the launcher: with or without a screen, a line on standard error names
// it and the launcher ends with status 1 (a screen of its own, the offscreen one, shows no box
// that would wait for a click), after it has still installed the upgrade.
TEST_F(RovikProgramTest, WithoutAClientItSaysSoAndEndsWithStatusOne) {
  fs::remove(folder_.Program("RovikClient"));
  for (const bool offscreen : {false, true}) {
    SCOPED_TRACE(offscreen ? "offscreen" : "no display");
    SetMarker(1, "missing.zip");
    fixtures::ChildOptions options = folder_.Options();
    options.env = EnvironmentWithDisplay("");
    if (offscreen) options.env->push_back("QT_QPA_PLATFORM=offscreen");
    const auto result = fixtures::RunProgram(folder_.Program("Rovik"), {}, 60s, options);
    ASSERT_FALSE(result.timedOut);
    EXPECT_TRUE(result.status.exited && result.status.code == 1) << result.err;
    EXPECT_NE(result.err.find("Rovik: the video client cannot be started (is it installed?): " +
                              folder_.Program("RovikClient").string()),
              std::string::npos)
        << result.err;
    EXPECT_EQ(Marker(), 0u);
  }
}

// A system-wide install: the user running the launcher cannot write the program folder.
TEST_F(RovikProgramTest, ReadOnlyProgramFolderIsLeftAsItIsWithTheMarkerKept) {
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  if (root && !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "running as root without setpriv: no user to run the launcher as";
  }
  ASSERT_TRUE(folder_.WriteFile("QXDll.so", "installed by the package manager"));
  fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(
      test::WriteZip(folder_.Path() / "FILE/Upgrade/patch.zip",
                     {test::FileEntry("QXDll.so", "new"), test::FileEntry("extra.txt", "x")}));
  SetMarker(1, "patch.zip");
  const fs::path record = folder_.Root() / "record";
  fs::create_directories(record);
  fixtures::ChildOptions options = folder_.Options();
  options.env->push_back("ROVIK_TEST_CLIENT_RECORD=" + record.string());
  fs::path program = folder_.Program("Rovik");
  std::vector<std::string> args;
  if (root) {
    // Root may write anywhere: the launcher runs as nobody, who may use its run-time folder, read
    // the registry and leave the client's record.
    fs::permissions(folder_.Root(), fs::perms(0755));
    fs::permissions(record, fs::perms(0777));
    ASSERT_EQ(::chown(folder_.RunDir().c_str(), kNobody, kNobody), 0);
    // The registry is nobody's own: settings of another user are not believed.
    for (const auto& item : fs::recursive_directory_iterator(folder_.RegistryRoot())) {
      ASSERT_EQ(::chown(item.path().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chown(folder_.RegistryRoot().c_str(), kNobody, kNobody), 0);
    args = {"--reuid=65534", "--regid=65534", "--clear-groups", "--", program.string()};
    program = "/usr/bin/setpriv";
  }
  // Every folder of the install read-only, as a package manager leaves it for other users; made
  // writable again at the end, however the test ends, so that the folder can be removed.
  std::vector<fs::path> folders = {folder_.Path()};
  for (const auto& item : fs::recursive_directory_iterator(folder_.Path())) {
    if (item.is_directory()) folders.push_back(item.path());
  }
  struct Restore {
    std::vector<fs::path>& folders;
    ~Restore() {
      for (const fs::path& f : folders) fs::permissions(f, fs::perms(0755));
    }
  } restore{folders};
  for (const fs::path& f : folders) fs::permissions(f, fs::perms(0555));
  const auto before = Tree();

  const auto result = fixtures::RunProgram(program, args, 60s, options);
  if (root) {
    for (const auto& item : fs::recursive_directory_iterator(folder_.RegistryRoot())) {
      ASSERT_EQ(::chown(item.path().c_str(), 0, 0), 0);
    }
  }
  ASSERT_FALSE(result.timedOut);
  EXPECT_TRUE(result.status.Success()) << result.err;
  EXPECT_NE(result.err.find("cannot be written"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("stays pending"), std::string::npos) << result.err;
  EXPECT_EQ(Tree(), before);
  EXPECT_EQ(Marker(), 1u);
  EXPECT_TRUE(ClientStartedIn(record));
}

// The pid of the process running program, 0 when there is none.
pid_t ProcessRunning(const fs::path& program) {
  for (const auto& item : fs::directory_iterator("/proc")) {
    std::error_code ec;
    if (fs::read_symlink(item.path() / "exe", ec) == program) {
      return static_cast<pid_t>(std::atoi(item.path().filename().c_str()));
    }
  }
  return 0;
}

// A harness, desktop session or service manager closes the launcher's output pipe once the
// launcher has ended; the client it started writes on and must live on.
TEST_F(RovikProgramTest, ClientOutlivesTheLaunchersClosedOutputPipe) {
  if (!std::getenv("DISPLAY")) {
    GTEST_SKIP() << "the video client needs a display";
  }
  fs::remove(folder_.Program("RovikClient"));
  ASSERT_TRUE(folder_.Copy("RovikClient"));
  ASSERT_TRUE(folder_.CopySharedLibraries());
  fixtures::ChildProcess launcher;
  ASSERT_TRUE(folder_.Start(launcher, "Rovik"));
  const auto ended = launcher.Wait(20s);  // reaped: its output pipes are closed now
  ASSERT_TRUE(ended);
  EXPECT_TRUE(ended->Success()) << launcher.Stderr();

  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!platform::FindWindowByTitle("RovikClient") && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(platform::FindWindowByTitle("RovikClient"));
  const pid_t client = ProcessRunning(folder_.Program("RovikClient"));
  ASSERT_GT(client, 0);
  // The monitor's greeting makes the client write lines of its own.
  int64_t answer = 0;
  EXPECT_TRUE(platform::SendCopyDataEx("RovikClient", 0, 0, "1~0", 3, &answer));
  std::this_thread::sleep_for(5s);
  EXPECT_TRUE(platform::SendCopyDataEx("RovikClient", 0, 0, "1~0", 3, &answer))
      << "the client died after the launcher's pipe was closed";
  EXPECT_EQ(ProcessRunning(folder_.Program("RovikClient")), client);
  ::kill(client, SIGTERM);
  const auto gone = std::chrono::steady_clock::now() + 10s;
  while (ProcessRunning(folder_.Program("RovikClient")) &&
         std::chrono::steady_clock::now() < gone) {
    std::this_thread::sleep_for(50ms);
  }
  if (const pid_t left = ProcessRunning(folder_.Program("RovikClient"))) ::kill(left, SIGKILL);
}

}  // namespace
