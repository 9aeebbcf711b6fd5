// Run-time folder, named mutex and shared memory: the objects that live in RUN.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/named_mutex.h"
#include "platform/run_dir.h"
#include "platform/shared_memory.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace fs = std::filesystem;
using namespace rovik::platform;
using rovik::fixtures::ChildProcess;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

fs::path helperPath() { return rovik::fixtures::BuildDir() / "tests" / "platform_helper"; }

class RunDirTest : public ::testing::Test {
 protected:
  TempDir tmp_{"rovik-run-"};
  ScopedEnv run_{"ROVIK_RUNTIME_DIR", (tmp_.Path() / "run").string()};
};

TEST_F(RunDirTest, CreatesPrivateFolderFromEnvironment) {
  auto dir = RunDir();
  ASSERT_TRUE(dir);
  EXPECT_EQ(*dir, (tmp_.Path() / "run").string());
  struct stat st {};
  ASSERT_EQ(::stat(dir->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  auto sub = RunSubdir("windows");
  ASSERT_TRUE(sub);
  EXPECT_TRUE(fs::is_directory(*sub));
}

TEST_F(RunDirTest, FallsBackToXdgRuntimeDir) {
  ScopedEnv noOwn("ROVIK_RUNTIME_DIR", std::nullopt);
  ScopedEnv xdg("XDG_RUNTIME_DIR", tmp_.Path().string());
  auto dir = RunDir();
  ASSERT_TRUE(dir);
  EXPECT_EQ(*dir, (tmp_.Path() / "rovik").string());
}

TEST_F(RunDirTest, RefusesFolderOpenToOthers) {
  fs::path open = tmp_.Path() / "open";
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  ScopedEnv env("ROVIK_RUNTIME_DIR", open.string());
  std::string error;
  EXPECT_FALSE(RunDir(&error));
  EXPECT_NE(error.find("group or other"), std::string::npos) << error;
  // Nothing may be created inside a refused folder.
  NamedMutex m;
  EXPECT_EQ(m.Create("X"), NamedMutex::Result::Error);
  EXPECT_FALSE(fs::exists(open / "mutex"));

  ASSERT_EQ(::chmod(open.c_str(), 0750), 0);
  EXPECT_FALSE(RunDir());
}

TEST_F(RunDirTest, RefusesFolderOfAnotherUserAndSymlinks) {
  fs::path foreign = tmp_.Path() / "foreign";
  if (::geteuid() == 0) {
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(::chown(foreign.c_str(), kNobody, kNobody), 0);
  } else {
    foreign = "/";  // owned by root
  }
  ScopedEnv env("ROVIK_RUNTIME_DIR", foreign.string());
  std::string error;
  EXPECT_FALSE(RunDir(&error));
  EXPECT_NE(error.find("another user"), std::string::npos) << error;

  fs::path real = tmp_.Path() / "real";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  fs::create_directory_symlink(real, tmp_.Path() / "link");
  ScopedEnv viaLink("ROVIK_RUNTIME_DIR", (tmp_.Path() / "link").string());
  EXPECT_FALSE(RunDir());
}

TEST(ObjectNames, RejectsNamesThatLeaveTheirFolder) {
  EXPECT_TRUE(IsValidObjectName("ROVIKALARM"));
  EXPECT_TRUE(IsValidObjectName("Rovik Client"));
  EXPECT_FALSE(IsValidObjectName(""));
  EXPECT_FALSE(IsValidObjectName("."));
  EXPECT_FALSE(IsValidObjectName(".."));
  EXPECT_FALSE(IsValidObjectName("../x"));
  EXPECT_FALSE(IsValidObjectName(std::string("a\0b", 3)));
  EXPECT_FALSE(IsValidObjectName(std::string(201, 'a')));
}

class NamedMutexTest : public RunDirTest {};

TEST_F(NamedMutexTest, SecondHolderInProcessIsRefusedUntilRelease) {
  NamedMutex a, b;
  EXPECT_EQ(a.Create("ROVIKALARM"), NamedMutex::Result::Acquired);
  EXPECT_EQ(b.Create("ROVIKALARM"), NamedMutex::Result::AlreadyExists);
  EXPECT_FALSE(b.IsHeld());
  a.Release();
  EXPECT_EQ(b.Create("ROVIKALARM"), NamedMutex::Result::Acquired);
  NamedMutex other;
  EXPECT_EQ(other.Create("RovikClient"), NamedMutex::Result::Acquired);
}

TEST_F(NamedMutexTest, ContendingProcessesAndLockFreedAfterKill) {
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(helperPath(), {"mutex", "ROVIKALARM"})) << holder.Error();
  ASSERT_TRUE(holder.WaitForStdout("acquired", std::chrono::seconds(10))) << holder.Stdout();

  NamedMutex mine;
  EXPECT_EQ(mine.Create("ROVIKALARM"), NamedMutex::Result::AlreadyExists);
  ChildProcess second;
  ASSERT_TRUE(second.Start(helperPath(), {"mutex", "ROVIKALARM"}));
  auto st = second.Wait(std::chrono::seconds(10));
  ASSERT_TRUE(st);
  EXPECT_EQ(second.Stdout(), "exists\n");

  holder.Kill();  // SIGKILL: no chance to release
  EXPECT_EQ(mine.Create("ROVIKALARM"), NamedMutex::Result::Acquired);
  ChildProcess third;
  ASSERT_TRUE(third.Start(helperPath(), {"mutex", "ROVIKALARM"}));
  ASSERT_TRUE(third.Wait(std::chrono::seconds(10)));
  EXPECT_EQ(third.Stdout(), "exists\n");
}

TEST_F(NamedMutexTest, MovedMutexKeepsOwnership) {
  NamedMutex a;
  ASSERT_EQ(a.Create("M"), NamedMutex::Result::Acquired);
  NamedMutex b(std::move(a));
  EXPECT_FALSE(a.IsHeld());
  EXPECT_TRUE(b.IsHeld());
  NamedMutex c;
  EXPECT_EQ(c.Create("M"), NamedMutex::Result::AlreadyExists);
}

class SharedMemoryTest : public RunDirTest {
 protected:
  fs::path blockFile(const std::string& name) { return tmp_.Path() / "run" / "shm" / name; }
};

TEST_F(SharedMemoryTest, CreateThenOpenSeesTheSameBytes) {
  SharedMemory a;
  ASSERT_EQ(a.Create("ROVIKSHARE", 524288), SharedMemory::Result::Created);
  ASSERT_TRUE(a.IsMapped());
  auto* bytes = static_cast<unsigned char*>(a.data());
  for (std::size_t i = 0; i < a.size(); i += 4096) ASSERT_EQ(bytes[i], 0);
  std::memcpy(bytes + 1000, "hello", 5);

  SharedMemory b;
  EXPECT_EQ(b.Create("ROVIKSHARE", 524288), SharedMemory::Result::Opened);
  EXPECT_EQ(std::memcmp(static_cast<char*>(b.data()) + 1000, "hello", 5), 0);

  SharedMemory reader;
  ASSERT_TRUE(reader.Open("ROVIKSHARE", 524288, false));
  EXPECT_EQ(std::memcmp(static_cast<char*>(reader.data()) + 1000, "hello", 5), 0);

  struct stat st {};
  ASSERT_EQ(::stat(blockFile("ROVIKSHARE").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 524288);
}

TEST_F(SharedMemoryTest, WrongSizeIsRefused) {
  SharedMemory a;
  ASSERT_EQ(a.Create("ROVIKSHARE", 4096), SharedMemory::Result::Created);
  SharedMemory b;
  std::string error;
  EXPECT_EQ(b.Create("ROVIKSHARE", 524288, &error), SharedMemory::Result::Error);
  EXPECT_NE(error.find("size"), std::string::npos) << error;
  EXPECT_FALSE(b.IsMapped());
  EXPECT_FALSE(b.Open("ROVIKSHARE", 8192, true));
  EXPECT_FALSE(b.Open("missing", 4096, true));
}

TEST_F(SharedMemoryTest, ForeignOpenOrLinkedFileIsRefused) {
  ASSERT_TRUE(RunSubdir("shm"));
  // Open to others.
  {
    int fd = ::open(blockFile("loose").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    ASSERT_EQ(::fchmod(fd, 0666), 0);
    ::close(fd);
    SharedMemory m;
    EXPECT_EQ(m.Create("loose", 4096), SharedMemory::Result::Error);
    EXPECT_FALSE(m.Open("loose", 4096, false));
  }
  // A symbolic link planted under the name.
  {
    TempDir elsewhere;
    ASSERT_TRUE(elsewhere.WriteFile("target", std::string(4096, 'x')));
    ::chmod((elsewhere / "target").c_str(), 0600);
    fs::create_symlink(elsewhere / "target", blockFile("linked"));
    SharedMemory m;
    EXPECT_EQ(m.Create("linked", 4096), SharedMemory::Result::Error);
    EXPECT_FALSE(m.Open("linked", 4096, false));
    EXPECT_EQ(elsewhere.ReadFile("target"), std::string(4096, 'x'));
  }
  // Owned by another user.
  if (::geteuid() == 0) {
    int fd = ::open(blockFile("foreign").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    ASSERT_EQ(::fchown(fd, kNobody, kNobody), 0);
    ::close(fd);
    SharedMemory m;
    std::string error;
    EXPECT_EQ(m.Create("foreign", 4096, &error), SharedMemory::Result::Error);
    EXPECT_NE(error.find("another user"), std::string::npos) << error;
  }
}

}  // namespace
