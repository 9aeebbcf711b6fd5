// A camera that stops reading: it logs anyone in, answers the first start requests (so that
// talk-back can be switched on), sends the messages it was given, and from then on never reads
// its socket again, which it keeps open (small receive buffer) until it is destroyed. Serves any
// number of connections, one after the other.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MuteCamera {
 public:
  using Message = std::array<int64_t, 3>;

  // answeredStarts: START_* requests answered (accepted) before the camera goes mute.
  explicit MuteCamera(int answeredStarts = 0, std::vector<Message> messages = {});
  ~MuteCamera();
  MuteCamera(const MuteCamera&) = delete;
  MuteCamera& operator=(const MuteCamera&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Connections that have gone mute so far.
  int muted() const { return muted_; }

 private:
  void Serve();
  void Handle(int client);

  const int answeredStarts_;
  const std::vector<Message> messages_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> done_{false};
  std::atomic<int> muted_{0};
  std::vector<int> clients_;  // only touched by the serving thread, then the destructor
  std::thread thread_;        // joined by the destructor
};
