// Child processes and program folders: exit codes, output, bounded waits, kill -9, environment.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/program_folder.h"

namespace rovik::fixtures {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcess, ReportsExitCodeAndBothOutputs) {
  RunResult r = RunProgram(FIXTURE_PROBE, {"exit", "3"}, 10s);
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.status.exited);
  EXPECT_EQ(r.status.code, 3);
  EXPECT_EQ(r.out, "out line\n");
  EXPECT_EQ(r.err, "err line\n");
}

TEST(ChildProcess, MissingProgramIsAFailureNotACrash) {
  ChildProcess child;
  EXPECT_FALSE(child.Start("/nonexistent/program"));
  EXPECT_FALSE(child.Error().empty());
  EXPECT_FALSE(child.Running());
}

TEST(ChildProcess, BoundedWaitThenKillNine) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(FIXTURE_PROBE, {"sleep", "60000"}));
  EXPECT_TRUE(child.WaitForStdout("sleeping", 10s));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(child.Wait(200ms).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_TRUE(child.Running());
  ExitStatus s = child.Kill();
  EXPECT_FALSE(s.exited);
  EXPECT_EQ(s.signal, SIGKILL);
  EXPECT_FALSE(child.Running());
}

TEST(ChildProcess, RunProgramKillsAnOverrunningChild) {
  RunResult r = RunProgram(FIXTURE_PROBE, {"sleep", "60000"}, 300ms);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.status.signal, SIGKILL);
}

TEST(ChildProcess, GivenEnvironmentReplacesOurs) {
  ChildOptions options;
  options.env = WithVariable(CurrentEnvironment(), "PROBE_A", std::string("one"));
  options.env = WithVariable(*options.env, "HOME", std::nullopt);
  RunResult r = RunProgram(FIXTURE_PROBE, {"env", "PROBE_A", "HOME"}, 10s, options);
  EXPECT_EQ(r.out, "PROBE_A=one\nHOME unset\n");
}

TEST(ChildProcess, ScopedEnvRestoresThePreviousValue) {
  ::setenv("ROVIK_PROBE_SCOPED", "before", 1);
  {
    ScopedEnv e("ROVIK_PROBE_SCOPED", std::string("during"));
    EXPECT_STREQ(std::getenv("ROVIK_PROBE_SCOPED"), "during");
    ScopedEnv gone("ROVIK_PROBE_SCOPED", std::nullopt);
    EXPECT_EQ(std::getenv("ROVIK_PROBE_SCOPED"), nullptr);
  }
  EXPECT_STREQ(std::getenv("ROVIK_PROBE_SCOPED"), "before");
  ::unsetenv("ROVIK_PROBE_SCOPED");
}

TEST(ProgramFolder, ProgramsSeeTheirOwnRunRegistryAndConfigFolders) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.CopyFrom(FIXTURE_PROBE));
  EXPECT_FALSE(folder.Copy("no-such-program-in-bin"));
  struct stat st {};
  ASSERT_EQ(::stat(folder.RunDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ChildProcess child;
  ASSERT_TRUE(folder.Start(child, "fixture_probe",
                           {"env", "ROVIK_RUNTIME_DIR", "ROVIK_REGISTRY_ROOT", "XDG_CONFIG_HOME"}));
  auto status = child.Wait(10s);
  ASSERT_TRUE(status && status->Success());
  EXPECT_EQ(child.Stdout(), "ROVIK_RUNTIME_DIR=" + folder.RunDir().string() + "\n" +
                                "ROVIK_REGISTRY_ROOT=" + folder.RegistryRoot().string() + "\n" +
                                "XDG_CONFIG_HOME=" + folder.ConfigHome().string() + "\n");

  RunResult cwd = RunProgram(folder.Program("fixture_probe"), {"cwd"}, 10s, folder.Options());
  EXPECT_EQ(cwd.out, folder.Path().string() + "\n");
}

TEST(ProgramFolder, FilesAndCleanUp) {
  std::filesystem::path root;
  {
    ProgramFolder folder;
    root = folder.Root();
    ASSERT_TRUE(folder.WriteFile("FILE/RovikInfo.txt", std::string("a\0b", 3)));
    EXPECT_EQ(folder.ReadFile("FILE/RovikInfo.txt"), std::string("a\0b", 3));
    auto guard = folder.ApplyToThisProcess();
    EXPECT_EQ(std::string(std::getenv("ROVIK_REGISTRY_ROOT")), folder.RegistryRoot().string());
  }
  EXPECT_FALSE(std::filesystem::exists(root));
}

}  // namespace
}  // namespace rovik::fixtures
