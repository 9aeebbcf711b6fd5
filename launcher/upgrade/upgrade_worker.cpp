#include "launcher/upgrade/upgrade_worker.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <memory>

#include "launcher/upgrade/folder_guard.h"
#include "launcher/upgrade/upgrade_install.h"
#include "platform/registry.h"
#include "platform/window_link.h"

namespace rovik::launcher {
namespace {

constexpr const char* kUpgradeKey = "SOFTWARE\\MERVO\\ROVIK";
constexpr const char* kAlarmWindow = "ROVIKALARM";
constexpr char kQuitCommand[2] = {'0', '~'};

std::filesystem::path ToPath(const QString& text) {
  const QByteArray bytes = QFile::encodeName(text);
  return std::filesystem::path(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace

const QString kStatusInit = QStringLiteral("程序更新初始化。。。");
const QString kStatusReady = QStringLiteral("初始化完成。。。");
const QString kStatusUpdating = QStringLiteral("正在更新文件：");
const QString kStatusDone = QStringLiteral("更新完成");
const QString kStatusReadOnly = QStringLiteral("程序目录不可写，未安装更新");

UpgradeWorker::UpgradeWorker(UpgradeHost& host, UpgradeWorkerOptions options)
    : host_(host), options_(std::move(options)) {}

UpgradeWorker::~UpgradeWorker() {
  RequestStop();
  Join();
}

void UpgradeWorker::Start() {
  if (!thread_.joinable()) {
    thread_ = std::thread([this] { Run(); });
  }
}

void UpgradeWorker::RequestStop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

void UpgradeWorker::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool UpgradeWorker::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool UpgradeWorker::LeftPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return leftPending_;
}

bool UpgradeWorker::Stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool UpgradeWorker::Pause(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return stop_; });
}

void UpgradeWorker::RepaintAndWait(bool statusLineOnly) {
  auto painted = std::make_shared<bool>(false);
  host_.Repaint(statusLineOnly, [this, painted] {
    std::lock_guard<std::mutex> lock(mutex_);
    *painted = true;
    wake_.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this, painted] { return *painted || stop_; });
}

void UpgradeWorker::TellAlarmMonitorToQuit() {
  int64_t result = 0;
  // Sent synchronously: the monitor has handled it when this returns.
  if (platform::SendCopyDataEx(kAlarmWindow, host_.WindowHandle(), 0, kQuitCommand,
                               sizeof(kQuitCommand), &result)) {
    Pause(options_.alarmPause);
  }
}

std::string UpgradeWorker::PackagePath(const QString& appDir, bool wow64) {
  const uint32_t view = wow64 ? platform::kKeyWow64_64Key : 0;
  const auto key = platform::RegistryKey::Open(platform::RegRoot::LocalMachine, kUpgradeKey,
                                               platform::kKeyRead | view);
  if (!key) {
    return {};
  }
  const std::optional<std::string> file = key->ReadString("UpgradeFile");
  if (!file || file->empty()) {
    return {};
  }
  QString name = QString::fromStdString(*file);
  // The value is read into 260 wide characters with the terminator; a longer one does not fit.
  if (name.size() >= static_cast<qsizetype>(kMaxEntryName)) {
    return {};
  }
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  // The value names a file inside the upgrade folder, nothing else: a folder step or a parent
  // step could make the launcher install (and then start) a package someone else put anywhere.
  if (name.contains(QLatin1Char('/')) || name.contains(QStringLiteral(".."))) {
    std::fprintf(stderr,
                 "Rovik: the pending upgrade names \"%s\", which is not a file of FILE/Upgrade; "
                 "nothing is installed\n",
                 name.toUtf8().constData());
    std::fflush(stderr);
    return {};
  }
  QString path = appDir;
  if (!path.endsWith(QLatin1Char('/'))) {
    path += QLatin1Char('/');
  }
  return ToPath(path + QStringLiteral("FILE/Upgrade/") + name).string();
}

void UpgradeWorker::Run() {
  host_.StartTimer(kTimerProgress, 10);
  host_.SetProgress(0, 30, kStatusInit);
  RepaintAndWait(false);

  // A program folder this user cannot write (a system-wide install) is left exactly as it is, so
  // nothing is ever half installed; the running monitor is left alone too.
  if (!FolderWritable(ToPath(options_.appDir))) {
    NoticeReadOnly();
    return;
  }

  // A window going away mid-pass skips what is left, down to the final status.
  std::string package;
  if (!Stopping()) {
    TellAlarmMonitorToQuit();
    package = PackagePath(options_.appDir, options_.wow64);
  }

  host_.SetProgress(30, 100, kStatusReady);
  host_.Repaint(false, {});

  if (!package.empty() && !Stopping()) {
    InstallOptions install;
    install.extractLimit = options_.extractLimit;
    install.onEntry = [this](const ArchiveEntry& entry) {
      const std::u16string_view name = entry.Name();
      host_.SetStatus(kStatusUpdating +
                      QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())));
      host_.Repaint(true, {});
    };
    install.afterEntry = [this] { Pause(options_.entryPause); };
    install.stopRequested = [this] { return Stopping(); };
    InstallPackage(package, InstallFolders::Of(ToPath(options_.appDir)), install);
  }

  host_.SetProgress(100, 100, kStatusDone);
  Finish();
}

void UpgradeWorker::NoticeReadOnly() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    leftPending_ = true;
  }
  std::fprintf(stderr,
               "Rovik: the program folder %s cannot be written; the pending upgrade was not "
               "installed and stays pending (install it with the tool that installed Rovik)\n",
               QFile::encodeName(options_.appDir).constData());
  std::fflush(stderr);
  host_.SetProgress(0, 0, kStatusReadOnly);
  host_.Repaint(false, {});
  Pause(options_.noticePause);
  Finish();
}

void UpgradeWorker::Finish() {
  host_.StopTimer(kTimerProgress);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  host_.StartTimer(kTimerClose, 1);
  host_.Repaint(false, {});
}

}  // namespace rovik::launcher
