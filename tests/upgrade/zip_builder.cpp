#include "tests/upgrade/zip_builder.h"

#include <zlib.h>

#include <fstream>

namespace rovik::test {
namespace {

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

ZipEntrySpec FileEntry(std::string name, std::string data) {
  ZipEntrySpec spec;
  spec.name = std::move(name);
  spec.data = std::move(data);
  return spec;
}

ZipEntrySpec FolderEntry(std::string name) {
  ZipEntrySpec spec;
  spec.name = std::move(name);
  spec.deflate = false;
  spec.externalAttributes = (040755u << 16) | 0x10;
  return spec;
}

ZipEntrySpec SymlinkEntry(std::string name, std::string target) {
  ZipEntrySpec spec;
  spec.name = std::move(name);
  spec.data = std::move(target);
  spec.deflate = false;
  spec.externalAttributes = 0120777u << 16;
  return spec;
}

ZipEntrySpec DosEntry(std::string name, std::string data, uint32_t attributes) {
  ZipEntrySpec spec;
  spec.name = std::move(name);
  spec.data = std::move(data);
  spec.versionMadeBy = 20;
  spec.externalAttributes = attributes;
  return spec;
}

std::string UtBlock(uint8_t flags, const std::vector<uint32_t>& times) {
  std::string block;
  Put16(block, 0x5455);
  Put16(block, static_cast<uint32_t>(1 + 4 * times.size()));
  block.push_back(static_cast<char>(flags));
  for (uint32_t t : times) {
    Put32(block, t);
  }
  return block;
}

std::string BuildZip(const std::vector<ZipEntrySpec>& entries) {
  std::string out;
  std::string central;
  for (const ZipEntrySpec& e : entries) {
    const std::string stored = e.rawData ? *e.rawData : e.deflate ? RawDeflate(e.data) : e.data;
    const uint32_t crc = e.crc.value_or(static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()))));
    const uint32_t size = e.declaredSize.value_or(static_cast<uint32_t>(e.data.size()));
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t method = e.deflate ? 8 : 0;

    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, method);
    Put16(out, e.dosTime);
    Put16(out, e.dosDate);
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(stored.size()));
    Put32(out, size);
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, static_cast<uint32_t>(e.extra.size()));
    out += e.name;
    out += e.extra;
    out += stored;

    Put32(central, 0x02014b50);
    Put16(central, e.versionMadeBy);
    Put16(central, 20);
    Put16(central, e.flags);
    Put16(central, method);
    Put16(central, e.dosTime);
    Put16(central, e.dosDate);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(stored.size()));
    Put32(central, size);
    Put16(central, static_cast<uint32_t>(e.name.size()));
    Put16(central, static_cast<uint32_t>(e.extra.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.externalAttributes);
    Put32(central, offset);
    central += e.name;
    central += e.extra;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

bool WriteZip(const std::filesystem::path& path, const std::vector<ZipEntrySpec>& entries) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const std::string bytes = BuildZip(entries);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace rovik::test
