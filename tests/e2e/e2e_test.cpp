// The whole suite as a user meets it: the launcher installing a package and starting the video
// client, alarms travelling from the broker through the monitor into the client, the client's list
// and mark-read commands, a camera's moving pictures and a snapshot, and the popup taking over
// when the client is closed.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "platform/registry.h"
#include "platform/window_link.h"
#include "tests/e2e/suite_harness.h"
#include "tests/e2e/x11_windows.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/zip_builder.h"
#include "tools/rovikclient/alarm_panel.h"
#include "tools/rovikclient/camera_area.h"
#include "tools/rovikclient/camera_view.h"
#include "tools/rovikclient/client_window.h"

namespace fs = std::filesystem;
namespace fx = rovik::fixtures;
using namespace e2e;

namespace {

class SuiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = Suite::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    suite_ = std::make_unique<Suite>();
  }
  void TearDown() override { suite_.reset(); }

  // The video client of this process, watching the demo account.
  std::unique_ptr<rovikclient::ClientWindow> OpenClient() {
    rovikclient::ClientSettings settings;
    settings.accounts.push_back({Suite::kAccount, "pw", "Demo user"});
    auto client = std::make_unique<rovikclient::ClientWindow>(settings);
    std::string error;
    EXPECT_TRUE(client->StartListening(&error)) << error;
    client->show();
    return client;
  }

  // The monitor greets the client with "1~0"; the client answers with its account, which the
  // monitor then subscribes. Publishes until an alarm comes through to the client's list.
  bool FirstAlarmArrives(rovikclient::AlarmPanel& panel) {
    int sent = 0;
    return WaitUntil(
        [&] {
          suite_->Publish(Suite::kAccount, AlarmPayload("probe " + std::to_string(sent++)));
          return WaitUntil([&] { return panel.rowCount() > 0; }, 1s);
        },
        40s);
  }

  static void Click(QWidget* root, const char* name) {
    auto* button = root->findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }

  static std::optional<uint32_t> RegistryDword(const char* name) {
    auto key =
        rovik::platform::RegistryKey::Open(rovik::platform::RegRoot::LocalMachine,
                                           "SOFTWARE\\MERVO\\ROVIK", rovik::platform::kKeyRead);
    return key ? key->ReadDword(name) : std::nullopt;
  }

  std::unique_ptr<Suite> suite_;
};

}  // namespace

TEST_F(SuiteTest, LauncherEndsTheMonitorInstallsThePackageAndStartsTheClient) {
  ASSERT_TRUE(suite_->StartServices()) << suite_->error();
  ASSERT_TRUE(suite_->StartMonitor()) << suite_->error();
  auto& folder = suite_->folder();
  ASSERT_TRUE(folder.WriteFile("readme.txt", "old notes"));
  fs::create_directories(folder.Path() / "FILE" / "Upgrade");
  ASSERT_TRUE(rovik::test::WriteZip(folder.Path() / "FILE" / "Upgrade" / "patch.zip",
                                    {rovik::test::FileEntry("readme.txt", "new notes"),
                                     rovik::test::FileEntry("skin/ok.png", "png bytes")}));
  {
    auto key =
        rovik::platform::RegistryKey::Create(rovik::platform::RegRoot::LocalMachine,
                                             "SOFTWARE\\MERVO\\ROVIK", rovik::platform::kKeyWrite);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteDword("UpgradePatch", 1));
    ASSERT_TRUE(key->WriteString("UpgradeFile", "patch.zip"));
  }

  fx::ChildProcess launcher;
  ASSERT_TRUE(folder.Start(launcher, "Rovik"));
  const auto ended = launcher.Wait(90s);
  ASSERT_TRUE(ended) << "the launcher did not finish";
  EXPECT_TRUE(ended->Success()) << launcher.Stderr();

  // The monitor was told to quit before the files were replaced.
  EXPECT_TRUE(suite_->monitor().Wait(10s)) << "RovikAlarm still runs";
  EXPECT_EQ(folder.ReadFile("readme.txt"), "new notes");
  EXPECT_EQ(folder.ReadFile("FILE/BackFile/readme.txt"), "old notes");
  EXPECT_EQ(RegistryDword("UpgradePatch"), 0u);

  // The client runs, holds its window, and ends when its window is closed.
  ASSERT_TRUE(WaitUntil([] { return rovik::platform::FindWindowByTitle("RovikClient"); }, 20s));
  // The client registers its window before it loads the camera libraries and shows itself;
  // on a loaded machine under the sanitizers that can take a while.
  ASSERT_TRUE(WaitUntil([] { return FindX11Window("RovikClient") != 0; }, 30s))
      << "windows: " << DescribeX11Windows();
  ASSERT_TRUE(WaitUntil([] { return X11WindowViewable("RovikClient"); }, 30s))
      << "windows: " << DescribeX11Windows();
  EXPECT_TRUE(CloseX11Window("RovikClient"));
  EXPECT_TRUE(WaitUntil([] { return !rovik::platform::FindWindowByTitle("RovikClient"); }, 10s));
}

