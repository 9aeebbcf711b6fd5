// A camera that logs anyone in, accepts every start request, and otherwise sends what its script
// says: the script runs every 20 ms with the round number and a sender for whole wire frames
// (EncodeWireFrame), on the camera's own thread. Serves one connection at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class ScriptedCamera {
 public:
  using Send = std::function<void(const std::vector<uint8_t>& frame)>;
  using Script = std::function<void(int round, const Send& send)>;

  explicit ScriptedCamera(Script script);
  ~ScriptedCamera();
  ScriptedCamera(const ScriptedCamera&) = delete;
  ScriptedCamera& operator=(const ScriptedCamera&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void Serve();
  void Talk(int client);

  const Script script_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;  // joined by the destructor
};
