#include "bench/picture_cpu.h"

#include <X11/Xlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace bench {
namespace {

double Seconds(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) {
    return 0;
  }
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The local server's lock file, /tmp/.X<display>-lock, holds its process id.
pid_t FromLockFile() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] != ':') {
    return 0;
  }
  const int display = std::atoi(name + 1);
  std::ifstream lock("/tmp/.X" + std::to_string(display) + "-lock");
  long pid = 0;
  return (lock >> pid) && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

pid_t LookUpXServer() {
  // A virtual server launched for the run may still be starting.
  Display* d = DisplayReachable(10) ? XOpenDisplay(nullptr) : nullptr;
  if (d == nullptr) {
    return 0;
  }
  ucred peer{};
  socklen_t size = sizeof(peer);
  const bool known =
      getsockopt(ConnectionNumber(d), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 0;
  XCloseDisplay(d);
  if (known) {
    return peer.pid;
  }
  const pid_t pid = FromLockFile();
  std::fprintf(stderr, "X server: the connection named no process; from the lock file: %d\n",
               static_cast<int>(pid));
  return pid;
}

}  // namespace

bool DisplayReachable(double seconds) {
  if (std::getenv("DISPLAY") == nullptr) {
    return false;
  }
  const double end = Seconds(CLOCK_MONOTONIC) + seconds;
  for (;;) {
    if (Display* d = XOpenDisplay(nullptr)) {
      XCloseDisplay(d);
      return true;
    }
    if (Seconds(CLOCK_MONOTONIC) > end) {
      return false;
    }
    usleep(100 * 1000);
  }
}

pid_t XServerPid() {
  // The display's server stays the same for the whole run.
  static const pid_t pid = LookUpXServer();
  return pid;
}

std::string ProcessName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

double ProcessCpuSeconds() { return Seconds(CLOCK_PROCESS_CPUTIME_ID); }

double CallingThreadCpuSeconds() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }

double OtherProcessCpuSeconds(pid_t pid) {
  if (pid <= 0) {
    return 0;
  }
  // The kernel's clock of the process counts in nanoseconds; the clock ticks of its stat file
  // (10 ms) would make each figure of a round of a few hundred ms a coarse step.
  clockid_t clock{};
  if (clock_getcpuclockid(pid, &clock) == 0) {
    timespec ts{};
    if (clock_gettime(clock, &ts) == 0) {
      return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
  }
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name, in parentheses, may hold spaces; the fields after it start at the state
  // (field 3). User time is field 14, system time field 15.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) {
    return 0;
  }
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  for (int number = 3; number <= 15 && (fields >> field); ++number) {
    if (number == 14) {
      user = std::strtoull(field.c_str(), nullptr, 10);
    } else if (number == 15) {
      system = std::strtoull(field.c_str(), nullptr, 10);
    }
  }
  const long ticks = sysconf(_SC_CLK_TCK);
  return ticks > 0 ? static_cast<double>(user + system) / static_cast<double>(ticks) : 0;
}

WholeCpu WholeCpuNow(pid_t server) { return {ProcessCpuSeconds(), OtherProcessCpuSeconds(server)}; }

WholeCpu operator-(const WholeCpu& a, const WholeCpu& b) {
  return {a.process - b.process, a.server - b.server};
}

double PacedBareDecodeMs(const std::vector<std::vector<uint8_t>>& units, int streams,
                         double perSecond, double seconds) {
  if (units.empty() || streams <= 0 || perSecond <= 0) {
    return 0;
  }
  std::atomic<int64_t> pictures{0};
  std::atomic<int64_t> cpuNs{0};
  std::vector<std::thread> threads;
  using Clock = std::chrono::steady_clock;
  const auto nanos = [](double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + nanos(seconds);
  const Clock::duration period = nanos(1.0 / perSecond);
  for (int s = 0; s < streams; ++s) {
    threads.emplace_back([&, s] {
      BareDecoder decoder;
      // Warmed up as the players' decoders are by the time a wall is measured.
      for (size_t u = 0; u < std::min<size_t>(50, units.size()); ++u) decoder.Decode(units[u]);
      const double cpu0 = CallingThreadCpuSeconds();
      int decoded = 0;
      // The streams start spread over one period, as cameras do.
      Clock::time_point next = start + period * s / streams;
      for (size_t u = 50; Clock::now() < end; ++u) {
        std::this_thread::sleep_until(next);
        next += period;
        decoded += decoder.Decode(units[u % units.size()]);
      }
      pictures += decoded;
      cpuNs += static_cast<int64_t>((CallingThreadCpuSeconds() - cpu0) * 1e9);
    });
  }
  for (std::thread& t : threads) t.join();
  return pictures > 0 ? static_cast<double>(cpuNs) / 1e6 / static_cast<double>(pictures) : 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : (n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

BareDecoder::BareDecoder() {
  context_ = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
  context_->thread_count = 1;
  context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  avcodec_open2(context_, context_->codec, nullptr);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
}

BareDecoder::~BareDecoder() {
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  avcodec_free_context(&context_);
  av_buffer_unref(&unit_);
}

int BareDecoder::Decode(const std::vector<uint8_t>& unit) {
  const size_t padded = unit.size() + AV_INPUT_BUFFER_PADDING_SIZE;
  if (unit_ != nullptr && (!av_buffer_is_writable(unit_) || unit_->size < padded)) {
    av_buffer_unref(&unit_);
  }
  if (unit_ == nullptr && (unit_ = av_buffer_alloc(padded)) == nullptr) {
    return 0;
  }
  std::memcpy(unit_->data, unit.data(), unit.size());
  std::memset(unit_->data + unit.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet_->buf = av_buffer_ref(unit_);
  packet_->data = unit_->data;
  packet_->size = static_cast<int>(unit.size());
  avcodec_send_packet(context_, packet_);
  av_packet_unref(packet_);
  int pictures = 0;
  while (avcodec_receive_frame(context_, frame_) == 0) {
    ++pictures;
  }
  return pictures;
}

}  // namespace bench
