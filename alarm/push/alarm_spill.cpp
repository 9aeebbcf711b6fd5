#include "alarm/push/alarm_spill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace rovik::alarm {

namespace {

template <std::size_t N>
void Terminate(char (&field)[N]) {
  field[N - 1] = 0;
}

}  // namespace

bool SpillAlarms(const std::string& path, const std::vector<SpilledAlarm>& alarms) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  bool ok = true;
  for (const SpilledAlarm& alarm : alarms) {
    unsigned char entry[kSpillEntrySize] = {};
    std::memcpy(entry, &alarm.record, sizeof alarm.record);
    std::memcpy(entry + sizeof alarm.record, alarm.deliveryKey.data(),
                std::min(alarm.deliveryKey.size(), kSpillKeySize));
    ok = ok && ::write(fd, entry, sizeof entry) == static_cast<ssize_t>(sizeof entry);
  }
  ok = ::fsync(fd) == 0 && ok;
  ::close(fd);
  return ok;
}

std::vector<SpilledAlarm> ParseSpilledAlarms(const unsigned char* bytes, std::size_t size) {
  std::vector<SpilledAlarm> alarms;
  for (std::size_t at = 0; bytes != nullptr && at + kSpillEntrySize <= size;
       at += kSpillEntrySize) {
    SpilledAlarm alarm;
    std::memcpy(&alarm.record, bytes + at, sizeof alarm.record);
    AlarmRecord& r = alarm.record;
    Terminate(r.account);
    Terminate(r.ipcId);
    Terminate(r.ipcName);
    Terminate(r.deviceName);
    Terminate(r.deviceType);
    Terminate(r.alarmTime);
    Terminate(r.readTime);
    r.userName[std::size(r.userName) - 1] = 0;
    const char* key = reinterpret_cast<const char*>(bytes + at + sizeof alarm.record);
    alarm.deliveryKey.assign(key, strnlen(key, kSpillKeySize));
    alarms.push_back(std::move(alarm));
  }
  return alarms;
}

std::vector<SpilledAlarm> TakeSpilledAlarms(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return {};
  }
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
  file.close();
  ::unlink(path.c_str());
  return ParseSpilledAlarms(bytes.data(), bytes.size());
}

}  // namespace rovik::alarm
