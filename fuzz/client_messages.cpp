// Bytes as a message from the monitor to the video client, and as the shared alarm list.
#include <cstddef>
#include <cstdint>

#include "tools/rovikclient/monitor_messages.h"

using namespace rovik::alarm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rovikclient::ParseMonitorMessage(data, size);
  rovikclient::ReadAlarmListBlock(data, size, 1000);
  return 0;
}
