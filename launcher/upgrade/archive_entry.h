// One entry of an upgrade package as the installer sees it, and how its attributes and times are
// derived from what the archive stores (system that made it, external attributes, MS-DOS date and
// time, the "UT" extended time stamp block of its extra field).
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string_view>

#include "launcher/upgrade/entry_name.h"

namespace rovik::launcher {

// Windows file attributes carried by an entry.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrFolder = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// 100-nanosecond intervals since 1 January 1601 (UTC), as file times count.
using FileTime = uint64_t;
inline constexpr FileTime kUnixEpochAsFileTime = 116444736000000000ULL;

struct ArchiveEntry {
  int32_t index = -1;
  // The reduced name, zero-terminated; empty when the entry must not be unpacked (a name that
  // leads out of its folder, a symbolic link, a NUL in the name).
  char16_t name[kMaxEntryName] = {};
  uint32_t attributes = 0;
  FileTime creationTime = 0;
  FileTime accessTime = 0;
  FileTime writeTime = 0;
  int32_t compressedSize = 0;
  int32_t uncompressedSize = 0;
  // Permission bits (0777) of an entry made on a Unix system; 0 when the entry carries none.
  uint32_t unixMode = 0;

  std::u16string_view Name() const;
  bool IsFolder() const { return (attributes & kAttrFolder) != 0; }
};

// What the archive stores about an entry, as far as attributes go.
struct StoredAttributes {
  uint32_t versionMadeBy = 0;  // high byte: the system that made the entry
  uint32_t externalAttributes = 0;
};

// Windows attributes of an entry: for entries made by systems 0, 7, 11 and 14 the low bits of the
// external attributes; for all others folder from bit 30, read-only when bit 23 (owner may write)
// is clear, archive always.
uint32_t EntryAttributes(const StoredAttributes& stored);

// Permission bits of an entry made on Unix (system 3), 0 otherwise.
uint32_t EntryUnixMode(const StoredAttributes& stored);

// True for an entry made on Unix whose file type is a symbolic link.
bool IsSymlinkEntry(const StoredAttributes& stored);

// An MS-DOS date and time (local time) as a UTC file time; 0 when the fields are no valid date.
FileTime DosDateTimeToFileTime(uint32_t dosDate, uint32_t dosTime);

// Seconds since 1 January 1970 UTC as a file time.
FileTime UnixTimeToFileTime(uint32_t seconds);

// The times of an entry: all three from the MS-DOS date and time, replaced by those found in the
// first "UT" block of the extra field (bit 0 modification, bit 1 access, bit 2 creation).
struct EntryTimes {
  FileTime creation = 0;
  FileTime access = 0;
  FileTime write = 0;
};
EntryTimes EntryTimesFrom(uint32_t dosDate, uint32_t dosTime, std::string_view extraField);

// The file time as seconds and nanoseconds since 1970 (for utimensat).
struct timespec FileTimeToTimespec(FileTime time);

}  // namespace rovik::launcher
