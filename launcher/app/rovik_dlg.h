// CRovikDlg: the launcher's borderless splash window shown while an upgrade is installed: the
// product picture on a blue band, one status line and a progress bar. It runs the upgrade
// worker and closes itself when the worker has finished.
#pragma once

#include <QBrush>
#include <QDialog>
#include <QFont>
#include <QMenu>
#include <QRect>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>

#include "launcher/upgrade/upgrade_worker.h"
#include "uikit/png_image.h"

namespace rovik::launcher {

class CRovikDlg : public QDialog, public UpgradeHost {
  Q_OBJECT
 public:
  static constexpr int kWidth = 680;
  static constexpr int kHeight = 460;
  static constexpr int kBandHeight = 363;
  static constexpr int kAboutCommand = 16;

  // appDir: the program folder (ending with '/'); empty means the launcher's own folder.
  explicit CRovikDlg(const QString& appDir = {}, QWidget* parent = nullptr);
  ~CRovikDlg() override;

  // Worker settings before the window is shown (tests shorten the pauses).
  UpgradeWorkerOptions& WorkerOptions() { return m_workerOptions; }
  void SetWow64(bool wow64) { m_workerOptions.wow64 = wow64; }

  // A consistent copy of what the window shows.
  struct Display {
    int progress = 0;
    int limit = 0;
    QString status;
  };
  Display CurrentDisplay() const;
  const QRect& StatusRect() const { return m_rcStatus; }
  QRect StatusLineRect() const;
  QRect ProgressBarRect() const;
  const QString& AppDir() const { return m_szAppDir; }
  bool WorkerRunning() const;
  // After the window has closed: the program folder could not be written and the upgrade was left
  // pending.
  bool UpgradeLeftPending() const;
  QMenu& SystemMenu() { return m_systemMenu; }

  // The system menu's commands (the about entry opens the about box).
  void OnSysCommand(int id);
  void OnTimer(int id);

  // UpgradeHost, called from the worker thread.
  void SetProgress(int progress, int limit, const QString& status) override;
  void SetStatus(const QString& status) override;
  void StartTimer(int id, int milliseconds) override;
  void StopTimer(int id) override;
  void Repaint(bool statusLineOnly, std::function<void()> painted) override;
  uint64_t WindowHandle() const override { return m_windowHandle; }

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnInitDialog();
  void CreateFolders();
  void UpdateStatusRect(const QSize& client);
  QTimer* TimerOf(int id);

  QString m_szAppDir;
  rovik::uikit::CImage m_imgSplash;
  QBrush m_brBack;
  QBrush m_brBar;
  QFont m_fontStatus;
  QRect m_rcStatus;
  QMenu m_systemMenu;
  QTimer m_timerProgress;  // timer 258
  QTimer m_timerClose;     // timer 259
  bool m_bInitialised = false;
  uint64_t m_windowHandle = 0;
  UpgradeWorkerOptions m_workerOptions;

  mutable std::mutex m_displayLock;
  // guarded by m_displayLock (the worker sets them, the window thread paints them):
  int m_nProgress = 0;
  int m_nProgressLimit = 0;
  QString m_strStatus;

  std::unique_ptr<UpgradeWorker> m_worker;  // last: stopped and joined first
};

}  // namespace rovik::launcher
