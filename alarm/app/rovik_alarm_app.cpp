#include "alarm/app/rovik_alarm_app.h"

#include <cstdio>

#include <QGuiApplication>
#include <QMessageBox>
#include <cstring>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/http_request_queue.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/auto_run.h"
#include "platform/debug_log.h"
#include "uikit/gdi_font.h"

namespace rovik::alarm {

namespace {

CRovikAlarmApp* gApp = nullptr;
bool gStoreFailed = false;  // start-up thread only: the store reported a failure

// Without a screen (the offscreen platform, or none) a message box would wait for a click nobody
// can give.
bool HaveScreen() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The store's failure message: a message box over whatever is on screen, and a line on stderr
// for a monitor running without anyone watching.
void ShowStoreMessage(const std::string& caption, const std::string& text) {
  rovik::platform::DebugLog("RovikAlarm", caption + ": " + text);
  gStoreFailed = true;
  if (HaveScreen()) {
    QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
  }
}

}  // namespace

CRovikAlarmApp::CRovikAlarmApp() { gApp = this; }

CRovikAlarmApp::~CRovikAlarmApp() {
  if (gApp == this) gApp = nullptr;
}

CRovikAlarmApp* CRovikAlarmApp::Instance() { return gApp; }

bool CRovikAlarmApp::InitInstance() {
  // 1. Single instance: a second copy ends at once, silently. A lock that cannot be made at all
  // (no usable run-time folder) is told on stderr and ends the program with an error: without
  // it the monitor could not tell a second copy from the first.
  std::string mutexError;
  const auto mutex = instanceMutex.Create(kInstanceMutexName, &mutexError);
  if (mutex != rovik::platform::NamedMutex::Result::Acquired) {
    instanceMutex.Release();
    if (mutex == rovik::platform::NamedMutex::Result::AlreadyExists) {
      refused_ = true;
    } else {
      std::fprintf(stderr, "RovikAlarm: cannot make its single-instance lock: %s\n",
                   mutexError.c_str());
      exitCode_ = 1;
    }
    return false;
  }
  // 2. isWow64 stays false (see the member).
  // 3. The shared block, all zero.
  CreateSharedBlock();
  // 4. Fonts.
  CreateFonts();
  // 5. The alarm store (created on this first use); its failure message goes through the hook.
  MdSQLite::SetMessageHook(ShowStoreMessage);
  gStoreFailed = false;
  if (MdSQLite* store = MdSQLite::GetInstance()) store->Open();
  if (gStoreFailed && !HaveScreen()) {
    // Nobody sees a box here: the failure went to stderr, and the monitor ends with an error
    // instead of watching without a place to keep alarms.
    exitCode_ = 1;
    return false;
  }
  // 6. The hidden frame, owner of the program's dialogs; never shown.
  hiddenFrame_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
  hiddenFrame_->setWindowTitle(QString::fromLatin1(kHiddenFrameTitle));
  hiddenFrame_->setAttribute(Qt::WA_DontShowOnScreen);
  // 7. The HTTP request queue and its worker.
  HttpRequestQueue::GetInstance();
  // 8. The server address and push-service endpoints from FILE/.
  LoadServerAddress();
  // 9. The auto-start prompt, once. Without a screen nobody could answer it: the choice then
  // stays pending until the monitor runs where the user sees it.
  if (HaveScreen()) OfferAutoRun(hiddenFrame_.get());
  // 10. The main dialog, run modally until the program is told to quit.
  {
    CRovikAlarmDlg dlg;
    dlg.SetSharedBlock(sharedView, sharedView ? kSharedBlockSize : 0);
    dlg.DoModal();
  }  // 11. The dialog (with its popup and push channel) goes, then the hidden frame.
  hiddenFrame_.reset();
  return false;
}

int CRovikAlarmApp::ExitInstance() {
  // 1. The HTTP queue; not created again.
  HttpRequestQueue::DestroyInstance();
  // 2. The mutex.
  instanceMutex.Release();
  // 3. The store; not created again.
  MdSQLite::DestroyInstance();
  MdSQLite::SetMessageHook({});
  // 4. Fonts.
  DeleteFonts();
  // 5. The shared view and mapping.
  sharedView = nullptr;
  sharedMapping.Close();
  return exitCode_;
}

void CRovikAlarmApp::CreateSharedBlock() {
  auto result = sharedMapping.Create(kSharedBlockName, kSharedBlockSize);
  if (result == rovik::platform::SharedMemory::Result::Error) return;  // silent: no list command
  sharedView = sharedMapping.data();
  std::memset(sharedView, 0, kSharedBlockSize);
}

void CRovikAlarmApp::CreateFonts() {
  const QString song = QStringLiteral("宋体");
  if (!fontBold14) fontBold14 = uikit::CreateGdiFont(song, 14, 700);
  if (!fontLarge36) fontLarge36 = uikit::CreateGdiFont(QStringLiteral("微软雅黑"), 36, 400);
  if (!fontNormal14) fontNormal14 = uikit::CreateGdiFont(song, 14, 400);
  if (!fontNormal12) fontNormal12 = uikit::CreateGdiFont(song, 12, 400);
  if (!fontBold12) fontBold12 = uikit::CreateGdiFont(song, 12, 700);
  if (!fontLink12) fontLink12 = uikit::CreateGdiFont(song, 12, 700, true);
}

void CRovikAlarmApp::DeleteFonts() {
  fontNormal14.reset();
  fontBold14.reset();
  fontNormal12.reset();
  fontBold12.reset();
  fontLink12.reset();
  fontLarge36.reset();
}

}  // namespace rovik::alarm
