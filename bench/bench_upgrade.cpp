// Installing an upgrade package: unpacking a 50 MB mixed package entry by entry, against
// `unzip -o -q` of the same package in the same run, and the whole install with back-ups and
// copies (without the pauses between entries the splash window makes).
#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "launcher/upgrade/archive_reader.h"
#include "launcher/upgrade/upgrade_install.h"

namespace fs = std::filesystem;
using namespace rovik::launcher;

namespace {

// The package and the folders the runs unpack into, made once.
struct Workspace {
  fs::path root;
  fs::path package;
  uint64_t bytes = 0;

  Workspace() {
    char pattern[] = "/tmp/rovik-bench-upgrade-XXXXXX";
    root = ::mkdtemp(pattern);
    package = root / "patch.zip";
    std::mt19937 random(2026);
    zipFile zip = zipOpen64(package.c_str(), 0);
    auto add = [&](const std::string& name, const std::string& data) {
      zip_fileinfo info{};
      info.external_fa = 0100644u << 16;
      zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                            Z_DEFAULT_COMPRESSION, 0);
      zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
      zipCloseFileInZip(zip);
      bytes += data.size();
    };
    // Programs and libraries: barely compressible.
    for (int i = 0; i < 12; ++i) {
      std::string data(2 << 20, '\0');
      for (size_t k = 0; k < data.size(); k += 4) {
        const uint32_t v = random();
        data[k] = static_cast<char>(v);
        data[k + 1] = static_cast<char>(v >> 8);
        data[k + 2] = (v & 0x30000) ? static_cast<char>(v >> 16) : 0;
        data[k + 3] = 0;
      }
      add("lib/module" + std::to_string(i) + ".so", data);
    }
    // Text resources: very compressible.
    for (int i = 0; i < 40; ++i) {
      std::string data;
      while (data.size() < (600 << 10)) {
        data += "alarm " + std::to_string(random() % 1000) + " camera " +
                std::to_string(random() % 64) + " state ok\n";
      }
      add("FILE/text" + std::to_string(i) + ".txt", data);
    }
    // Many small pictures.
    for (int i = 0; i < 400; ++i) {
      std::string data(4096 + random() % 8192, '\0');
      for (char& c : data) {
        c = static_cast<char>(random() % 32);
      }
      add("skin/pic" + std::to_string(i) + ".png", data);
    }
    zipClose(zip, nullptr);
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Workspace& Space() {
  static Workspace space;
  return space;
}

void BM_UnzipReference(benchmark::State& state) {
  Workspace& space = Space();
  const fs::path out = space.root / "unzip";
  const std::string command =
      "unzip -o -q '" + space.package.string() + "' -d '" + out.string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("unzip failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * space.bytes));
}

void BM_ExtractEntries(benchmark::State& state) {
  Workspace& space = Space();
  const fs::path out = space.root / "extract" / "";
  for (auto _ : state) {
    ArchivePtr archive(OpenArchive(space.package));
    SetExtractFolder(archive.get(), out);
    ArchiveEntry entry;
    int failed = 0;
    for (int i = 0; GetEntry(archive.get(), i, entry); ++i) {
      failed += ExtractEntry(archive.get(), i, entry.Name()) ? 0 : 1;
    }
    if (failed != 0) {
      state.SkipWithError("an entry failed to unpack");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * space.bytes));
}

void BM_InstallPackage(benchmark::State& state) {
  Workspace& space = Space();
  const InstallFolders folders = InstallFolders::Of(space.root / "program");
  for (const fs::path& f : {folders.extractFolder, folders.backupFolder, folders.appDir / "skin",
                            folders.appDir / "lib", folders.backupFolder / "skin"}) {
    fs::create_directories(f);
  }
  for (auto _ : state) {
    const InstallResult result = InstallPackage(space.package, folders);
    if (result.failed != 0) {
      state.SkipWithError("an entry failed to install");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * space.bytes));
}

BENCHMARK(BM_UnzipReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);
BENCHMARK(BM_ExtractEntries)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);
BENCHMARK(BM_InstallPackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

// Prints as usual and keeps each benchmark's real time for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.times;
  if (t.count("BM_UnzipReference") && t.count("BM_ExtractEntries")) {
    std::printf("package: %.1f MB\n", static_cast<double>(Space().bytes) / 1e6);
    std::printf("ratio extract / unzip -o -q: %.2f (target <= 1.0)\n",
                t.at("BM_ExtractEntries") / t.at("BM_UnzipReference"));
    if (t.count("BM_InstallPackage")) {
      std::printf("ratio install with back-ups and copies / unzip -o -q: %.2f\n",
                  t.at("BM_InstallPackage") / t.at("BM_UnzipReference"));
    }
  }
  benchmark::Shutdown();
  return 0;
}
