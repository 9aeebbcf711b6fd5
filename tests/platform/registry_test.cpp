// Registry keys as .reg files, and the Run key's autostart entry.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace fs = std::filesystem;
using namespace rovik::platform;
using rovik::fixtures::ReadWholeFile;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;

namespace {

constexpr const char* kRovikKey = "SOFTWARE\\MERVO\\ROVIK";

class RegistryTest : public ::testing::Test {
 protected:
  TempDir tmp_{"rovik-reg-"};
  ScopedEnv reg_{"ROVIK_REGISTRY_ROOT", (tmp_.Path() / "reg").string()};
  ScopedEnv config_{"XDG_CONFIG_HOME", (tmp_.Path() / "config").string()};
  fs::path keyFile(const std::string& rel) {
    return tmp_.Path() / "reg" / "HKEY_LOCAL_MACHINE" / rel;
  }
};

TEST_F(RegistryTest, MissingKeyDoesNotOpenUntilCreated) {
  EXPECT_FALSE(RegistryKey::Open(RegRoot::LocalMachine, kRovikKey, kKeyRead | kKeyWow64_64Key));
  auto key = RegistryKey::Create(RegRoot::LocalMachine, kRovikKey, kKeyWrite | kKeyWow64_64Key);
  ASSERT_TRUE(key);
  EXPECT_TRUE(fs::exists(keyFile("SOFTWARE/MERVO/ROVIK.reg")));
  EXPECT_FALSE(key->ReadDword("AUTOALARM"));
  ASSERT_TRUE(key->WriteDword("AUTOALARM", 1));
  auto again = RegistryKey::Open(RegRoot::LocalMachine, kRovikKey, kKeyRead);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ReadDword("AUTOALARM"), 1u);
  EXPECT_EQ(ReadWholeFile(keyFile("SOFTWARE/MERVO/ROVIK.reg")),
            "Windows Registry Editor Version 5.00\n\n\"AUTOALARM\"=dword:00000001\n");
}

TEST_F(RegistryTest, StringsWithQuotesAndBackslashesRoundTrip) {
  auto key = RegistryKey::Create(RegRoot::LocalMachine, kRovikKey, kKeyWrite);
  ASSERT_TRUE(key);
  const std::string tricky = "C:\\Program Files\\\"Rovik\"\\x\\\\ end \\";
  const std::string name = "Odd \"name\" \\ here";
  ASSERT_TRUE(key->WriteString("UpgradeFile", tricky));
  ASSERT_TRUE(key->WriteString(name, "中文 text"));
  ASSERT_TRUE(key->WriteDword("UpgradePatch", 0xFFFFFFFFu));
  EXPECT_EQ(key->ReadString("UpgradeFile"), tricky);
  EXPECT_EQ(key->ReadString(name), "中文 text");
  EXPECT_EQ(key->ReadDword("UpgradePatch"), 0xFFFFFFFFu);
  // The other type does not read.
  EXPECT_FALSE(key->ReadDword("UpgradeFile"));
  EXPECT_FALSE(key->ReadString("UpgradePatch"));
  // Overwriting keeps one line per value.
  ASSERT_TRUE(key->WriteString("UpgradeFile", "b"));
  EXPECT_EQ(key->ReadString("UpgradeFile"), "b");
  EXPECT_EQ(ParseRegFile(ReadWholeFile(keyFile("SOFTWARE/MERVO/ROVIK.reg"))).size(), 3u);
  // A text that cannot live on one line is refused, and nothing changes.
  EXPECT_FALSE(key->WriteString("UpgradeFile", "two\nlines"));
  EXPECT_EQ(key->ReadString("UpgradeFile"), "b");
  EXPECT_TRUE(key->DeleteValue("UpgradeFile"));
  EXPECT_FALSE(key->DeleteValue("UpgradeFile"));
  EXPECT_FALSE(key->ReadString("UpgradeFile"));
  EXPECT_EQ(key->ReadDword("UpgradePatch"), 0xFFFFFFFFu);
}

TEST_F(RegistryTest, HandWrittenFileIsRead) {
  rovik::fixtures::WriteWholeFile(keyFile("SOFTWARE/MERVO/ROVIK.reg"),
                                  "Windows Registry Editor Version 5.00\r\n"
                                  "\r\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MERVO\\ROVIK]\r\n"
                                  "; set by hand\r\n"
                                  "\"AUTOALARM\"=dword:0000000A\r\n"
                                  "\"UpgradeFile\"=\"a\\\\b.zip\"\r\n"
                                  "\"Broken\"=\"no end\r\n"
                                  "garbage line\r\n");
  auto key = RegistryKey::Open(RegRoot::LocalMachine, kRovikKey, kKeyRead);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadDword("AUTOALARM"), 10u);
  EXPECT_EQ(key->ReadString("UpgradeFile"), "a\\b.zip");
  EXPECT_FALSE(key->ReadString("Broken"));
}

TEST_F(RegistryTest, KeyPathsCannotLeaveTheRegistry) {
  EXPECT_FALSE(RegistryKey::Create(RegRoot::LocalMachine, "SOFTWARE\\..\\..\\x", kKeyWrite));
  EXPECT_FALSE(RegistryKey::Create(RegRoot::LocalMachine, "a/b", kKeyWrite));
  EXPECT_FALSE(RegistryKey::Create(RegRoot::LocalMachine, "", kKeyWrite));
}

TEST_F(RegistryTest, RunKeyValueWritesAndRemovesAutostartEntry) {
  // The Run key exists on every machine; it opens before anything was written.
  auto run = RegistryKey::Open(RegRoot::LocalMachine, kRunKey, kKeyWrite | kKeyWow64_64Key);
  ASSERT_TRUE(run);
  const std::string command = "\"/opt/my rovik/RovikAlarm\" -s";
  ASSERT_TRUE(run->WriteString("ROVIKALARM", command));
  EXPECT_EQ(run->ReadString("ROVIKALARM"), command);
  EXPECT_TRUE(fs::exists(keyFile("Software/Microsoft/Windows/CurrentVersion/Run.reg")));
  fs::path entry = tmp_.Path() / "config" / "autostart" / "ROVIKALARM.desktop";
  std::string desktop = ReadWholeFile(entry);
  EXPECT_NE(desktop.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(desktop.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(desktop.find("\nExec=" + command + "\n"), std::string::npos) << desktop;

  ASSERT_TRUE(run->DeleteValue("ROVIKALARM"));
  EXPECT_FALSE(fs::exists(entry));

  // Values of other keys make no autostart entry.
  auto other = RegistryKey::Create(RegRoot::LocalMachine, kRovikKey, kKeyWrite);
  ASSERT_TRUE(other->WriteString("ROVIKALARM", "x"));
  EXPECT_FALSE(fs::exists(entry));
}

}  // namespace
