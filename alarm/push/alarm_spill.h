// Alarms taken from the broker that the store could not take before the monitor stopped: kept
// in a file beside the store ("<store>.pending", readable by its user only) and stored first at
// the next start. Fixed entries of the 1240-byte record and its 16-character delivery key.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

struct SpilledAlarm {
  AlarmRecord record;
  std::string deliveryKey;
};

inline constexpr std::size_t kSpillKeySize = 16;
inline constexpr std::size_t kSpillEntrySize = sizeof(AlarmRecord) + kSpillKeySize;

// Appends the alarms to `path` (created 0600); false when they could not all be written.
bool SpillAlarms(const std::string& path, const std::vector<SpilledAlarm>& alarms);
// The entries of `bytes`: whole entries only, every text field of a record ends in its field.
std::vector<SpilledAlarm> ParseSpilledAlarms(const unsigned char* bytes, std::size_t size);
// Reads and removes the file; empty when there is none.
std::vector<SpilledAlarm> TakeSpilledAlarms(const std::string& path);

}  // namespace rovik::alarm
