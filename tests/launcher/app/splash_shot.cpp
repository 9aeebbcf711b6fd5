// Takes a screenshot of the splash window in the middle of an upgrade, as it appears on the
// X screen: launcher_splash_shot OUT.png (run under Xvfb, e.g. xvfb-run -a).
// The upgrade runs against a throw-away program folder, registry and run-time folder.
#include <stdlib.h>

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <filesystem>

#include "launcher/app/rovik_dlg.h"
#include "platform/registry.h"
#include "tests/fixtures/zip_builder.h"

namespace fs = std::filesystem;
using rovik::launcher::CRovikDlg;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: launcher_splash_shot OUT.png\n");
    return 1;
  }
  const fs::path out = fs::absolute(argv[1]);
  char pattern[] = "/tmp/rovik-splash-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  const fs::path app = root / "bin";
  fs::create_directories(app / "FILE" / "Upgrade");
  fs::create_directories(root / "reg");
  fs::create_directories(root / "run");
  fs::permissions(root / "run", fs::perms::owner_all);
  ::setenv("ROVIK_REGISTRY_ROOT", (root / "reg").c_str(), 1);
  ::setenv("ROVIK_RUNTIME_DIR", (root / "run").c_str(), 1);

  auto key = rovik::platform::RegistryKey::Create(
      rovik::platform::RegRoot::LocalMachine, "SOFTWARE\\MERVO\\ROVIK", rovik::platform::kKeyWrite);
  if (!key || !key->WriteString("UpgradeFile", "patch.zip")) {
    std::fprintf(stderr, "launcher_splash_shot: cannot write the registry\n");
    return 1;
  }
  rovik::test::WriteZip(app / "FILE/Upgrade/patch.zip",
                        {rovik::test::FileEntry("RovikAlarm", std::string(200000, 'a')),
                         rovik::test::FileEntry("libQXPlayDll.so", std::string(300000, 'p')),
                         rovik::test::FileEntry("libQXDll.so", std::string(100000, 'q'))});

  QApplication application(argc, argv);
  CRovikDlg dlg(QString::fromStdString(app.string()) + "/");
  dlg.WorkerOptions().entryPause = std::chrono::milliseconds(3000);
  dlg.show();
  const bool mid = QTest::qWaitFor(
      [&] {
        const CRovikDlg::Display d = dlg.CurrentDisplay();
        return d.status.contains(QStringLiteral("libQXPlayDll.so")) && d.progress >= 60;
      },
      20000);
  QTest::qWait(100);
  bool saved = false;
  if (mid) {
    QScreen* screen = dlg.screen();
    const QPixmap shot = screen->grabWindow(0, dlg.x(), dlg.y(), dlg.width(), dlg.height());
    saved = shot.save(QString::fromStdString(out.string()), "PNG");
  }
  const bool closed = QTest::qWaitFor([&] { return !dlg.isVisible(); }, 30000);
  std::error_code ec;
  fs::remove_all(root, ec);
  if (!saved || !closed) {
    std::fprintf(stderr, "launcher_splash_shot: no screenshot taken\n");
    return 1;
  }
  std::printf("%s\n", out.c_str());
  return 0;
}
