#include "launcher/upgrade/upgrade_install.h"

#include <sys/stat.h>

#include <cerrno>

#include "launcher/upgrade/entry_name.h"
#include "launcher/upgrade/file_copy.h"
#include "launcher/upgrade/folder_guard.h"

namespace rovik::launcher {
namespace fs = std::filesystem;

namespace {

// The permission bits a file new to the program folder gets: readable by everyone, and runnable
// when the entry says it is a program. The package's other bits are not taken over.
mode_t NewFileMode(const ArchiveEntry& entry) { return (entry.unixMode & 0111) != 0 ? 0755 : 0644; }

// Saves the program's copy of relative into the back-up folder and puts the unpacked file in its
// place, creating the folders either needs (inside their own folder only).
bool InstallFile(const InstallFolders& folders, const fs::path& relative, mode_t newFileMode) {
  const fs::path source = PathInside(folders.extractFolder, relative);
  const fs::path program = PathInside(folders.appDir, relative);
  const fs::path backup = PathInside(folders.backupFolder, relative);
  if (source.empty() || program.empty() || backup.empty()) {
    return false;
  }
  // Copies killed before their rename left hidden files beside their targets.
  RemoveCopyLeftovers(program);
  RemoveCopyLeftovers(backup);

  struct stat current {};
  if (::lstat(program.c_str(), &current) == 0) {
    // Already the package's file: an earlier run was stopped after replacing it. Its back-up
    // holds the original and must not be overwritten with the new content.
    if (SameContent(program, source)) {
      return true;
    }
    // The original is never replaced without a back-up of it.
    if (!CreateFolderLevels(folders.backupFolder, relative.parent_path()) ||
        !CopyFileReplacing(program, backup)) {
      return false;
    }
  } else if (errno != ENOENT) {
    return false;
  }
  return CreateFolderLevels(folders.appDir, relative.parent_path()) &&
         CopyFileReplacing(source, program, newFileMode);
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

void CreateInstallFolders(const fs::path& appDir) {
  if (!FolderWritable(appDir)) {
    return;
  }
  // A folder that cannot be made is left to the installation to cope with.
  for (const char* folder : {"FILE", "FILE/BackFile", "FILE/Upgrade", "FILE/Temp"}) {
    EnsureFolder(appDir / folder);
  }
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
      if (InstallFile(folders, EntryRelativePath(name), NewFileMode(entry))) {
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
