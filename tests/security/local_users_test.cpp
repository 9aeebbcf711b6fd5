// Other local users cannot keep the monitor from running, plant settings or upgrades, break the
// autostart entry or forge alarm lines; a run-time folder the programs cannot use is an error
// they report.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "alarm/record/alarm_record.h"
#include "alarm/record/utf_text.h"
#include "platform/registry.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/recording_window.h"
#include "tests/fixtures/zip_builder.h"

using namespace rovik::alarm;

namespace {

namespace fs = std::filesystem;
namespace fx = rovik::fixtures;
using namespace std::chrono_literals;

constexpr gid_t kNogroup = 65534;

// The launcher and a client that records its start in the program folder.
void PrepareLauncherFolder(fx::ProgramFolder& folder) {
  ASSERT_TRUE(folder.Copy("Rovik"));
  ASSERT_TRUE(folder.CopyFrom(fx::BuildDir() / "tests" / "launcher_test_client"));
  fs::rename(folder.Program("launcher_test_client"), folder.Program("RovikClient"));
  fs::create_directories(folder.Path() / "FILE" / "Upgrade");
}

// A package that would replace the client with something else.
fs::path PlantPackage(const fs::path& file) {
  fs::create_directories(file.parent_path());
  EXPECT_TRUE(rovik::test::WriteZip(file, {rovik::test::FileEntry("RovikClient", "planted")}));
  return file;
}

std::string UpgradeKey(const std::string& file) {
  return "\"UpgradePatch\"=dword:00000001\n\"UpgradeFile\"=\"" + file + "\"\n";
}

// The launcher ran, installed nothing and started the client.
void ExpectNothingInstalledAndClientStarted(const fx::ProgramFolder& folder,
                                            const fx::RunResult& run) {
  EXPECT_FALSE(run.timedOut);
  EXPECT_TRUE(run.status.Success()) << run.err;
  EXPECT_NE(folder.ReadFile("RovikClient"), "planted");
  EXPECT_TRUE(fx::WaitUntil([&] { return fs::exists(folder.Path() / "client-started.txt"); }, 10s))
      << run.err;
  fs::remove(folder.Path() / "client-started.txt");
}

TEST(LocalUsers, UpgradeFileNamingAnythingButAFileOfTheUpgradeFolderIsRefused) {
  fx::ProgramFolder folder;
  PrepareLauncherFolder(folder);
  PlantPackage(folder.Root() / "evil" / "pkg.zip");
  ASSERT_TRUE(
      fx::WriteWholeFile(folder.RegistryRoot() / "HKEY_LOCAL_MACHINE/SOFTWARE/MERVO/ROVIK.reg",
                         UpgradeKey("..\\\\..\\\\..\\\\evil\\\\pkg.zip")));
  const auto run = fx::RunProgram(folder.Program("Rovik"), {}, 60s, folder.Options());
  ExpectNothingInstalledAndClientStarted(folder, run);
  EXPECT_NE(run.err.find("not a file of FILE/Upgrade"), std::string::npos) << run.err;
  const auto env = folder.ApplyToThisProcess();
  const auto key = rovik::platform::RegistryKey::Open(
      rovik::platform::RegRoot::LocalMachine, "SOFTWARE\\MERVO\\ROVIK", rovik::platform::kKeyRead);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadDword("UpgradePatch"), 0u);
}

// A user made for the test, removed again with the object.
class TestUser {
 public:
  TestUser(const std::string& name, const fs::path& home) : name_(name) {
    ok_ = fx::RunProgram("/usr/sbin/useradd",
                         {"-M", "-N", "-g", std::to_string(kNogroup), "-d", home.string(), "-s",
                          "/usr/sbin/nologin", name},
                         30s)
              .status.Success();
    const passwd* entry = ok_ ? ::getpwnam(name.c_str()) : nullptr;
    uid_ = entry ? entry->pw_uid : 0;
    ok_ = ok_ && uid_ != 0;
  }
  ~TestUser() {
    if (ok_) fx::RunProgram("/usr/sbin/userdel", {name_}, 30s);
  }
  bool Ok() const { return ok_; }
  uid_t Uid() const { return uid_; }
  // Gives `path` (and what is below it) to this user.
  void Own(const fs::path& path) const {
    ASSERT_EQ(::lchown(path.c_str(), uid_, kNogroup), 0) << path;
    if (!fs::is_directory(path) || fs::is_symlink(path)) return;
    for (const auto& item : fs::recursive_directory_iterator(path)) {
      ASSERT_EQ(::lchown(item.path().c_str(), uid_, kNogroup), 0) << item.path();
    }
  }
  // Runs `program` as this user with `env`.
  fx::RunResult Run(const fs::path& program, std::chrono::milliseconds bound,
                    const fx::ChildOptions& options) const {
    return fx::RunProgram("/usr/bin/setpriv", SetprivArgs(program), bound, options);
  }
  bool Start(fx::ChildProcess& child, const fs::path& program,
             const fx::ChildOptions& options) const {
    return child.Start("/usr/bin/setpriv", SetprivArgs(program), options);
  }

