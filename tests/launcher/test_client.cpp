// Stands in for the video client in the launcher's tests: records that it was started, from
// which folder and in which current folder, in client-started.txt beside itself.
#include <unistd.h>

#include <filesystem>
#include <fstream>

int main() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const std::filesystem::path folder = self.parent_path();
  std::ofstream out(folder / "client-started.txt.part");
  out << "folder=" << folder.string() << "\n"
      << "cwd=" << std::filesystem::current_path().string() << "\n";
  out.close();
  // Appears whole or not at all.
  std::filesystem::rename(folder / "client-started.txt.part", folder / "client-started.txt");
  return 0;
}