TEST_F(SuiteTest, AlarmsReachTheClientWhichListsAndMarksThemRead) {
  ASSERT_TRUE(suite_->StartServices()) << suite_->error();
  auto client = OpenClient();
  ASSERT_TRUE(suite_->StartMonitor()) << suite_->error();
  auto* panel = client->alarmPanel();

  ASSERT_TRUE(FirstAlarmArrives(*panel)) << suite_->monitor().Stderr();

  const int before = panel->rowCount();
  for (const char* device : {"Back door", "Kitchen", "Garage"}) {
    ASSERT_TRUE(suite_->Publish(Suite::kAccount, AlarmPayload(device, "GA")));
  }
  ASSERT_TRUE(WaitUntil([&] { return panel->rowCount() == before + 3; }, 20s)) << panel->rowCount();
  EXPECT_EQ(panel->list()->topLevelItem(0)->text(2), QStringLiteral("Garage"));  // newest first
  EXPECT_EQ(panel->list()->topLevelItem(0)->text(1), QStringLiteral("瓦斯泄露"));

  // "5~00": the unread alarms come back through the shared block, with their store IDs.
  Click(panel, "listUnread");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return panel->rowCount() == before + 3 &&
               panel->list()->topLevelItem(0)->text(6).toInt() > 0;
      },
      10s));
  const int unreadBefore = panel->rowCount();

  // Mark the newest read: the monitor answers with the new unread count.
  panel->list()->topLevelItem(0)->setSelected(true);
  Click(panel, "markRead");
  const QString expected = QStringLiteral("未读报警：%1").arg(unreadBefore - 1);
  EXPECT_TRUE(WaitUntil([&] { return panel->unreadText() == expected; }, 10s))
      << panel->unreadText().toStdString();

  Click(panel, "listUnread");
  EXPECT_TRUE(WaitUntil([&] { return panel->rowCount() == unreadBefore - 1; }, 10s));
}

TEST_F(SuiteTest, ClosingTheClientMakesTheNextAlarmShowInThePopup) {
  ASSERT_TRUE(suite_->StartServices()) << suite_->error();
  auto client = OpenClient();
  ASSERT_TRUE(suite_->StartMonitor()) << suite_->error();
  auto* panel = client->alarmPanel();
  ASSERT_TRUE(FirstAlarmArrives(*panel)) << suite_->monitor().Stderr();
  EXPECT_FALSE(X11WindowViewable("ROVIKALARM"));

  client.reset();  // the user closes the video client
  ASSERT_TRUE(suite_->Publish(Suite::kAccount, AlarmPayload("Front gate", "EB")));
  EXPECT_TRUE(WaitUntil([] { return X11WindowViewable("ROVIKALARM"); }, 20s))
      << DescribeX11Windows() << suite_->monitor().Stderr();
}

TEST_F(SuiteTest, CameraShowsMovingPicturesAndTakesASnapshot) {
  const int port = fx::FreeTcpPort();
  fx::ChildProcess camera;
  ASSERT_TRUE(
      camera.Start(fx::BinDir() / "camsim",
                   {"--port", std::to_string(port), "--user", "admin", "--password-file",
                    fx::WriteSecretFile(suite_->folder().Root() / "camera.pw", "123456"), "--h264",
                    (fx::BinDir() / "camsim_240p.h264").string(), "--fps", "25"}));
  ASSERT_TRUE(camera.WaitForStdout("\n", 10s)) << camera.Stderr();  // listening
  rovikclient::CameraSettings settings{QStringLiteral("Front door"),
                                       "127.0.0.1:" + std::to_string(port), "admin", "123456"};
  QWidget window;
  window.resize(640, 480);
  auto* area = rovikclient::CreateCameraArea({settings}, &window);
  area->resize(640, 480);
  window.show();
  auto* view = area->findChild<rovikclient::CameraView*>(QStringLiteral("camera0"));
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return view->status() == QStringLiteral("在线"); }, 20s))
      << view->status().toStdString() << camera.Stderr();

  const unsigned long surface = view->surface()->NativeWindow();
  ASSERT_NE(surface, 0u);
  std::vector<uint32_t> first;
  ASSERT_TRUE(WaitUntil(
      [&] {
        first = GrabX11Window(surface);
        for (uint32_t p : first) {
          if (p != 0) return true;  // the player has drawn something
        }
        return false;
      },
      10s));
  WaitUntil([] { return false; }, 1500ms);
  const std::vector<uint32_t> second = GrabX11Window(surface);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_NE(first, second) << "the picture does not move";

  const QString path = view->TakeSnapshot();
  ASSERT_FALSE(path.isEmpty());
  EXPECT_TRUE(WaitUntil(
      [&] { return fs::exists(path.toStdString()) && fs::file_size(path.toStdString()) > 100; },
      10s));
  if (fs::exists(path.toStdString())) {
    const std::string jpeg = fx::ReadWholeFile(path.toStdString());
    EXPECT_EQ(jpeg.substr(0, 2), "\xff\xd8");
    fs::remove(path.toStdString());
  }
}