 private:
  std::vector<std::string> SetprivArgs(const fs::path& program) const {
    return {"--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(kNogroup),
            "--clear-groups", "--", program.string()};
  }
  std::string name_;
  bool ok_ = false;
  uid_t uid_ = 0;
};

// Removes a path planted outside the test's folders, however the test ends.
struct Planted {
  fs::path path;
  ~Planted() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

TEST(LocalUsers, AnotherUsersFoldersInTmpChangeNothingForTheFirst) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create the second user";
  for (const char* tool : {"/usr/sbin/useradd", "/usr/sbin/userdel", "/usr/bin/setpriv"}) {
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is missing";
  }
  fx::ProgramFolder folder;
  const fs::path home = folder.Root() / "home";
  fs::create_directories(home);
  const std::string tag = std::to_string(::getpid());
  const TestUser user("rovikuser" + tag, home);
  const TestUser other("rovikother" + tag, folder.Root() / "nohome");
  ASSERT_TRUE(user.Ok() && other.Ok()) << "useradd failed";
  PrepareLauncherFolder(folder);
  ASSERT_TRUE(folder.Copy("RovikAlarm"));
  ASSERT_TRUE(folder.CopySharedLibraries());
  fs::permissions(folder.Root(), fs::perms(0755));
  user.Own(folder.Path());
  user.Own(home);

  // The other user took the names the programs used to fall back to, and planted a registry
  // with an upgrade pointing at a package of theirs.
  const std::string uid = std::to_string(user.Uid());
  const Planted run{"/tmp/rovik-" + uid};
  const Planted config{"/tmp/rovik-config-" + uid};
  const Planted evil{"/tmp/rovik-evil-" + tag};
  const Planted qtRuntime{"/tmp/runtime-rovikuser" + tag};
  fs::create_directories(run.path);
  fs::permissions(run.path, fs::perms(0700));
  std::string outside;  // from FILE/Upgrade up to the root, then down to the package
  for (int i = 0; i < 30; ++i) outside += "..\\\\";
  ASSERT_TRUE(
      fx::WriteWholeFile(config.path / "rovik/registry/HKEY_LOCAL_MACHINE/SOFTWARE/MERVO/ROVIK.reg",
                         UpgradeKey(outside + "tmp\\\\rovik-evil-" + tag + "\\\\pkg.zip")));
  PlantPackage(evil.path / "pkg.zip");
  for (const fs::path& p : {run.path, config.path, evil.path}) other.Own(p);

  // The user's session as su, ssh or cron leave it: no HOME, no XDG folders but a run-time
  // folder that is the other user's (su without "-").
  fx::ChildOptions options;
  options.env = fx::CurrentEnvironment();
  for (const char* name :
       {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "ROVIK_RUNTIME_DIR", "ROVIK_REGISTRY_ROOT"}) {
    options.env = fx::WithVariable(*options.env, name, std::nullopt);
  }
  options.env = fx::WithVariable(*options.env, "XDG_RUNTIME_DIR", run.path.string());
  options.workingDir = folder.Path();

  // The monitor runs, with its objects below the home the password database names.
  fx::ChildProcess monitor;
  ASSERT_TRUE(user.Start(monitor, folder.Program("RovikAlarm"), options));
  EXPECT_TRUE(fx::WaitUntil(
      [&] { return fs::exists(home / ".local/state/rovik/run/windows/ROVIKALARM"); }, 30s))
      << monitor.Stderr();
  EXPECT_TRUE(monitor.Running()) << monitor.Stderr();
  EXPECT_NE(
      monitor.Stderr().find("XDG_RUNTIME_DIR " + run.path.string() + " is not this user's own"),
      std::string::npos)
      << monitor.Stderr();
  monitor.Kill();
  options.env = fx::WithVariable(*options.env, "XDG_RUNTIME_DIR", std::nullopt);

