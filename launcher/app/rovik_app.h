// CRovikApp: the launcher's start-up. One launcher at a time (the named mutex "RovikClient");
// when the registry marks an upgrade as pending, the splash window installs it (with no screen,
// the upgrade runs without a window, reporting on standard error) and the marker is cleared,
// unless the program folder cannot be written, when nothing is installed and the marker stays;
// then the video client is started from the launcher's own folder and the launcher ends. A client
// that cannot be started is reported (standard error, and a message box when there is a screen)
// and the launcher ends with status 1.
#pragma once

#include <string>

#include "platform/named_mutex.h"

namespace rovik::launcher {

class CRovikApp {
 public:
  CRovikApp(int& argc, char** argv);

  // Runs the whole start-up and returns the program's exit code. Never enters a message loop of
  // its own beyond the splash window's.
  int InitInstance();

  // Whether "UpgradePatch" under the launcher's key is present and not 0.
  static bool UpgradePending(bool wow64);
  // Writes "UpgradePatch" = 0 (creating the key when it has gone).
  static bool ClearUpgradeMarker(bool wow64);
  // 1 when a 32-bit launcher runs on a 64-bit kernel (uname names a 64-bit machine), else 0.
  // Kept in m_bWow64: the registry accesses then ask for the 64-bit view (kKeyWow64_64Key), which
  // the registry files serve from the same key.
  static int IsWow64();

  rovik::platform::NamedMutex m_hMutex;  // owned from start until the client is started
  int m_bWow64 = 0;

 private:
  // Install the pending upgrade with or without the splash window; true when it was left
  // pending (the program folder cannot be written).
  bool RunSplash();
  bool RunHeadless();
  // False with the reason when the client could not be started.
  bool StartClient(std::string* why);

  int& m_argc;
  char** m_argv;
};

}  // namespace rovik::launcher
