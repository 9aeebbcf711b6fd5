// Programs of the build folder load libraries from their own folder only: the dynamic section of
// every ELF file in <build>/bin names exactly $ORIGIN as its RUNPATH (an empty entry would mean
// the current folder, where anybody may put a library of the same name).
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace {

namespace fs = std::filesystem;

template <typename T>
bool ReadAt(const std::string& bytes, std::uint64_t offset, T& out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, bytes.data() + offset, sizeof(T));
  return true;
}

// "RUNPATH=<text>" and "RPATH=<text>" of a 64-bit ELF file's dynamic section, in order; nullopt
// when the file is no ELF file, an error text when it cannot be read as one.
std::optional<std::vector<std::string>> SearchPaths(const fs::path& file, std::string& error) {
  const std::string bytes = rovik::fixtures::ReadWholeFile(file);
  if (bytes.size() < SELFMAG || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
    return std::nullopt;
  std::vector<std::string> paths;
  Elf64_Ehdr header{};
  if (!ReadAt(bytes, 0, header) || header.e_ident[EI_CLASS] != ELFCLASS64) {
    error = "not a 64-bit ELF file";
    return paths;
  }
  auto section = [&](std::uint64_t index, Elf64_Shdr& out) {
    return index < header.e_shnum &&
           ReadAt(bytes, header.e_shoff + index * header.e_shentsize, out);
  };
  for (std::uint64_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr dynamic{}, strings{};
    if (!section(i, dynamic)) {
      error = "bad section table";
      return paths;
    }
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    if (!section(dynamic.sh_link, strings)) {
      error = "bad string table";
      return paths;
    }
    for (std::uint64_t at = dynamic.sh_offset; at < dynamic.sh_offset + dynamic.sh_size;
         at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry{};
      if (!ReadAt(bytes, at, entry) || entry.d_tag == DT_NULL) break;
      if (entry.d_tag != DT_RUNPATH && entry.d_tag != DT_RPATH) continue;
      const std::uint64_t text = strings.sh_offset + entry.d_un.d_val;
      if (text >= bytes.size()) {
        error = "search path outside the file";
        return paths;
      }
      paths.push_back((entry.d_tag == DT_RUNPATH ? "RUNPATH=" : "RPATH=") +
                      std::string(bytes.c_str() + text));
    }
  }
  return paths;
}

TEST(BuildTree, EveryProgramAndLibraryLoadsOnlyFromItsOwnFolder) {
  const fs::path bin = rovik::fixtures::BinDir();
  ASSERT_TRUE(fs::is_directory(bin)) << bin;
  std::vector<std::string> checked;
  for (const auto& item : fs::directory_iterator(bin)) {
    if (!item.is_regular_file()) continue;
    std::string error;
    const auto paths = SearchPaths(item.path(), error);
    if (!paths) continue;
    checked.push_back(item.path().filename().string());
    EXPECT_EQ(error, "") << item.path();
    EXPECT_EQ(*paths, std::vector<std::string>{"RUNPATH=$ORIGIN"}) << item.path();
  }
  for (const char* name : {"RovikAlarm", "Rovik", "rovik-send", "libQXPlayDll.so", "libQXDll.so"}) {
    EXPECT_NE(std::find(checked.begin(), checked.end(), name), checked.end())
        << name << " was not checked";
  }
}

}  // namespace
