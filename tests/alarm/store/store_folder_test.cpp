// The store's folder: the program folder when it can be written, else the user's data folder
// (the suite installed for the whole system).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "alarm/store/store_folder.h"

using namespace rovik::alarm;

namespace fs = std::filesystem;

namespace {

class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (previous_) {
      ::setenv(name_, previous_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

class StoreFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rovik-store-folder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(StoreFolderTest, WritableProgramFolderKeepsTheStore) {
  ScopedVariable data("XDG_DATA_HOME", (root_ / "data").string());
  EXPECT_EQ(rovik::alarm::StoreFolder(root_.string()), root_.string());
  EXPECT_FALSE(fs::exists(root_ / "data"));
}

TEST_F(StoreFolderTest, UnwritableProgramFolderMovesTheStoreToThePrivateDataFolder) {
  // A program folder this user cannot write into (here: one that is not there at all).
  const std::string programs = (root_ / "usr" / "lib" / "rovik").string();
  {
    ScopedVariable data("XDG_DATA_HOME", (root_ / "data").string());
    EXPECT_EQ(rovik::alarm::StoreFolder(programs), (root_ / "data" / "rovik").string());
    struct stat st {};
    ASSERT_EQ(::stat((root_ / "data" / "rovik").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A second start finds it again.
    EXPECT_EQ(rovik::alarm::StoreFolder(programs), (root_ / "data" / "rovik").string());
  }
  {
    // Without XDG_DATA_HOME, or with a relative one (not a valid value), it is under HOME.
    ScopedVariable data("XDG_DATA_HOME", std::string("relative/data"));
    ScopedVariable home("HOME", (root_ / "home").string());
    EXPECT_EQ(rovik::alarm::StoreFolder(programs),
              (root_ / "home" / ".local" / "share" / "rovik").string());
  }
  {
    ScopedVariable data("XDG_DATA_HOME", std::nullopt);
    ScopedVariable home("HOME", std::nullopt);
    EXPECT_EQ(rovik::alarm::StoreFolder(programs), "");
  }
}

}  // namespace
