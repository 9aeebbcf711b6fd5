#include "tests/camsession/scripted_camera.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/tcp_socket.h"

using namespace rovik::p2p;

ScriptedCamera::ScriptedCamera(Script script) : script_(std::move(script)) {
  fd_ = TcpListen(0, &port_);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedCamera::~ScriptedCamera() {
  done_ = true;
  thread_.join();
  close(fd_);
}

void ScriptedCamera::Serve() {
  while (!done_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) != 1) continue;
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) continue;
    Talk(client);
    close(client);
  }
}

void ScriptedCamera::Talk(int client) {
  const Send send = [client](const std::vector<uint8_t>& f) {
    WriteAll(client, f.data(), f.size());
  };
  WireStream stream;
  bool loggedIn = false;
  uint8_t buffer[4096];
  for (int round = 0; !done_; ++round) {
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 20) == 1) {
      const ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0 || !stream.Feed(buffer, static_cast<size_t>(n))) return;
      WireFrame f;
      while (stream.Next(&f)) {
        if (f.type == kWireLogin) {
          send(EncodeInt32(kWireLoginReply, 0));
          loggedIn = true;
        } else if (f.type == kWireStartVideo || f.type == kWireStartAudio ||
                   f.type == kWireStartTalk) {
          send(EncodeStartReply(f.type, 0));
        }
      }
    }
    if (loggedIn) script_(round, send);
  }
}
