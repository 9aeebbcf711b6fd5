// Every program of the suite and every stand-in answers --help and --version without starting
// anything, and ends on an option it does not know with one line and exit status 2.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/test_env.h"
#include "tests/install/installed_tree.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace rovik::fixtures;

namespace {

const char* const kPrograms[] = {"RovikAlarm", "Rovik",   "RovikClient",
                                 "camsim",     "pushsim", "rovik-send"};

// Run from a program folder of its own with no display of any kind: a program that began to
// start (a window, the lock, the run-time folder) would fail or leave traces.
class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kPrograms) {
      if (fs::exists(BinDir() / name)) {
        ASSERT_TRUE(folder_.Copy(name));
        present_.push_back(name);
      }
    }
    folder_.CopySharedLibraries();
    auto env = folder_.Environment();
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      env = WithVariable(env, var, std::nullopt);
    options_.env = env;
    options_.workingDir = folder_.Path();
    before_ = ProgramFolderEntries();
  }

  RunResult Run(const std::string& name, const std::vector<std::string>& args) {
    return RunProgram(folder_.Program(name), args, 5s, options_);
  }
  // Nothing was made: no run-time objects, registry, autostart entry, store or log.
  void ExpectNothingStarted(const std::string& name) {
    EXPECT_TRUE(installtest::Entries(folder_.RunDir()).empty()) << name;
    EXPECT_TRUE(installtest::Entries(folder_.RegistryRoot()).empty()) << name;
    EXPECT_TRUE(installtest::Entries(folder_.ConfigHome()).empty()) << name;
    EXPECT_EQ(ProgramFolderEntries(), before_) << name;
  }
  std::set<std::string> ProgramFolderEntries() { return installtest::Entries(folder_.Path()); }

  ProgramFolder folder_;
  ChildOptions options_;
  std::vector<std::string> present_;
  std::set<std::string> before_;
};

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(CommandLine, HelpAndVersionAnswerAtOnceWithoutStartingAnything) {
  ASSERT_FALSE(present_.empty());
  for (const auto& name : present_) {
    auto version = Run(name, {"--version"});
    EXPECT_FALSE(version.timedOut) << name << " did not end within 5 s";
    EXPECT_TRUE(version.status.Success()) << name << ": " << version.err;
    EXPECT_EQ(version.out, name + " " + installtest::ExpectedVersion() + "\n");
    EXPECT_EQ(version.err, "") << name;

    auto help = Run(name, {"--help"});
    EXPECT_TRUE(help.status.Success()) << name << ": " << help.err;
    EXPECT_NE(help.out.find("usage: " + name), std::string::npos) << help.out;
    EXPECT_NE(help.out.find(name + " --help | --version"), std::string::npos) << help.out;
    ExpectNothingStarted(name);
  }
}

TEST_F(CommandLine, UnknownOptionEndsWithOneLineAndStatusTwo) {
  for (const auto& name : present_) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--no-such-option"}, std::vector<std::string>{"-q"}}) {
      auto r = Run(name, args);
      ASSERT_TRUE(r.status.exited)
          << name << " " << args[0] << " ended by signal " << r.status.signal;
      EXPECT_EQ(r.status.code, 2) << name << " " << args[0];
      EXPECT_EQ(r.out, "") << name;
      EXPECT_EQ(Lines(r.err), 1) << name << ": " << r.err;
      EXPECT_NE(r.err.find(args[0]), std::string::npos) << name << ": " << r.err;
    }
    ExpectNothingStarted(name);
  }
}

TEST_F(CommandLine, MonitorKeepsItsAutoStartArgumentAndRefusesWhatFollowsIt) {
  if (!fs::exists(BinDir() / "RovikAlarm")) GTEST_SKIP() << "RovikAlarm is not built";
  // "-s" is what the auto-start entry passes; it combines with the answered options...
  auto version = Run("RovikAlarm", {"-s", "--version"});
  EXPECT_TRUE(version.status.Success());
  EXPECT_EQ(version.out, "RovikAlarm " + installtest::ExpectedVersion() + "\n");
  // ...and does not make anything else acceptable.
  auto refused = Run("RovikAlarm", {"-s", "extra"});
  EXPECT_EQ(refused.status.code, 2);
  EXPECT_EQ(Lines(refused.err), 1) << refused.err;
  ExpectNothingStarted("RovikAlarm");
}

TEST_F(CommandLine, SendToolKeepsTextsAfterTheEndOfOptions) {
  if (!fs::exists(BinDir() / "rovik-send")) GTEST_SKIP() << "rovik-send is not built";
  // After "--" a text that looks like an option is sent as it stands: no window, status 2 with
  // the result 0, not a refusal.
  auto r = Run("rovik-send", {"--", "NoSuchWindow", "--version"});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(r.err, "");
  // A value that looks like an option is still a value.
  auto missing = Run("rovik-send", {"--listen"});
  EXPECT_EQ(missing.status.code, 2);
  EXPECT_EQ(Lines(missing.err), 1) << missing.err;
}

}  // namespace
