// CPU time of a process's threads picked by name, for benchmarks that budget one worker thread.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <time.h>

#include <fstream>
#include <string>

// Summed CPU seconds of this process's threads carrying the given name.
inline double ThreadCpuSeconds(const std::string& name) {
  double total = 0;
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string got;
    std::getline(comm, got);
    if (got != name) continue;
    const pid_t tid = static_cast<pid_t>(std::stol(e->d_name));
    // The kernel's per-thread CPU clock of a thread id.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (clock_gettime(clock, &ts) == 0) total += static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
  }
  closedir(d);
  return total;
}
