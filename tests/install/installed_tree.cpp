#include "tests/install/installed_tree.h"

#include <cstdlib>
#include <sstream>

#include "tests/fixtures/test_env.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using rovik::fixtures::RunProgram;

namespace installtest {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

std::string ExpectedVersion() { return Variable("ROVIK_VERSION"); }

std::string InstallBuild(const fs::path& prefix, const std::optional<std::string>& component) {
  const std::string cmake = Variable("ROVIK_CMAKE");
  if (cmake.empty()) return "ROVIK_CMAKE is not set";
  std::vector<std::string> args = {"--install", rovik::fixtures::BuildDir().string(), "--prefix",
                                   prefix.string()};
  if (component) args.insert(args.end(), {"--component", *component});
  auto r = RunProgram(cmake, args, 120s);
  if (!r.status.Success()) return "cmake --install failed: " + r.out + r.err;
  return "";
}

fs::path InstalledTree::GivenPrefix() { return Variable("ROVIK_INSTALLED_PREFIX"); }

std::unique_ptr<InstalledTree> InstalledTree::SuiteTree() {
  auto tree = std::make_unique<InstalledTree>();
  if (Given()) {
    tree->prefix_ = GivenPrefix();
    const std::string as = Variable("ROVIK_INSTALLED_AS");
    tree->installedAs_ = as.empty() ? tree->prefix_ : fs::path(as);
    return tree;
  }
  tree->dir_ = std::make_unique<rovik::fixtures::TempDir>("rovik-install-");
  tree->prefix_ = tree->installedAs_ = tree->dir_->Path() / "prefix";
  tree->error_ = InstallBuild(tree->prefix_, "suite");
  return tree;
}

std::unique_ptr<InstalledTree> InstalledTree::FullTree() {
  auto tree = std::make_unique<InstalledTree>();
  tree->dir_ = std::make_unique<rovik::fixtures::TempDir>("rovik-install-");
  tree->prefix_ = tree->installedAs_ = tree->dir_->Path() / "prefix";
  tree->error_ = InstallBuild(tree->prefix_, "suite");
  if (tree->error_.empty()) tree->error_ = InstallBuild(tree->prefix_, "standins");
  return tree;
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    names.insert(entry.path().filename().string());
  return names;
}

std::string RunPath(const fs::path& elf) {
  auto r = RunProgram("/usr/bin/readelf", {"-d", elf.string()}, 20s);
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (line.find("(RUNPATH)") == std::string::npos && line.find("(RPATH)") == std::string::npos)
      continue;
    const auto open = line.find('[');
    const auto close = line.rfind(']');
    if (open != std::string::npos && close > open) return line.substr(open + 1, close - open - 1);
  }
  return "";
}

std::optional<fs::path> BuildWithPkgConfig(const InstalledTree& tree, const fs::path& source,
                                           const std::string& modules, const fs::path& outDir,
                                           std::string* error) {
  auto env = rovik::fixtures::WithVariable(rovik::fixtures::CurrentEnvironment(), "PKG_CONFIG_PATH",
                                           (tree.Prefix() / "lib" / "pkgconfig").string());
  rovik::fixtures::ChildOptions options;
  options.env = env;
  std::vector<std::string> pkgArgs = {"--cflags", "--libs"};
  for (const auto& m : Words(modules)) pkgArgs.push_back(m);
  auto flags = RunProgram("/usr/bin/pkg-config", pkgArgs, 20s, options);
  if (!flags.status.Success()) {
    *error = "pkg-config " + modules + ": " + flags.err;
    return std::nullopt;
  }
  const fs::path program = outDir / source.stem();
  std::vector<std::string> ccArgs = {source.string(), "-o", program.string()};
  for (const auto& w : Words(flags.out)) ccArgs.push_back(w);
  const std::string cc = Variable("ROVIK_CC").empty() ? "/usr/bin/cc" : Variable("ROVIK_CC");
  auto built = RunProgram(cc, ccArgs, 120s, options);
  if (!built.status.Success()) {
    *error = cc + " with " + flags.out + ": " + built.err;
    return std::nullopt;
  }
  return program;
}

}  // namespace installtest
