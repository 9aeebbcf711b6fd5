// CRovikAlarmApp: the monitor's application object. Start-up makes sure one copy runs per
// session, creates the process-wide resources (shared block "ROVIKSHARE", fonts, alarm store,
// hidden frame "ROVIKHIDE", HTTP request queue, server address), offers the auto-start prompt
// once and runs the main dialog until the program is told to quit; shut-down then releases
// everything in a fixed order.
#pragma once

#include <QFont>
#include <QWidget>
#include <memory>
#include <optional>

#include "alarm/app/rovik_alarm_dlg.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace rovik::alarm {

inline constexpr char kInstanceMutexName[] = "ROVIKALARM";
inline constexpr char kSharedBlockName[] = "ROVIKSHARE";
inline constexpr std::size_t kSharedBlockSize = 0x80000;
inline constexpr char kHiddenFrameTitle[] = "ROVIKHIDE";

class CRovikAlarmApp {
 public:
  CRovikAlarmApp();
  ~CRovikAlarmApp();
  CRovikAlarmApp(const CRovikAlarmApp&) = delete;
  CRovikAlarmApp& operator=(const CRovikAlarmApp&) = delete;

  // The application object of this process (null before construction or after destruction).
  static CRovikAlarmApp* Instance();

  // The start-up sequence; returns false in every case: the program ends when it returns,
  // after ExitInstance.
  bool InitInstance();
  // The shut-down sequence; returns the program's exit code: non-zero when, with no screen to
  // show a message on, the alarm store could not be opened.
  int ExitInstance();

  // True when start-up found another copy running and ended at once.
  bool RefusedAsSecondCopy() const { return refused_; }

  // Members the other windows take (fonts are empty until start-up created them).
  std::optional<QFont> fontNormal14;
  std::optional<QFont> fontBold14;
  std::optional<QFont> fontNormal12;
  std::optional<QFont> fontBold12;
  std::optional<QFont> fontLink12;
  std::optional<QFont> fontLarge36;
  void* sharedView = nullptr;  // the mapped shared block, or null
  rovik::platform::NamedMutex instanceMutex;
  rovik::platform::SharedMemory sharedMapping;
  // Whether the settings are read through a second (64-bit) view of the registry; this build's
  // settings have one view, so it stays false.
  bool isWow64 = false;

 private:
  void CreateSharedBlock();
  void CreateFonts();
  void DeleteFonts();

  bool refused_ = false;
  int exitCode_ = 0;  // non-zero: start-up failed where nobody could be told but stderr
  std::unique_ptr<QWidget> hiddenFrame_;
};

}  // namespace rovik::alarm
