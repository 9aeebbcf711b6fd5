#include "tests/camsession/mute_camera.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/tcp_socket.h"

using namespace rovik::p2p;

MuteCamera::MuteCamera(int answeredStarts, std::vector<Message> messages)
    : answeredStarts_(answeredStarts), messages_(std::move(messages)) {
  listenFd_ = TcpListen(0, &port_);
  thread_ = std::thread([this] { Serve(); });
}

MuteCamera::~MuteCamera() {
  done_ = true;
  thread_.join();
  for (int fd : clients_) close(fd);
  close(listenFd_);
}

void MuteCamera::Serve() {
  while (!done_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 20) != 1) continue;
    const int client = accept(listenFd_, nullptr, nullptr);
    if (client < 0) continue;
    int small = 4096;
    setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    clients_.push_back(client);
    Handle(client);
  }
}

void MuteCamera::Handle(int client) {
  WireStream stream;
  WireFrame frame;
  bool loggedIn = false;
  int answered = 0;
  uint8_t buffer[2048];
  auto send = [&](const std::vector<uint8_t>& f) { WriteAll(client, f.data(), f.size()); };
  while (!done_ && (!loggedIn || answered < answeredStarts_)) {
    if (stream.Next(&frame)) {
      if (frame.type == kWireLogin) {
        send(EncodeInt32(kWireLoginReply, 0));
        loggedIn = true;
      } else if (frame.type == kWireStartVideo || frame.type == kWireStartAudio ||
                 frame.type == kWireStartTalk) {
        send(EncodeStartReply(frame.type, 0));
        ++answered;
      }
      continue;
    }
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 20) != 1) continue;
    const ssize_t n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0 || !stream.Feed(buffer, static_cast<size_t>(n))) return;
  }
  for (const Message& m : messages_) send(EncodeMessage(m[0], m[1], m[2]));
  ++muted_;  // from here on nothing is read from this client
}
