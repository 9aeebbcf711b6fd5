// Installing an upgrade package over the program folder: every entry is unpacked into
// FILE/Temp/, the program's current copy of the file is saved into FILE/BackFile/, and the
// unpacked file is copied over the program's own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "launcher/upgrade/archive_entry.h"
#include "launcher/upgrade/archive_reader.h"

namespace rovik::launcher {

// The folders of an installation, all below the program folder.
struct InstallFolders {
  std::filesystem::path appDir;         // the program folder
  std::filesystem::path extractFolder;  // appDir/FILE/Temp/
  std::filesystem::path backupFolder;   // appDir/FILE/BackFile/
  std::filesystem::path upgradeFolder;  // appDir/FILE/Upgrade/

  static InstallFolders Of(const std::filesystem::path& appDir);
};

// Makes FILE/, FILE/BackFile/, FILE/Upgrade/ and FILE/Temp/ below appDir where they are missing
// (one level each). Nothing is made in a program folder that cannot be written.
void CreateInstallFolders(const std::filesystem::path& appDir);

struct InstallOptions {
  uint64_t extractLimit = kDefaultExtractLimit;
  // Called after each entry has been unpacked, before its copies (the status line).
  std::function<void(const ArchiveEntry&)> onEntry;
  // Called after each entry's copies (the pause between entries).
  std::function<void()> afterEntry;
  // Asked before each entry; true ends the installation early (the program is ending).
  std::function<bool()> stopRequested;
};

struct InstallResult {
  bool opened = false;  // the package could be opened
  int entries = 0;      // entries walked
  int installed = 0;    // files copied into the program folder
  int failed = 0;       // entries refused or failed to unpack, never installed
};

// Installs package into folders.appDir. An entry that cannot be unpacked (refused name, link,
// corrupt data, bad CRC, over a limit) is never installed and no back-up is made for it.
// The program's copy of a file is saved into the back-up folder before it is replaced, and a file
// whose back-up cannot be made is not replaced. A program file that already holds the entry's
// bytes is left alone with its back-up, so a run stopped at any moment (even killed) and run again
// keeps every original in the back-up folder; hidden temporary files a killed copy left are
// removed. Back-ups and installed files create the subfolders they need, inside their folders
// only. A replaced file keeps its permission bits; a new file gets 0644, or 0755 when the entry is
// marked executable.
InstallResult InstallPackage(const std::filesystem::path& package, const InstallFolders& folders,
                             const InstallOptions& options = {});

}  // namespace rovik::launcher
