// The simulated camera: accepts clients on 127.0.0.1, checks their login, streams video and
// audio when asked, records talk-back PCM to a file and answers messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/camsim/media_source.h"

struct CameraOptions {
  uint16_t port = 0;
  std::string user = "admin";
  std::string password = "admin";
  int fps = 25;
  bool refuseVideo = false;
  bool refuseAudio = false;
  bool refuseTalk = false;
  std::string talkOut;  // file that receives talk-back PCM; empty = discarded
};

class CameraServer {
 public:
  CameraServer(CameraOptions options, VideoSource video);
  ~CameraServer();  // stops

  bool Listen(std::string* error);
  uint16_t port() const { return port_; }
  // Accepts clients on a thread of its own until Stop.
  void Start();
  void Stop();

  int64_t framesSent() const { return framesSent_; }

 private:
  class Connection;
  void AcceptLoop();
  void AppendTalk(const uint8_t* data, size_t n);

  const CameraOptions options_;
  const VideoSource video_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> framesSent_{0};
  std::thread acceptor_;  // started by Start, joined by Stop

  std::mutex connectionsLock_;  // guards connections_
  std::list<std::unique_ptr<Connection>> connections_;

  std::mutex talkLock_;  // guards writes to the talk-back file
};
