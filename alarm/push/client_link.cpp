#include "alarm/push/client_link.h"

#include <cstring>

#include "platform/module_path.h"
#include "platform/process.h"
#include "platform/window_link.h"

namespace rovik::alarm {

namespace platform = rovik::platform;

bool FindClientWindow() { return platform::FindWindowByTitle(kClientWindowTitle); }

bool SendTextToClient(std::string_view text) {
  int64_t result = 0;
  return platform::SendCopyDataOutcome(kClientWindowTitle, 0, 0, text.data(), text.size(),
                                       &result) != platform::SendOutcome::NoWindow;
}

AlarmBlock MakeAlarmBlock(const AlarmRecord& record) {
  AlarmBlock block{};
  block[0] = '4';
  block[1] = '~';
  std::memcpy(block.data() + 2, &record, sizeof record);
  block[kAlarmBlockSize - 1] = 0;
  return block;
}

bool SendAlarmToClient(const AlarmRecord& record) {
  const AlarmBlock block = MakeAlarmBlock(record);
  int64_t result = 0;
  return platform::SendCopyDataOutcome(kClientWindowTitle, 0, 0, block.data(), block.size(),
                                       &result) != platform::SendOutcome::NoWindow;
}

bool StartClient() {
  const std::string folder = platform::ProgramFolder();
  if (folder.empty()) {
    return false;
  }
  return platform::StartProgram(folder + "/" + kClientProgramName);
}

}  // namespace rovik::alarm
