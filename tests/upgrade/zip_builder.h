// Builds zip archives byte by byte for the upgrade tests, with full control over what an archive
// says about its entries (names with any bytes, system that made them, attributes, extra fields,
// CRC and sizes), so hostile and damaged packages can be made as easily as good ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace rovik::test {

struct ZipEntrySpec {
  std::string name;  // stored bytes, may hold anything
  std::string data;
  bool deflate = true;
  uint16_t versionMadeBy = (3 << 8) | 20;  // Unix
  uint32_t externalAttributes = 0100644u << 16;
  uint16_t dosDate = (45 << 9) | (6 << 5) | 15;  // 2025-06-15
  uint16_t dosTime = (10 << 11) | (30 << 5) | 4;  // 10:30:08
  std::string extra;  // written into both the local and the central header
  uint16_t flags = 0;
  std::optional<uint32_t> crc;           // replaces the right CRC
  std::optional<uint32_t> declaredSize;  // replaces the right uncompressed size
  std::optional<std::string> rawData;    // written as the compressed data instead of data's
};

ZipEntrySpec FileEntry(std::string name, std::string data);
ZipEntrySpec FolderEntry(std::string name);
ZipEntrySpec SymlinkEntry(std::string name, std::string target);
// An entry made on MS-DOS with the given Windows attributes.
ZipEntrySpec DosEntry(std::string name, std::string data, uint32_t attributes);

// A "UT" extra block with the given flags and times.
std::string UtBlock(uint8_t flags, const std::vector<uint32_t>& times);

std::string BuildZip(const std::vector<ZipEntrySpec>& entries);
bool WriteZip(const std::filesystem::path& path, const std::vector<ZipEntrySpec>& entries);

}  // namespace rovik::test
