// The push-service simulator: three small HTTP servers on 127.0.0.1 answering as the push
// service (broker lookup, device registration) and the service's HTTP server (heartbeat) do.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

struct PushSimulatorOptions {
  int lookupPort = 0;  // 0 = any free port
  int regPort = 0;
  int serverPort = 0;
  std::string broker = "tcp://127.0.0.1:1883";
  std::string clientId = "rovik-client";
  std::string user = "rovik";
  std::string password = "rovik";
  int heartErrno = 0;
  std::string logFile;  // empty = log to stdout
};

// Parses the command line; nullopt (with a message in error) on a bad one.
std::optional<PushSimulatorOptions> ParsePushSimulatorArgs(int argc, char** argv,
                                                           std::string& error);

class PushSimulator {
 public:
  explicit PushSimulator(PushSimulatorOptions options);
  ~PushSimulator();  // Stop()
  PushSimulator(const PushSimulator&) = delete;
  PushSimulator& operator=(const PushSimulator&) = delete;

  // Binds the three ports and starts serving; false with error() when a port cannot be bound.
  bool Start(std::string& error);
  void Stop();

  int LookupPort() const { return lookupPort_; }
  int RegPort() const { return regPort_; }
  int ServerPort() const { return serverPort_; }

 private:
  void Log(const char* endpoint, const std::string& method, const std::string& path,
           const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body,
           int status);

  PushSimulatorOptions options_;
  std::unique_ptr<httplib::Server> lookup_;
  std::unique_ptr<httplib::Server> reg_;
  std::unique_ptr<httplib::Server> server_;
  std::vector<std::thread> threads_;  // one listener per server; joined by Stop()
  int lookupPort_ = 0;
  int regPort_ = 0;
  int serverPort_ = 0;
  std::mutex logMutex_;
  FILE* log_ = nullptr;  // guarded by logMutex_
};
