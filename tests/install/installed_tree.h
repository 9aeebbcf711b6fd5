// The suite installed as a user or the Debian package installs it: a prefix holding bin/,
// lib/rovik (the program folder), include/rovik, lib/pkgconfig and share/.
//
// The tree is the build's own `cmake --install` into a temp prefix, or, when
// ROVIK_INSTALLED_PREFIX names one, a tree installed elsewhere (scripts/package-check points it at
// the Debian package unpacked with dpkg-deb -x; ROVIK_INSTALLED_AS then names the prefix the
// package was made for, /usr).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/temp_dir.h"

namespace installtest {

// The suite's version as CMake gives it to this suite (ROVIK_VERSION).
std::string ExpectedVersion();

// `cmake --install <build> --prefix <prefix> [--component <component>]`; "" with success, else the
// reason.
std::string InstallBuild(const std::filesystem::path& prefix,
                         const std::optional<std::string>& component);

class InstalledTree {
 public:
  // The given tree (ROVIK_INSTALLED_PREFIX), else the build's "suite" component installed into a
  // temp prefix. Error() says what failed.
  static std::unique_ptr<InstalledTree> SuiteTree();
  // The build's "suite" and "standins" components installed into a temp prefix (the test
  // stand-ins beside the suite, as the tests and the demo run them).
  static std::unique_ptr<InstalledTree> FullTree();
  static bool Given() { return !GivenPrefix().empty(); }

  const std::filesystem::path& Prefix() const { return prefix_; }
  std::filesystem::path ProgramFolder() const { return prefix_ / "lib" / "rovik"; }
  // The prefix the tree was installed for (what its desktop entries name).
  const std::filesystem::path& InstalledAs() const { return installedAs_; }
  const std::string& Error() const { return error_; }

 private:
  static std::filesystem::path GivenPrefix();

  std::unique_ptr<rovik::fixtures::TempDir> dir_;
  std::filesystem::path prefix_;
  std::filesystem::path installedAs_;
  std::string error_;
};

// Names of the entries of a folder (not recursive).
std::set<std::string> Entries(const std::filesystem::path& folder);

// The RUNPATH (or RPATH) of an ELF file as readelf shows it; "" when it has none.
std::string RunPath(const std::filesystem::path& elf);

// Compiles and links a C source with the flags `pkg-config --cflags --libs <modules>` gives for
// the tree's lib/pkgconfig, and nothing else. Returns the program's path, or nullopt with *error.
std::optional<std::filesystem::path> BuildWithPkgConfig(const InstalledTree& tree,
                                                        const std::filesystem::path& source,
                                                        const std::string& modules,
                                                        const std::filesystem::path& outDir,
                                                        std::string* error);

}  // namespace installtest
