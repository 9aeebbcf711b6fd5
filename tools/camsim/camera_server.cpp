#include "tools/camsim/camera_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <vector>

#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/tcp_socket.h"
#include "p2p/protocol/video_frame.h"

using namespace rovik::p2p;

using Clock = std::chrono::steady_clock;

// One client: a reader thread for its requests and a pump thread for the media.
class CameraServer::Connection {
 public:
  Connection(CameraServer& server, int fd) : server_(server), fd_(fd) {
    reader_ = std::thread(&Connection::ReadLoop, this);
  }

  ~Connection() {
    Stop();
    if (reader_.joinable()) reader_.join();
    close(fd_);
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      ending_ = true;
    }
    changed_.notify_all();
    shutdown(fd_, SHUT_RDWR);
  }

  bool finished() const { return finished_; }

 private:
  bool Send(const std::vector<uint8_t>& frame) {
    std::lock_guard<std::mutex> hold(sendLock_);
    return WriteAll(fd_, frame.data(), frame.size());
  }

  void ReadLoop() {
    WireStream stream;
    std::vector<uint8_t> buffer(64 << 10);
    bool loggedIn = false;
    std::thread pump;
    for (;;) {
      const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || !stream.Feed(buffer.data(), static_cast<size_t>(n))) break;
      WireFrame f;
      bool end = false;
      while (!end && stream.Next(&f)) {
        if (!loggedIn) {
          std::string user, password;
          const bool ok = f.type == kWireLogin &&
                          ParseLogin(f.payload, f.length, &user, &password) &&
                          user == server_.options_.user && password == server_.options_.password;
          Send(EncodeInt32(kWireLoginReply, ok ? 0 : 1));
          if (!ok) {
            end = true;
            break;
          }
          loggedIn = true;
          pump = std::thread(&Connection::PumpLoop, this);
          continue;
        }
        Handle(f);
      }
      if (end || stream.broken()) break;
    }
    Stop();
    if (pump.joinable()) pump.join();
    finished_ = true;
  }

  void Handle(const WireFrame& f) {
    const CameraOptions& o = server_.options_;
    switch (f.type) {
      case kWireStartVideo:
        SetFlag(&video_, !o.refuseVideo, kWireStartVideo);
        break;
      case kWireStartAudio:
        SetFlag(&audio_, !o.refuseAudio, kWireStartAudio);
        break;
      case kWireStartTalk:
        SetFlag(&talk_, !o.refuseTalk, kWireStartTalk);
        break;
      case kWireStopVideo:
        SetFlag(&video_, false, 0);
        break;
      case kWireStopAudio:
        SetFlag(&audio_, false, 0);
        break;
      case kWireStopTalk:
        SetFlag(&talk_, false, 0);
        break;
      case kWireTalkData: {
        bool on;
        {
          std::lock_guard<std::mutex> hold(lock_);
          on = talk_;
        }
        if (on) server_.AppendTalk(f.payload, f.length);
        break;
      }
      case kWireMessage: {
        int64_t v[3];
        if (ParseMessage(f.payload, f.length, v)) Send(EncodeMessage(v[0] + 1, v[1], v[2]));
        break;
      }
      default:
        break;
    }
  }

  // Switches a stream; a start is answered, started or refused. The answer goes out before the
  // stream's first block, so the client knows the stream started when its data arrives.
  void SetFlag(bool* flag, bool on, uint16_t request) {
    if (request != 0) Send(EncodeStartReply(request, on ? 0 : -6));
    {
      std::lock_guard<std::mutex> hold(lock_);
      *flag = on;
    }
    changed_.notify_all();
  }

  void PumpLoop() {
    const auto framePeriod = std::chrono::microseconds(1000000 / server_.options_.fps);
    const auto audioPeriod = std::chrono::milliseconds(40);
    auto nextFrame = Clock::now();
    auto nextAudio = Clock::now();
    uint64_t frameIndex = 0;
    ToneSource tone;
    uint8_t pcm[640];
    std::vector<uint8_t> frame;
    std::unique_lock<std::mutex> hold(lock_);
    while (!ending_) {
      const bool video = video_ && !server_.video_.empty();
      const bool audio = audio_;
      if (!video && !audio) {
        changed_.wait(hold);
        nextFrame = nextAudio = Clock::now();
        continue;
      }
      auto now = Clock::now();
      if (video && now >= nextFrame) {
        const MediaFrame& m = server_.video_.at(frameIndex);
        VideoFrameHeader h;
        h.frameType = m.frameType;
        h.frameValue = static_cast<uint32_t>(frameIndex * 1000 / server_.options_.fps);
        h.payloadLength = static_cast<uint32_t>(m.bytes.size());
        frame.assign(kVideoFrameHeaderBytes + m.bytes.size(), 0);
        WriteVideoFrameHeader(frame.data(), h);
        std::copy(m.bytes.begin(), m.bytes.end(), frame.begin() + kVideoFrameHeaderBytes);
        hold.unlock();
        const bool sent = Send(EncodeWireFrame(kWireVideoFrame, frame.data(), frame.size()));
        hold.lock();
        if (!sent) break;
        ++server_.framesSent_;
        ++frameIndex;
        nextFrame += framePeriod;
        if (nextFrame < now - std::chrono::seconds(1)) nextFrame = now;  // fell far behind
        continue;
      }
      if (audio && now >= nextAudio) {
        tone.Next(pcm);
        hold.unlock();
        const bool sent = Send(EncodeWireFrame(kWireAudioData, pcm, sizeof pcm));
        hold.lock();
        if (!sent) break;
        nextAudio += audioPeriod;
        if (nextAudio < now - std::chrono::seconds(1)) nextAudio = now;
        continue;
      }
      auto wake = video ? nextFrame : nextAudio;
      if (video && audio) wake = std::min(nextFrame, nextAudio);
      changed_.wait_until(hold, wake);
    }
  }

  CameraServer& server_;
  const int fd_;
  std::thread reader_;   // joined by the destructor; it owns and joins the pump
  std::mutex sendLock_;  // serialises writes on fd_
  std::mutex lock_;      // guards video_, audio_, talk_, ending_
  std::condition_variable changed_;
  bool video_ = false;
  bool audio_ = false;
  bool talk_ = false;
  bool ending_ = false;
  std::atomic<bool> finished_{false};
};

