// The splash window and the upgrade worker inside one process: geometry, painting, the progress
// animation, the about box, keyboard closing, and whole upgrade passes against a temp program
// folder with its own registry and a listening "ROVIKALARM" window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

#include "launcher/app/about_dlg.h"
#include "launcher/app/rovik_dlg.h"
#include "platform/registry.h"
#include "platform/window_link.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/zip_builder.h"
#include "uikit/png_image.h"

using namespace rovik::uikit;

namespace {
namespace fs = std::filesystem;
using namespace rovik;
using fixtures::ReadWholeFile;
using fixtures::WriteWholeFile;
using launcher::CAboutDlg;
using launcher::CRovikDlg;

// Records what the worker tells the window, in order.
class RecordingDlg : public CRovikDlg {
 public:
  using CRovikDlg::CRovikDlg;
  struct Call {
    int progress;  // -1 for a status-only call
    int limit;
    QString status;
  };
  void SetProgress(int progress, int limit, const QString& status) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      calls.push_back({progress, limit, status});
    }
    CRovikDlg::SetProgress(progress, limit, status);
  }
  void SetStatus(const QString& status) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      calls.push_back({-1, -1, status});
    }
    CRovikDlg::SetStatus(status);
  }
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
  std::mutex mutex;
  std::vector<Call> calls;  // guarded by mutex
};

QString AppDir(const fixtures::ProgramFolder& folder) {
  return QString::fromStdString(folder.Path().string()) + "/";
}

class SplashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = folder_.ApplyToThisProcess();
    fs::create_directories(folder_.Path() / "FILE" / "Upgrade");
  }

  void NameUpgradeFile(const std::string& name) {
    auto key = platform::RegistryKey::Create(platform::RegRoot::LocalMachine,
                                             "SOFTWARE\\MERVO\\ROVIK", platform::kKeyWrite);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteString("UpgradeFile", name));
  }

  fs::path App(const fs::path& rel) const { return folder_.Path() / rel; }

  // Shows the window and waits until it has closed itself; false when it did not in time.
  static bool RunUntilClosed(CRovikDlg& dlg, int bound = 20000) {
    dlg.show();
    return QTest::qWaitFor([&] { return !dlg.isVisible(); }, bound);
  }

  fixtures::ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<fixtures::ScopedEnv>>> env_;
};

TEST_F(SplashTest, GeometryFoldersAndSystemMenu) {
  CRovikDlg dlg(AppDir(folder_));
  EXPECT_EQ(dlg.size(), QSize(680, 460));
  EXPECT_EQ(dlg.StatusRect(), QRect(10, 393, 660, 37));
  EXPECT_EQ(dlg.StatusLineRect(), QRect(10, 393, 660, 20));
  EXPECT_EQ(dlg.ProgressBarRect(), QRect(10, 418, 660, 12));
  EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
  for (const char* sub : {"FILE/BackFile", "FILE/Temp"}) {
    EXPECT_TRUE(fs::is_directory(App(sub))) << sub;
  }
  const auto actions = dlg.SystemMenu().actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), QStringLiteral("关于 Rovik(&A)..."));
}

TEST_F(SplashTest, PackageIsTheRegistrysFileInsideTheUpgradeFolder) {
  const QString app = AppDir(folder_);
  EXPECT_EQ(launcher::UpgradeWorker::PackagePath(app, false), "");  // no key yet
  NameUpgradeFile("");
  EXPECT_EQ(launcher::UpgradeWorker::PackagePath(app, false), "");
  NameUpgradeFile("patch.zip");
  EXPECT_EQ(launcher::UpgradeWorker::PackagePath(app, true),
            (folder_.Path() / "FILE/Upgrade/patch.zip").string());
  for (const char* outside : {"sub\\patch.zip", "/etc/patch.zip", "..", "..\\..\\x.zip"}) {
    NameUpgradeFile(outside);
    EXPECT_EQ(launcher::UpgradeWorker::PackagePath(app, false), "") << outside;
  }
  NameUpgradeFile(std::string(259, 'p'));
  EXPECT_FALSE(launcher::UpgradeWorker::PackagePath(app, false).empty());
  NameUpgradeFile(std::string(260, 'p'));  // does not fit the value's 260 characters
  EXPECT_EQ(launcher::UpgradeWorker::PackagePath(app, false), "");
}

TEST_F(SplashTest, ProgressCreepsToFiveShortOfTheLimit) {
  CRovikDlg dlg(AppDir(folder_));
  dlg.SetProgress(0, 30, launcher::kStatusInit);
  for (int i = 0; i < 100; ++i) {
    dlg.OnTimer(launcher::kTimerProgress);
  }
  EXPECT_EQ(dlg.CurrentDisplay().progress, 26);
  dlg.SetProgress(30, 100, QString());
  for (int i = 0; i < 100; ++i) {
    dlg.OnTimer(launcher::kTimerProgress);
  }
  EXPECT_EQ(dlg.CurrentDisplay().progress, 96);
}

