// The file of alarms kept over a stop while the store could not take them: any bytes give whole
// records whose texts end inside their fields.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "alarm/push/alarm_spill.h"

using namespace rovik::alarm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const SpilledAlarm& alarm : ParseSpilledAlarms(data, size)) {
    if (std::strlen(alarm.record.deviceName) >= sizeof alarm.record.deviceName ||
        alarm.deliveryKey.size() > kSpillKeySize) {
      __builtin_trap();
    }
    (void)MakeDuplicateKey(alarm.record);
    (void)FormatAlarmLine(alarm.record, true);
  }
  return 0;
}
