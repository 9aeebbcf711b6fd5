// Stands in for the video client in the launcher's tests: records that it was started, from
// which folder, in which current folder and with which standard streams, in client-started.txt
// beside itself (or in the folder ROVIK_TEST_CLIENT_RECORD names, for a program folder that
// cannot be written).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

int main() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const std::filesystem::path folder = self.parent_path();
  const char* elsewhere = std::getenv("ROVIK_TEST_CLIENT_RECORD");
  const std::filesystem::path record = elsewhere && *elsewhere ? elsewhere : folder;
  std::ofstream out(record / "client-started.txt.part");
  out << "folder=" << folder.string() << "\n"
      << "cwd=" << std::filesystem::current_path().string() << "\n";
  for (int fd = 0; fd <= 2; ++fd) {
    std::error_code ec;
    out << "fd" << fd << "="
        << std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string()
        << "\n";
  }
  out.close();
  // Appears whole or not at all.
  std::filesystem::rename(record / "client-started.txt.part", record / "client-started.txt");
  return 0;
}