TEST_F(SplashTest, PaintsBandPictureStatusAndBar) {
  CRovikDlg dlg(AppDir(folder_));
  dlg.SetProgress(50, 100, QStringLiteral("正在更新文件：RovikAlarm"));
  const QImage shot = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(680, 460));
  CImage splash;
  ASSERT_TRUE(LoadPngResource(splash, 150));
  // The 680 x 363 picture fills the band exactly.
  for (const QPoint p : {QPoint(0, 0), QPoint(340, 180), QPoint(679, 362), QPoint(100, 300)}) {
    EXPECT_EQ(shot.pixel(p) & 0xFFFFFF, splash.GetPixel(p.x(), p.y()) & 0xFFFFFF)
        << p.x() << "," << p.y();
  }
  EXPECT_EQ(shot.pixel(5, 380), qRgb(251, 251, 251));
  EXPECT_EQ(shot.pixel(5, 424), qRgb(251, 251, 251));
  EXPECT_EQ(shot.pixel(675, 450), qRgb(251, 251, 251));
  // Bar: one-pixel black frame inside x 10..669, y 418..429; filled half, then background.
  EXPECT_EQ(shot.pixel(10, 424), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(669, 424), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(300, 418), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(300, 429), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(670, 424), qRgb(251, 251, 251));
  EXPECT_EQ(shot.pixel(300, 430), qRgb(251, 251, 251));
  EXPECT_EQ(shot.pixel(20, 424), qRgb(0, 181, 115));
  EXPECT_EQ(shot.pixel(338, 424), qRgb(0, 181, 115));
  EXPECT_EQ(shot.pixel(339, 424), qRgb(0, 0, 0));  // right edge of the filled 330 pixels
  EXPECT_EQ(shot.pixel(500, 424), qRgb(243, 243, 243));
  // Status text: dark pixels inside the status line only, starting at its left edge.
  int dark = 0;
  for (int y = 380; y < 418; ++y) {
    for (int x = 0; x < 680; ++x) {
      if (qGray(shot.pixel(x, y)) < 160) {
        EXPECT_TRUE(y >= 393 && y < 413 && x >= 10 && x < 400) << x << "," << y;
        ++dark;
      }
    }
  }
  EXPECT_GT(dark, 50);
}

TEST_F(SplashTest, EmptyBarAndFullBar) {
  CRovikDlg dlg(AppDir(folder_));
  dlg.SetProgress(0, 30, QString());
  QImage shot = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shot.pixel(12, 424), qRgb(243, 243, 243));
  dlg.SetProgress(100, 100, QString());
  shot = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shot.pixel(667, 424), qRgb(0, 181, 115));
}

TEST_F(SplashTest, AboutBoxFromTheSystemMenu) {
  CRovikDlg dlg(AppDir(folder_));
  QString text;
  QString button;
  QTimer::singleShot(0, [&] {
    auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    text = about->Text()->text();
    button = about->OkButton()->text();
    QTest::mouseClick(about->OkButton(), Qt::LeftButton);
  });
  dlg.SystemMenu().actions().at(1)->trigger();
  EXPECT_EQ(text, QStringLiteral("Rovik，1.0 版"));
  EXPECT_EQ(button, QStringLiteral("确定"));
}

TEST_F(SplashTest, WholePassInstallsTellsTheMonitorAndClosesItself) {
  // The alarm monitor's window, answering the quit command.
  std::mutex mutex;
  std::vector<platform::CopyDataMessage> received;  // guarded by mutex
  platform::WindowLink alarm;
  ASSERT_TRUE(alarm.Listen("ROVIKALARM", [&](const platform::CopyDataMessage& m) -> int64_t {
    std::lock_guard<std::mutex> lock(mutex);
    received.push_back(m);
    return 1;
  }));
  ASSERT_TRUE(WriteWholeFile(App("RovikAlarm"), "old alarm"));
  ASSERT_TRUE(test::WriteZip(App("FILE/Upgrade/patch.zip"),
                             {test::FileEntry("RovikAlarm", "new alarm"),
                              test::FolderEntry("skin/"), test::FileEntry("skin/ok.png", "png")}));
  NameUpgradeFile("patch.zip");

  RecordingDlg dlg(AppDir(folder_));
  dlg.WorkerOptions().entryPause = std::chrono::milliseconds(20);
  std::vector<CRovikDlg::Display> samples;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { samples.push_back(dlg.CurrentDisplay()); });
  sampler.start(1);
  ASSERT_TRUE(RunUntilClosed(dlg));
  sampler.stop();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);

  const auto calls = dlg.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].status, QStringLiteral("程序更新初始化。。。"));
  EXPECT_EQ(calls[0].progress, 0);
  EXPECT_EQ(calls[0].limit, 30);
  EXPECT_EQ(calls[1].status, QStringLiteral("初始化完成。。。"));
  EXPECT_EQ(calls[1].progress, 30);
  EXPECT_EQ(calls[1].limit, 100);
  EXPECT_EQ(calls[2].status, QStringLiteral("正在更新文件：RovikAlarm"));
  EXPECT_EQ(calls[3].status, QStringLiteral("正在更新文件：skin/"));
  EXPECT_EQ(calls[4].status, QStringLiteral("正在更新文件：skin/ok.png"));
  EXPECT_EQ(calls[5].status, QStringLiteral("更新完成"));
  EXPECT_EQ(calls[5].progress, 100);
  EXPECT_EQ(dlg.CurrentDisplay().progress, 100);

  for (const auto& s : samples) {
    if (s.limit == 30) {
      EXPECT_LE(s.progress, 26);
    } else if (s.status != QStringLiteral("更新完成")) {
      EXPECT_LE(s.progress, 96);
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::string(received[0].data.begin(), received[0].data.end()), "0~");
    EXPECT_EQ(received[0].dwData, 0u);
    EXPECT_EQ(received[0].wParam, dlg.WindowHandle());
  }
  EXPECT_EQ(ReadWholeFile(App("RovikAlarm")), "new alarm");
  EXPECT_EQ(ReadWholeFile(App("FILE/BackFile/RovikAlarm")), "old alarm");
  EXPECT_EQ(ReadWholeFile(App("FILE/Temp/skin/ok.png")), "png");
  EXPECT_EQ(ReadWholeFile(App("skin/ok.png")), "png");
  EXPECT_FALSE(fs::exists(App("FILE/BackFile/skin")));  // there was no original to save
  alarm.Close();
}

