// Entry names and extra fields of upgrade packages: whatever the bytes, a name that is accepted
// stays inside the extraction folder, and the extra-field walk reads only what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launcher/upgrade/archive_entry.h"
#include "launcher/upgrade/entry_name.h"

using namespace rovik::launcher;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string name = EntryNameFromArchive(bytes);
  if (!name.empty()) {
    if (!IsSafeEntryName(name) || name.size() >= kMaxEntryName) {
      std::abort();
    }
    const std::filesystem::path folder("/upgrade/FILE/Temp");
    const std::string joined = (folder / EntryRelativePath(name)).lexically_normal().string();
    if (joined.rfind("/upgrade/FILE/Temp/", 0) != 0) {
      std::abort();
    }
    const EntryNameParts parts = SplitEntryName(name);
    if (parts.folder.size() + parts.file.size() > name.size()) {
      std::abort();
    }
  }
  // Reduction alone must always end and never grow the name.
  const std::u16string wide(bytes.begin(), bytes.end());
  if (ReduceEntryName(wide).size() > wide.size()) {
    std::abort();
  }
  const EntryTimes times = EntryTimesFrom(0x5AC6, 0x5124, bytes);
  (void)times;
  return 0;
}
