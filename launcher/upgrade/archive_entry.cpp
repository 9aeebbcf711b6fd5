#include "launcher/upgrade/archive_entry.h"

#include <ctime>

namespace rovik::launcher {
namespace {

constexpr uint32_t kWindowsAttributeBits =
    kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrFolder | kAttrArchive;
constexpr uint32_t kSystemUnix = 3;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixSymlink = 0120000;

uint32_t MadeBy(const StoredAttributes& stored) { return (stored.versionMadeBy >> 8) & 0xFF; }

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

std::u16string_view ArchiveEntry::Name() const {
  std::size_t length = 0;
  while (length < kMaxEntryName && name[length] != u'\0') {
    ++length;
  }
  return std::u16string_view(name, length);
}

uint32_t EntryAttributes(const StoredAttributes& stored) {
  switch (MadeBy(stored)) {
    case 0:
    case 7:
    case 11:
    case 14:
      return stored.externalAttributes & kWindowsAttributeBits;
    default: {
      uint32_t attributes = kAttrArchive;
      if (stored.externalAttributes & (1u << 30)) {
        attributes |= kAttrFolder;
      }
      if ((stored.externalAttributes & (1u << 23)) == 0) {
        attributes |= kAttrReadOnly;
      }
      return attributes;
    }
  }
}

uint32_t EntryUnixMode(const StoredAttributes& stored) {
  if (MadeBy(stored) != kSystemUnix) {
    return 0;
  }
  return (stored.externalAttributes >> 16) & 0777;
}

bool IsSymlinkEntry(const StoredAttributes& stored) {
  return MadeBy(stored) == kSystemUnix &&
         ((stored.externalAttributes >> 16) & kUnixTypeMask) == kUnixSymlink;
}

FileTime DosDateTimeToFileTime(uint32_t dosDate, uint32_t dosTime) {
  std::tm local{};
  local.tm_year = static_cast<int>(80 + ((dosDate >> 9) & 0x7F));
  local.tm_mon = static_cast<int>((dosDate >> 5) & 0x0F) - 1;
  local.tm_mday = static_cast<int>(dosDate & 0x1F);
  local.tm_hour = static_cast<int>((dosTime >> 11) & 0x1F);
  local.tm_min = static_cast<int>((dosTime >> 5) & 0x3F);
  local.tm_sec = static_cast<int>(2 * (dosTime & 0x1F));
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59) {
    return 0;
  }
  const std::time_t utc = std::mktime(&local);
  if (utc == static_cast<std::time_t>(-1) || utc < 0) {
    return 0;
  }
  return static_cast<FileTime>(utc) * 10000000ULL + kUnixEpochAsFileTime;
}

FileTime UnixTimeToFileTime(uint32_t seconds) {
  return static_cast<FileTime>(seconds) * 10000000ULL + kUnixEpochAsFileTime;
}

EntryTimes EntryTimesFrom(uint32_t dosDate, uint32_t dosTime, std::string_view extraField) {
  const FileTime dos = DosDateTimeToFileTime(dosDate, dosTime);
  EntryTimes times{dos, dos, dos};
  const auto* data = reinterpret_cast<const unsigned char*>(extraField.data());
  std::size_t pos = 0;
  const std::size_t size = extraField.size();
  while (pos + 4 <= size) {
    const uint16_t tag = Le16(data + pos);
    const std::size_t blockSize = Le16(data + pos + 2);
    const std::size_t body = pos + 4;
    if (tag == 0x5455) {  // "UT"
      // Only what lies inside both the block and the extra field is read.
      const std::size_t end = body + blockSize < size ? body + blockSize : size;
      if (body >= end) {
        break;
      }
      const unsigned flags = data[body];
      std::size_t at = body + 1;
      FileTime* targets[3] = {&times.write, &times.access, &times.creation};
      for (unsigned bit = 0; bit < 3; ++bit) {
        if ((flags & (1u << bit)) == 0) {
          continue;
        }
        if (at + 4 > end) {
          break;
        }
        *targets[bit] = UnixTimeToFileTime(Le32(data + at));
        at += 4;
      }
      break;
    }
    pos = body + blockSize;
  }
  return times;
}

struct timespec FileTimeToTimespec(FileTime time) {
  struct timespec spec {};
  if (time >= kUnixEpochAsFileTime) {
    const FileTime since = time - kUnixEpochAsFileTime;
    spec.tv_sec = static_cast<time_t>(since / 10000000ULL);
    spec.tv_nsec = static_cast<long>((since % 10000000ULL) * 100);
  }
  return spec;
}

}  // namespace rovik::launcher
