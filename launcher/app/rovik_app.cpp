#include "launcher/app/rovik_app.h"

#include <sys/utsname.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "launcher/app/console_host.h"
#include "launcher/app/display_probe.h"
#include "launcher/app/rovik_dlg.h"
#include "launcher/upgrade/upgrade_install.h"
#include "launcher/upgrade/upgrade_worker.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace rovik::launcher {

namespace {

constexpr const char* kMutexName = "RovikClient";
constexpr const char* kUpgradeKey = "SOFTWARE\\MERVO\\ROVIK";
constexpr const char* kUpgradeMarker = "UpgradePatch";
constexpr const char* kClientProgram = "RovikClient";
// How long the window platform may take to say whether it can be opened (a loaded machine).
constexpr std::chrono::seconds kDisplayProbeBound{20};

uint32_t View(bool wow64) { return wow64 ? platform::kKeyWow64_64Key : 0; }

// The client could not be started (not installed beside the launcher, or not a program): said on
// standard error, and in a message box when there is a screen to show it on.
void ReportNoClient(int& argc, char** argv, const std::string& why) {
  std::fprintf(stderr, "Rovik: the video client cannot be started (is it installed?): %s\n",
               why.c_str());
  std::fflush(stderr);
  if (!GuiPlatformAvailable(kDisplayProbeBound)) return;
  QApplication application(argc, argv);
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
  QMessageBox::critical(nullptr, QStringLiteral("Rovik"),
                        QStringLiteral("无法启动视频客户端 RovikClient，请确认它已安装。\n\n%1")
                            .arg(QString::fromStdString(why)));
}

}  // namespace

CRovikApp::CRovikApp(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

int CRovikApp::IsWow64() {
  struct utsname name {};
  if (sizeof(void*) != 4 || ::uname(&name) != 0) {
    return 0;
  }
  return std::strstr(name.machine, "64") != nullptr ? 1 : 0;
}

bool CRovikApp::UpgradePending(bool wow64) {
  using namespace rovik::platform;
  const auto key = RegistryKey::Open(RegRoot::LocalMachine, kUpgradeKey, kKeyRead | View(wow64));
  if (!key) {
    return false;
  }
  const std::optional<uint32_t> marker = key->ReadDword(kUpgradeMarker);
  return marker && *marker != 0;
}

bool CRovikApp::ClearUpgradeMarker(bool wow64) {
  using namespace rovik::platform;
  auto key = RegistryKey::Create(RegRoot::LocalMachine, kUpgradeKey, kKeyWrite | View(wow64));
  return key && key->WriteDword(kUpgradeMarker, 0);
}

int CRovikApp::InitInstance() {
  // A second launcher ends at once; one that cannot make the mutex at all goes on without it.
  if (m_hMutex.Create(kMutexName) == platform::NamedMutex::Result::AlreadyExists) {
    return 0;
  }
  m_bWow64 = IsWow64();
  if (UpgradePending(m_bWow64 != 0)) {
    // Qt ends the process when it cannot open its window platform, so it is asked first; without
    // a screen the upgrade is installed all the same, its progress going to standard error.
    const bool leftPending = GuiPlatformAvailable(kDisplayProbeBound) ? RunSplash() : RunHeadless();
    // However the pass ended, the package is not installed twice; but an upgrade that could not
    // be installed at all (read-only program folder) stays pending.
    if (!leftPending) {
      ClearUpgradeMarker(m_bWow64 != 0);
    }
  }
  std::string why;
  if (!StartClient(&why)) {
    ReportNoClient(m_argc, m_argv, why);
    return 1;
  }
  return 0;
}

bool CRovikApp::RunSplash() {
  QApplication application(m_argc, m_argv);
  CRovikDlg dlg;
  dlg.SetWow64(m_bWow64 != 0);
  dlg.exec();
  return dlg.UpgradeLeftPending();
}

bool CRovikApp::RunHeadless() {
  std::fprintf(stderr, "Rovik: no display; installing the pending upgrade without its window\n");
  std::fflush(stderr);
  const std::string folder = platform::ProgramFolder();
  UpgradeWorkerOptions options;
  options.appDir =
      folder.empty() ? QString() : QFile::decodeName(folder.c_str()) + QLatin1Char('/');
  options.wow64 = m_bWow64 != 0;
  options.noticePause = std::chrono::milliseconds(0);  // nobody is looking at a window
  if (!folder.empty()) {
    CreateInstallFolders(folder);
  }
  ConsoleUpgradeHost host;
  UpgradeWorker worker(host, options);
  worker.Run();
  return worker.LeftPending();
}

bool CRovikApp::StartClient(std::string* why) {
  const std::string folder = platform::ProgramFolder();
  m_hMutex.Release();
  if (folder.empty()) {
    *why = "the launcher's own folder is unknown";
    return false;
  }
  return platform::StartProgram(folder + "/" + kClientProgram, why);
}

}  // namespace rovik::launcher