CameraServer::CameraServer(CameraOptions options, VideoSource video)
    : options_(std::move(options)), video_(std::move(video)) {}

CameraServer::~CameraServer() {
  Stop();
  if (listenFd_ >= 0) close(listenFd_);
}

bool CameraServer::Listen(std::string* error) {
  listenFd_ = TcpListen(options_.port, &port_);
  if (listenFd_ < 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port);
    return false;
  }
  if (!options_.talkOut.empty()) {
    if (FILE* f = std::fopen(options_.talkOut.c_str(), "wb")) {
      std::fclose(f);
    } else {
      *error = "cannot write " + options_.talkOut;
      return false;
    }
  }
  return true;
}

void CameraServer::Start() { acceptor_ = std::thread(&CameraServer::AcceptLoop, this); }

void CameraServer::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> hold(connectionsLock_);
    all.swap(connections_);
  }
  all.clear();  // each connection stops and joins its threads
}

void CameraServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 100) != 1) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    EnableKeepAlive(fd);
    std::lock_guard<std::mutex> hold(connectionsLock_);
    connections_.remove_if([](const std::unique_ptr<Connection>& c) { return c->finished(); });
    connections_.push_back(std::make_unique<Connection>(*this, fd));
  }
}

void CameraServer::AppendTalk(const uint8_t* data, size_t n) {
  if (options_.talkOut.empty()) return;
  std::lock_guard<std::mutex> hold(talkLock_);
  if (FILE* f = std::fopen(options_.talkOut.c_str(), "ab")) {
    std::fwrite(data, 1, n, f);
    std::fclose(f);
  }
}