  // The launcher finds no upgrade: the planted registry is not the user's.
  ExpectNothingInstalledAndClientStarted(folder, user.Run(folder.Program("Rovik"), 60s, options));

  // Nor is a key file of the other user's inside the user's own registry.
  const fs::path key = home / ".config/rovik/registry/HKEY_LOCAL_MACHINE/SOFTWARE/MERVO/ROVIK.reg";
  ASSERT_TRUE(fx::WriteWholeFile(key, UpgradeKey("pkg.zip")));
  PlantPackage(folder.Path() / "FILE/Upgrade/pkg.zip");
  user.Own(home);
  user.Own(folder.Path());
  other.Own(key);
  const auto refused = user.Run(folder.Program("Rovik"), 60s, options);
  ExpectNothingInstalledAndClientStarted(folder, refused);
  EXPECT_NE(refused.err.find("registry key refused"), std::string::npos) << refused.err;
}

TEST(LocalUsers, ARunTimeFolderThatCannotBeUsedIsAnErrorOnStandardError) {
  fx::ProgramFolder folder;
  ASSERT_TRUE(folder.Copy("RovikAlarm"));
  ASSERT_TRUE(folder.CopySharedLibraries());
  const bool client = folder.Copy("RovikClient");
  ASSERT_EQ(::chmod(folder.RunDir().c_str(), 0777), 0);
  for (const char* program : {"RovikAlarm", "RovikClient"}) {
    if (std::string(program) == "RovikClient" && !client) continue;
    const auto run = fx::RunProgram(folder.Program(program), {}, 30s, folder.Options());
    EXPECT_TRUE(run.status.exited && run.status.code != 0) << program;
    EXPECT_NE(run.err.find("cannot make its single-instance lock"), std::string::npos)
        << program << ": " << run.err;
  }
}

TEST(LocalUsers, AutostartEntryIsValidForAnyProgramFolder) {
  if (!fs::exists("/usr/bin/desktop-file-validate"))
    GTEST_SKIP() << "desktop-file-utils is not installed";
  fx::ProgramFolder folder;
  const auto env = folder.ApplyToThisProcess();
  const std::string program =
      (folder.Root() / "Rovik 100% \"sicher\" Überwachung $HOME `id` a\\b" / "RovikAlarm").string();
  auto run = rovik::platform::RegistryKey::Open(
      rovik::platform::RegRoot::LocalMachine, rovik::platform::kRunKey, rovik::platform::kKeyWrite);
  ASSERT_TRUE(run);
  ASSERT_TRUE(run->WriteString("ROVIKALARM", "\"" + program + "\" -s"));
  const fs::path entry = folder.ConfigHome() / "autostart" / "ROVIKALARM.desktop";
  const auto check = fx::RunProgram("/usr/bin/desktop-file-validate", {entry.string()}, 30s);
  EXPECT_TRUE(check.status.Success() && check.out.empty()) << check.out << check.err;
  const std::string text = fx::ReadWholeFile(entry);
  const std::string folderPart = folder.Root().string();
  EXPECT_NE(text.find("\nExec=\"" + folderPart +
                      "/Rovik 100%% \\\\\"sicher\\\\\" Überwachung \\\\$HOME \\\\`id\\\\` "
                      "a\\\\\\\\b/RovikAlarm\" -s\n"),
            std::string::npos)
      << text;
}

TEST(LocalUsers, AHostileDeviceNameIsListedWithoutForgedLines) {
  AlarmRecord record;
  ClearRecord(record);
  record.id = 7;
  rovik::alarm::CopyField(record.account, "13800000000");
  rovik::alarm::CopyField(record.deviceName,
                          "door|2015-03-01 08:00:00~有报警~x~cam~user~~13800000000~A1~1~未读|");
  AlarmList list;
  list.push_back(std::make_unique<AlarmRecord>(record));
  std::vector<char16_t> block(kAlarmListBlockSize / 2, 0);
  ASSERT_EQ(WriteAlarmList(list, block.data(), kAlarmListBlockSize), 1u);
  const std::u16string text(block.data());
  ASSERT_EQ(std::count(text.begin(), text.end(), u'|'), 1) << rovik::alarm::Utf16ToUtf8(text);
  EXPECT_EQ(std::count(text.begin(), text.end(), u'~'), 9);
  EXPECT_NE(text.find(u"~7~未读|"), std::u16string::npos);
}

}  // namespace
