#include "launcher/upgrade/archive_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "launcher/upgrade/entry_name.h"
#include "launcher/upgrade/file_copy.h"
#include "launcher/upgrade/folder_guard.h"

namespace rovik::launcher {
namespace fs = std::filesystem;

struct Archive {
  unzFile zip = nullptr;
  std::vector<unz64_file_pos> entries;  // directory position of every entry, by index
  fs::path extractFolder;
  uint64_t limit = kDefaultExtractLimit;
  uint64_t inflated = 0;  // bytes inflated by every ExtractEntry so far
};

namespace {

// What one entry's directory record says, read with the minizip cursor placed on it.
struct EntryRecord {
  unz_file_info64 info{};
  std::string rawName;
  std::string extra;
};

bool ReadRecord(Archive* archive, int index, EntryRecord& record) {
  if (archive == nullptr || index < 0 || static_cast<size_t>(index) >= archive->entries.size()) {
    return false;
  }
  if (unzGoToFilePos64(archive->zip, &archive->entries[static_cast<size_t>(index)]) != UNZ_OK) {
    return false;
  }
  if (unzGetCurrentFileInfo64(archive->zip, &record.info, nullptr, 0, nullptr, 0, nullptr, 0) !=
      UNZ_OK) {
    return false;
  }
  // Both lengths come from 16-bit fields of the directory.
  record.rawName.assign(record.info.size_filename, '\0');
  record.extra.assign(record.info.size_file_extra, '\0');
  return unzGetCurrentFileInfo64(archive->zip, &record.info, record.rawName.data(),
                                 static_cast<uLong>(record.rawName.size()), record.extra.data(),
                                 static_cast<uLong>(record.extra.size()), nullptr, 0) == UNZ_OK;
}

int32_t Narrow(ZPOS64_T size) {
  return size > static_cast<ZPOS64_T>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
}

void FillEntry(int index, const EntryRecord& record, ArchiveEntry& entry) {
  entry = ArchiveEntry{};
  entry.index = index;
  const StoredAttributes stored{static_cast<uint32_t>(record.info.version),
                                static_cast<uint32_t>(record.info.external_fa)};
  if (!IsSymlinkEntry(stored)) {
    const std::u16string name = EntryNameFromArchive(record.rawName);
    std::copy_n(name.begin(), std::min(name.size(), kMaxEntryName - 1), entry.name);
  }
  entry.attributes = EntryAttributes(stored);
  entry.unixMode = EntryUnixMode(stored);
  const uint32_t dos = static_cast<uint32_t>(record.info.dosDate);
  const EntryTimes times = EntryTimesFrom(dos >> 16, dos & 0xFFFF, record.extra);
  entry.creationTime = times.creation;
  entry.accessTime = times.access;
  entry.writeTime = times.write;
  entry.compressedSize = Narrow(record.info.compressed_size);
  entry.uncompressedSize = Narrow(record.info.uncompressed_size);
}

// The permission bits an unpacked file gets: the Unix bits it came with (never writable by
// others), else ordinary ones; a read-only entry loses every write bit.
mode_t FileMode(const ArchiveEntry& entry) {
  mode_t mode = entry.unixMode != 0 ? static_cast<mode_t>(entry.unixMode & 0755) | S_IRUSR : 0644;
  if (entry.attributes & kAttrReadOnly) {
    mode &= static_cast<mode_t>(~0222);
  } else {
    mode |= S_IWUSR;
  }
  return mode;
}

// Inflates the current entry of the archive into fd. False on corrupt data, a size other than the
// declared one, the package's limit being reached, or a failed write.
bool Inflate(Archive* archive, const EntryRecord& record, int fd) {
  const uint64_t declared = record.info.uncompressed_size;
  if (declared > archive->limit - std::min(archive->limit, archive->inflated)) {
    return false;
  }
  if (unzOpenCurrentFile(archive->zip) != UNZ_OK) {
    return false;
  }
  std::vector<char> block(kExtractBlock);
  uint64_t written = 0;
  bool ok = true;
  for (;;) {
    const int got = unzReadCurrentFile(archive->zip, block.data(), kExtractBlock);
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) {
      break;
    }
    written += static_cast<uint64_t>(got);
    archive->inflated += static_cast<uint64_t>(got);
    if (written > declared || archive->inflated > archive->limit ||
        !WriteAll(fd, block.data(), static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  // Closing checks the CRC once everything has been read.
  const int closed = unzCloseCurrentFile(archive->zip);
  return ok && closed == UNZ_OK && written == declared;
}

}  // namespace

Archive* OpenArchive(const fs::path& package) {
  struct stat info {};
  if (package.empty() || ::stat(package.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  unzFile zip = unzOpen64(package.c_str());
  if (zip == nullptr) {
    return nullptr;
  }
  auto* archive = new Archive;
  archive->zip = zip;
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz64_file_pos pos{};
    if (unzGetFilePos64(zip, &pos) != UNZ_OK || archive->entries.size() >= INT32_MAX) {
      break;
    }
    archive->entries.push_back(pos);
  }
  return archive;
}

void SetExtractFolder(Archive* archive, const fs::path& folder) {
  if (archive == nullptr) {
    return;
  }
  archive->extractFolder = folder;
  if (!folder.empty() && folder.has_filename()) {
    archive->extractFolder /= "";
  }
}

const fs::path& ExtractFolder(const Archive* archive) {
  static const fs::path none;
  return archive == nullptr ? none : archive->extractFolder;
}

void SetExtractLimit(Archive* archive, uint64_t totalBytes) {
  if (archive != nullptr) {
    archive->limit = totalBytes;
  }
}

int EntryCount(const Archive* archive) {
  return archive == nullptr ? 0 : static_cast<int>(archive->entries.size());
}

bool GetEntry(Archive* archive, int index, ArchiveEntry& entry) {
  EntryRecord record;
  if (!ReadRecord(archive, index, record)) {
    return false;
  }
  FillEntry(index, record, entry);
  return true;
}

bool ExtractEntry(Archive* archive, int index, std::u16string_view name) {
  EntryRecord record;
  if (!IsSafeEntryName(name) || !ReadRecord(archive, index, record) ||
      archive->extractFolder.empty()) {
    return false;
  }
  ArchiveEntry entry;
  FillEntry(index, record, entry);
  if (entry.Name().empty()) {
    return false;  // a name leading out of its folder, or a link
  }
  const fs::path& folder = archive->extractFolder;
  if (entry.IsFolder()) {
    return EnsureFolder(folder) && CreateFolderLevels(folder, EntryRelativePath(name));
  }
  const EntryNameParts parts = SplitEntryName(name);
  if (parts.file.empty() || !EnsureFolder(folder) ||
      !CreateFolderLevels(folder, EntryRelativePath(parts.folder))) {
    return false;
  }
  const fs::path target = PathInside(folder, EntryRelativePath(name));
  if (target.empty()) {
    return false;
  }
  // Whatever an earlier run left under this name goes first, so it can never be taken for
  // this run's file.
  if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
    return false;
  }
  if ((record.info.flag & 1) != 0) {
    return false;  // encrypted: no password is ever given
  }
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  // Linux keeps no settable creation time; access and modification times are set when known.
  struct timespec times[2] = {FileTimeToTimespec(entry.accessTime),
                              FileTimeToTimespec(entry.writeTime)};
  if (entry.accessTime == 0) {
    times[0].tv_nsec = UTIME_OMIT;
  }
  if (entry.writeTime == 0) {
    times[1].tv_nsec = UTIME_OMIT;
  }
  bool ok = Inflate(archive, record, fd) && ::fchmod(fd, FileMode(entry)) == 0 &&
            ::futimens(fd, times) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(target.c_str());
  }
  return ok;
}

void CloseArchive(Archive* archive) {
  if (archive == nullptr) {
    return;
  }
  if (archive->zip != nullptr) {
    unzClose(archive->zip);
  }
  delete archive;
}

}  // namespace rovik::launcher
