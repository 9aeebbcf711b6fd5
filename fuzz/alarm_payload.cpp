// Alarm message intake: the first byte gives the topic length, then the topic, then the payload.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "alarm/record/alarm_record.h"

using namespace rovik::alarm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const size_t topicLength = data[0] < size - 1 ? data[0] : size - 1;
  const std::string_view topic(reinterpret_cast<const char*>(data + 1), topicLength);
  const uint8_t* payload = data + 1 + topicLength;
  const size_t payloadLength = size - 1 - topicLength;
  AlarmRecord record;
  ClearRecord(record);
  record.userName[0] = u'N';
  FillRecordFromMessage(record, topic, payload, payloadLength);
  // Every text field must end inside its room.
  if (record.account[31] != 0 || record.ipcId[31] != 0 || record.ipcName[255] != 0 ||
      record.deviceName[255] != 0 || record.deviceType[15] != 0 || record.alarmTime[63] != 0) {
    __builtin_trap();
  }
  const std::u16string line = FormatAlarmLine(record, true);
  if (line.empty() || line.back() != u'|') {
    __builtin_trap();
  }
  (void)MakeDuplicateKey(record);
  return 0;
}
