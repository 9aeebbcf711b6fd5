#include "launcher/upgrade_install.h"

#include "launcher/entry_name.h"
#include "launcher/file_copy.h"
#include "launcher/folder_guard.h"

namespace rovik::launcher {
namespace fs = std::filesystem;

namespace {

// Copies folder `from` / name to folder `to` / name when both lie inside their folders.
bool CopyInside(const fs::path& from, const fs::path& to, const fs::path& name) {
  const fs::path source = PathInside(from, name);
  const fs::path target = PathInside(to, name);
  return !source.empty() && !target.empty() && CopyFileReplacing(source, target);
}

}  // namespace

InstallFolders InstallFolders::Of(const fs::path& appDir) {
  InstallFolders folders;
  folders.appDir = appDir;
  folders.extractFolder = appDir / "FILE" / "Temp" / "";
  folders.backupFolder = appDir / "FILE" / "BackFile" / "";
  folders.upgradeFolder = appDir / "FILE" / "Upgrade" / "";
  return folders;
}

InstallResult InstallPackage(const fs::path& package, const InstallFolders& folders,
                             const InstallOptions& options) {
  InstallResult result;
  ArchivePtr archive(OpenArchive(package));
  if (!archive) {
    return result;
  }
  result.opened = true;
  SetExtractFolder(archive.get(), folders.extractFolder);
  SetExtractLimit(archive.get(), options.extractLimit);

  ArchiveEntry entry;
  for (int index = 0; GetEntry(archive.get(), index, entry); ++index) {
    if (options.stopRequested && options.stopRequested()) {
      break;
    }
    ++result.entries;
    const std::u16string_view name = entry.Name();
    if (name.empty()) {
      ++result.failed;  // a name leading out of its folder, or a link: skipped
      continue;
    }
    const bool unpacked = ExtractEntry(archive.get(), index, name);
    if (options.onEntry) {
      options.onEntry(entry);
    }
    if (!unpacked) {
      ++result.failed;
    } else if (!entry.IsFolder()) {
      const fs::path relative = EntryRelativePath(name);
      CopyInside(folders.appDir, folders.backupFolder, relative);
      if (CopyInside(folders.extractFolder, folders.appDir, relative)) {
        ++result.installed;
      }
    }
    if (options.afterEntry) {
      options.afterEntry();
    }
  }
  return result;
}

}  // namespace rovik::launcher
