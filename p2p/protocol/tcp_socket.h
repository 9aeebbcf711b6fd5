// Loopback TCP helpers shared by P2PAPI and the camera simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rovik::p2p {

// Splits "host:port"; false for anything else (no port, port 0 or above 65535, empty host).
bool SplitHostPort(const std::string& address, std::string* host, uint16_t* port);
// Connects within timeoutMs; the socket (blocking, close-on-exec, no delay, keep-alive), or -1.
int TcpConnect(const std::string& address, int timeoutMs);
// TCP keep-alive with short intervals: a peer whose host is gone (power cut, a NAT that forgot
// the connection) is noticed by the kernel within about 11 s of silence, probes included.
void EnableKeepAlive(int fd);
// Listens on 127.0.0.1:port (0 = any free port); the socket, with the bound port in *bound.
int TcpListen(uint16_t port, uint16_t* bound);
// Writes everything (no SIGPIPE); false when the peer is gone.
bool WriteAll(int fd, const void* data, size_t length);

}  // namespace rovik::p2p