TEST_F(SplashTest, WithoutPackageOrMonitorTheWindowStillFinishes) {
  RecordingDlg dlg(AppDir(folder_));
  ASSERT_TRUE(RunUntilClosed(dlg));
  const auto calls = dlg.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].status, QStringLiteral("更新完成"));
  NameUpgradeFile("missing.zip");
  RecordingDlg again(AppDir(folder_));
  ASSERT_TRUE(RunUntilClosed(again));
  EXPECT_EQ(again.Calls().size(), 3u);
}

TEST_F(SplashTest, KeyboardCannotCloseTheWindowWhileFilesAreReplaced) {
  ASSERT_TRUE(test::WriteZip(App("FILE/Upgrade/patch.zip"),
                             {test::FileEntry("a.dll", "a"), test::FileEntry("b.dll", "b")}));
  NameUpgradeFile("patch.zip");
  CRovikDlg dlg(AppDir(folder_));
  dlg.WorkerOptions().entryPause = std::chrono::milliseconds(400);
  dlg.show();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return dlg.CurrentDisplay().status.startsWith(QStringLiteral("正在更新文件：")); },
      10000));
  QTest::keyClick(&dlg, Qt::Key_Escape);
  QTest::keyClick(&dlg, Qt::Key_Return);
  dlg.close();
  dlg.reject();
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(dlg.WorkerRunning());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.isVisible(); }, 20000));
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(ReadWholeFile(App("b.dll")), "b");
}

TEST_F(SplashTest, DestroyingTheWindowMidPassStopsTheWorker) {
  ASSERT_TRUE(test::WriteZip(App("FILE/Upgrade/patch.zip"),
                             {test::FileEntry("a.dll", "a"), test::FileEntry("b.dll", "b"),
                              test::FileEntry("c.dll", "c")}));
  NameUpgradeFile("patch.zip");
  auto dlg = std::make_unique<CRovikDlg>(AppDir(folder_));
  dlg->WorkerOptions().entryPause = std::chrono::seconds(30);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(App("a.dll")); }, 10000));
  const auto start = std::chrono::steady_clock::now();
  dlg.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(fs::exists(App("c.dll")));
}

// A system-wide install the user cannot write: the window says so, nothing is touched, the running
// monitor is left alone, and the upgrade stays pending.
TEST_F(SplashTest, ReadOnlyProgramFolderShowsTheNoticeAndChangesNothing) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root may write any folder (the launcher's program test covers it as nobody)";
  }
  std::atomic<int> received{0};
  platform::WindowLink alarm;
  ASSERT_TRUE(alarm.Listen("ROVIKALARM", [&](const platform::CopyDataMessage&) -> int64_t {
    ++received;
    return 1;
  }));
  ASSERT_TRUE(WriteWholeFile(App("RovikAlarm"), "old alarm"));
  ASSERT_TRUE(
      test::WriteZip(App("FILE/Upgrade/patch.zip"), {test::FileEntry("RovikAlarm", "new")}));
  NameUpgradeFile("patch.zip");
  fs::permissions(folder_.Path(), fs::perms(0555));
  RecordingDlg dlg(AppDir(folder_));
  dlg.WorkerOptions().noticePause = std::chrono::milliseconds(300);
  const bool closed = RunUntilClosed(dlg);
  fs::permissions(folder_.Path(), fs::perms(0755));
  ASSERT_TRUE(closed);
  const auto calls = dlg.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].status, QStringLiteral("程序目录不可写，未安装更新"));
  EXPECT_EQ(dlg.CurrentDisplay().status, calls[1].status);
  EXPECT_TRUE(dlg.UpgradeLeftPending());
  EXPECT_EQ(received.load(), 0);
  EXPECT_EQ(ReadWholeFile(App("RovikAlarm")), "old alarm");
  EXPECT_FALSE(fs::exists(App("FILE/Temp")));
  EXPECT_FALSE(fs::exists(App("FILE/BackFile")));
  alarm.Close();
}

}  // namespace
