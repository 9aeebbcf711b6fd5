// Starting a program: no arguments, no inherited descriptors, null standard streams, no zombie.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/debug_log.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "tests/fixtures/temp_dir.h"

using namespace rovik::platform;
using rovik::fixtures::TempDir;
using namespace std::chrono_literals;

namespace {

TEST(ModulePath, NamesThisTestProgramAndItsFolder) {
  std::string exe = ModuleFileName();
  EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "platform_test");
  EXPECT_EQ(ProgramFolder(), exe.substr(0, exe.rfind('/')));
}

TEST(StartProgram, RunsWithoutArgumentsOrInheritedDescriptorsAndLeavesNoZombie) {
  TempDir dir("rovik-proc-");
  std::string out = (dir / "out").string();
  std::string script = "#!/bin/sh\necho \"$#\" > '" + out + ".tmp'\nls /proc/self/fd >> '" + out +
                       ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n";
  ASSERT_TRUE(dir.WriteFile("child.sh", script));
  ASSERT_EQ(::chmod((dir / "child.sh").c_str(), 0755), 0);

  // A descriptor the child must not get: not close-on-exec, at a high number.
  int leak = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leak, 0);
  ASSERT_EQ(::dup2(leak, 57), 57);
  ::close(leak);

  std::string error;
  pid_t pid = 0;
  ASSERT_TRUE(StartProgram((dir / "child.sh").string(), &error, &pid)) << error;
  ::close(57);
  EXPECT_GT(pid, 0);
  // Nothing to reap here: the program is not our child.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  std::string text;
  for (int i = 0; i < 250 && (text = dir.ReadFile("out")).empty(); ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(0, 2), "0\n");
  // ls sees its standard descriptors and the one it opened for the listing, nothing else.
  std::vector<int> fds;
  std::size_t pos = 2;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    fds.push_back(std::stoi(text.substr(pos, nl - pos)));
    pos = nl + 1;
  }
  for (int fd : fds) EXPECT_LE(fd, 3) << text;
}

// A program started from a terminal or a pipe must not share them: it would die of SIGPIPE once
// its starter's reader has gone.
TEST(StartProgram, GivesTheProgramNullStreamsAndTheDefaultSignalSettings) {
  TempDir dir("rovik-proc-");
  const std::string out = (dir / "out").string();
  // Read before anything is redirected: the shell's own descriptors as it got them.
  const std::string script =
      "#!/bin/sh\nstate=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2; "
      "grep -E '^Sig(Ign|Blk):' /proc/$$/status)\necho \"$state\" > '" +
      out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n";
  ASSERT_TRUE(dir.WriteFile("child.sh", script));
  ASSERT_EQ(::chmod((dir / "child.sh").c_str(), 0755), 0);

  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &before), 0);
  IgnoreBrokenPipe();
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  std::string error;
  const bool started = StartProgram((dir / "child.sh").string(), &error);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  // This process now writes to a reader-less pipe without dying.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  EXPECT_EQ(::write(fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(fds[1]);
  ::sigaction(SIGPIPE, &before, nullptr);
  ASSERT_TRUE(started) << error;

  std::string text;
  for (int i = 0; i < 250 && (text = dir.ReadFile("out")).empty(); ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(0, 30), "/dev/null\n/dev/null\n/dev/null\n") << text;
  auto mask = [&](const std::string& field) {
    const std::size_t at = text.find(field + ":");
    return at == std::string::npos ? ~0ULL
                                   : std::stoull(text.substr(at + field.size() + 1), nullptr, 16);
  };
  EXPECT_EQ(mask("SigIgn") & (1ULL << (SIGPIPE - 1)), 0u) << text;
  EXPECT_EQ(mask("SigBlk") & (1ULL << (SIGUSR1 - 1)), 0u) << text;
}

TEST(StartProgram, ReportsMissingAndNonExecutablePrograms) {
  TempDir dir("rovik-proc-");
  std::string error;
  EXPECT_FALSE(StartProgram((dir / "RovikClient").string(), &error));
  EXPECT_NE(error.find("RovikClient"), std::string::npos);
  ASSERT_TRUE(dir.WriteFile("plain", "not a program"));
  EXPECT_FALSE(StartProgram((dir / "plain").string(), &error));
  EXPECT_FALSE(StartProgram(dir.Path().string(), &error));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no zombie from the failed attempts
}

TEST(DebugLog, OneLinePrefixedWithLibrary) {
  testing::internal::CaptureStderr();
  DebugLog("QXPlayDll", "capture open\n");
  DebugLog("QXPlayDll", "second");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "QXPlayDll: capture open\nQXPlayDll: second\n");
}

}  // namespace
