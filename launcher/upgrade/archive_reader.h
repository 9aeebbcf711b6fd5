// The upgrade package reader: a zip archive read through minizip, its entries listed by index
// with reduced names, attributes and times, and unpacked one by one into an extraction folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "launcher/upgrade/archive_entry.h"

namespace rovik::launcher {

struct Archive;  // opaque; one open package

// Bytes one package may inflate in all, unless SetExtractLimit says otherwise.
inline constexpr uint64_t kDefaultExtractLimit = 2ULL << 30;
// Size of the blocks an entry is unpacked and written in.
inline constexpr unsigned kExtractBlock = 16384;

// Opens a package; null when the file does not exist, cannot be read, or is no readable zip
// archive.
Archive* OpenArchive(const std::filesystem::path& package);

// The folder entries are unpacked into.
void SetExtractFolder(Archive* archive, const std::filesystem::path& folder);
const std::filesystem::path& ExtractFolder(const Archive* archive);

// Most bytes the package may inflate over all its ExtractEntry calls (zip bombs end there).
void SetExtractLimit(Archive* archive, uint64_t totalBytes);

// Number of entries found in the package's directory.
int EntryCount(const Archive* archive);

// Fills entry for 0 <= index < EntryCount; false otherwise.
bool GetEntry(Archive* archive, int index, ArchiveEntry& entry);

// Unpacks entry index into the extraction folder under name (a reduced, safe name). A folder
// entry creates the folder with every missing level. A file entry replaces any file of that name,
// is inflated in blocks of kExtractBlock bytes, checked against its declared size, the package's
// limit and its CRC, and gets the entry's attributes and times. On any failure the file is
// removed and false returned.
bool ExtractEntry(Archive* archive, int index, std::u16string_view name);

// Releases everything; null is allowed.
void CloseArchive(Archive* archive);

struct ArchiveCloser {
  void operator()(Archive* archive) const { CloseArchive(archive); }
};
using ArchivePtr = std::unique_ptr<Archive, ArchiveCloser>;

}  // namespace rovik::launcher
