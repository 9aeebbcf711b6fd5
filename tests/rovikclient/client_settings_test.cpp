// The client's settings file holds account and camera passwords: one that others may read is
// tightened to 0600 when the client reads it, and its content is still taken.
#include "tools/rovikclient/client_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/fixtures/temp_dir.h"

using namespace rovik::alarm;

TEST(ClientSettings, AFileOthersMayReadIsTightenedAndStillRead) {
  rovik::fixtures::TempDir folder("rovik-client-");
  const auto path = folder / "RovikClient.json";
  ASSERT_TRUE(folder.WriteFile(
      "RovikClient.json",
      R"({"accounts":[{"account":"13800000000","password":"pw","name":"Demo"}],)"
      R"("cameras":[{"name":"Door","address":"127.0.0.1:7001","user":"admin","password":"x"}]})"));
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  testing::internal::CaptureStderr();
  QString error;
  const auto settings =
      rovikclient::LoadClientSettings(QString::fromStdString(path.string()), &error);
  const std::string log = testing::internal::GetCapturedStderr();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(log.find("RovikClient: " + path.string() +
                     ": was open to others (mode 0644); tightened to 0600"),
            std::string::npos)
      << log;
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  ASSERT_EQ(settings.accounts.size(), 1u);
  EXPECT_EQ(settings.accounts[0].password, "pw");
  ASSERT_EQ(settings.cameras.size(), 1u);
  EXPECT_EQ(settings.cameras[0].password, "x");
}
