// Helpers of the monitor suites: a recording video-client window, alarms put into a store, and a
// program folder prepared as an installed monitor's.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alarm/record/alarm_record.h"
#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/window_link.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/recording_window.h"

namespace monitortest {

using namespace rovik::alarm;

using namespace std::chrono_literals;

using rovik::fixtures::WaitUntil;

// The video client's window "RovikClient": records every message, answers 1.
using ClientWindow = rovik::fixtures::RecordingWindow;

inline AlarmRecord MakeAlarm(const std::string& account, const std::string& device,
                             const std::string& time, const std::string& type = "DS") {
  AlarmRecord r;
  ClearRecord(r);
  rovik::alarm::CopyField(r.account, account);
  rovik::alarm::CopyField(r.ipcId, "A1");
  rovik::alarm::CopyField(r.ipcName, "cam");
  rovik::alarm::CopyField(r.deviceName, device);
  rovik::alarm::CopyField(r.deviceType, type);
  rovik::alarm::CopyField(r.alarmTime, time);
  rovik::alarm::CopyField(r.userName, u"Demo user");
  return r;
}

// The lines of the shared alarm list: UTF-16 text up to its zero, split after each "|".
inline std::vector<std::u16string> ListLines(const void* block, std::size_t size) {
  const auto* units = static_cast<const char16_t*>(block);
  std::vector<std::u16string> lines;
  std::u16string line;
  for (std::size_t i = 0; i < size / 2 && units[i] != 0; ++i) {
    line += units[i];
    if (units[i] == u'|') {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// A program folder with RovikAlarm, its registry telling that the auto-start question was
// answered, and push-service addresses that refuse at once (unless given).
inline void PrepareMonitorFolder(
    rovik::fixtures::ProgramFolder& folder,
    const std::string& pushTxt = "http://127.0.0.1:1/\nhttp://127.0.0.1:1/device/reg/\n",
    const std::string& infoTxt = "http://127.0.0.1:1") {
  ASSERT_TRUE(folder.Copy("RovikAlarm"));
  folder.CopySharedLibraries();
  ASSERT_TRUE(folder.WriteFile("FILE/RovikPush.txt", pushTxt));
  ASSERT_TRUE(folder.WriteFile("FILE/RovikInfo.txt", infoTxt));
  rovik::fixtures::WriteWholeFile(
      folder.RegistryRoot() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO" / "ROVIK.reg",
      "\"AUTOALARM\"=dword:00000001\n");
}

}  // namespace monitortest
