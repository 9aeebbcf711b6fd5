// The upgrade worker: the one pass the splash window runs on its own thread while an upgrade is
// pending. It asks a running alarm monitor to quit, finds the package named in the registry,
// installs it over the program folder, and tells the window how far it is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <QRect>
#include <QString>

#include "launcher/upgrade/archive_reader.h"

namespace rovik::launcher {

// Timers of the splash window that the worker starts and stops.
inline constexpr int kTimerProgress = 258;  // every 10 ms: the bar creeps towards its limit
inline constexpr int kTimerClose = 259;     // once, 1 ms: the window closes

// Texts of the status line.
extern const QString kStatusInit;      // "程序更新初始化。。。"
extern const QString kStatusReady;     // "初始化完成。。。"
extern const QString kStatusUpdating;  // "正在更新文件：" followed by the entry name
extern const QString kStatusDone;      // "更新完成"
// The program folder cannot be written (a system-wide install): nothing is installed.
extern const QString kStatusReadOnly;  // "程序目录不可写，未安装更新"

// What the worker needs of the window. Every call may come from the worker thread.
class UpgradeHost {
 public:
  virtual ~UpgradeHost() = default;
  // Sets progress, its phase limit and the status line together.
  virtual void SetProgress(int progress, int limit, const QString& status) = 0;
  virtual void SetStatus(const QString& status) = 0;
  virtual void StartTimer(int id, int milliseconds) = 0;
  virtual void StopTimer(int id) = 0;
  // Asks the window thread to repaint `area` (all status area when `statusLineOnly` is false,
  // the status line otherwise); `painted` is called on the window thread once it has.
  virtual void Repaint(bool statusLineOnly, std::function<void()> painted) = 0;
  // The window handle handed to the alarm monitor with the quit command.
  virtual uint64_t WindowHandle() const = 0;
};

struct UpgradeWorkerOptions {
  QString appDir;                               // program folder, ending with a separator
  bool wow64 = false;                           // open the registry in the 64-bit view
  std::chrono::milliseconds alarmPause{150};    // after the monitor was told to quit
  std::chrono::milliseconds entryPause{170};    // after each entry
  std::chrono::milliseconds noticePause{3000};  // the read-only notice stays this long
  uint64_t extractLimit = kDefaultExtractLimit;
};

class UpgradeWorker {
 public:
  UpgradeWorker(UpgradeHost& host, UpgradeWorkerOptions options);
  // Stops and joins the thread.
  ~UpgradeWorker();
  UpgradeWorker(const UpgradeWorker&) = delete;
  UpgradeWorker& operator=(const UpgradeWorker&) = delete;

  // Starts the pass on the worker's own thread (once).
  void Start();
  // Ends pauses and waits early; the pass stops before its next entry.
  void RequestStop();
  // Waits for the thread to end.
  void Join();
  bool Finished() const;
  // True when the pass found the program folder read-only and installed nothing: the upgrade is
  // still pending and its marker must stay.
  bool LeftPending() const;

  // The whole pass on the calling thread.
  void Run();

  // The package the registry names: appDir + "FILE/Upgrade/" + "UpgradeFile", or empty when the
  // key or the value is missing or the value is empty or too long, or when it names anything but
  // a file inside FILE/Upgrade (a separator, "\\" or "/", or "..": refused with a line on stderr).
  static std::string PackagePath(const QString& appDir, bool wow64);

 private:
  bool Stopping() const;
  // Sleeps unless a stop is requested first; false when it was.
  bool Pause(std::chrono::milliseconds duration);
  void RepaintAndWait(bool statusLineOnly);
  void TellAlarmMonitorToQuit();
  // Shows and reports that the program folder cannot be written.
  void NoticeReadOnly();
  void Finish();

  UpgradeHost& host_;
  const UpgradeWorkerOptions options_;
  std::thread thread_;  // owned; joined by Join() or the destructor

  mutable std::mutex mutex_;
  // guarded by mutex_:
  bool stop_ = false;
  bool finished_ = false;
  bool leftPending_ = false;
  std::condition_variable wake_;  // signalled on stop and when a repaint has been done
};

}  // namespace rovik::launcher
