#include "tools/pushsim/push_simulator.h"

#include <httplib.h>
#include <json/json.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "alarm/store/private_file/private_file.h"
#include "platform/program_options.h"

using namespace rovik::alarm;

namespace {

std::string JsonLine(const Json::Value& v) {
  Json::StreamWriterBuilder w;
  w["indentation"] = "";
  w["emitUTF8"] = true;
  return Json::writeString(w, v);
}

bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

}  // namespace

std::optional<PushSimulatorOptions> ParsePushSimulatorArgs(int argc, char** argv,
                                                           std::string& error) {
  PushSimulatorOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      error = "missing value after " + arg;
      return std::nullopt;
    }
    const char* value = argv[++i];
    if (arg == "--lookup-port" || arg == "--reg-port" || arg == "--server-port") {
      int& port = arg == "--lookup-port" ? o.lookupPort
                  : arg == "--reg-port"  ? o.regPort
                                         : o.serverPort;
      if (!ParsePort(value, port)) {
        error = "bad port for " + arg + ": " + value;
        return std::nullopt;
      }
    } else if (arg == "--broker") {
      o.broker = value;
    } else if (arg == "--client-id") {
      o.clientId = value;
    } else if (arg == "--user") {
      o.user = value;
    } else if (arg == "--password-file") {
      // Not on the command line, where every local user could read it.
      auto secret = rovik::platform::ReadSecretFile(value, &error);
      if (!secret) return std::nullopt;
      o.password = *secret;
    } else if (arg == "--log") {
      o.logFile = value;
    } else if (arg == "--heart-errno") {
      char* end = nullptr;
      long v = std::strtol(value, &end, 10);
      if (end == value || *end != '\0') {
        error = std::string("bad errno: ") + value;
        return std::nullopt;
      }
      o.heartErrno = static_cast<int>(v);
    } else {
      error = "unknown option " + arg;
      return std::nullopt;
    }
  }
  return o;
}

PushSimulator::PushSimulator(PushSimulatorOptions options) : options_(std::move(options)) {}

PushSimulator::~PushSimulator() { Stop(); }

bool PushSimulator::Start(std::string& error) {
  if (!options_.logFile.empty()) {
    // The log holds the heartbeats' passwords: only the user may read it.
    rovik::alarm::MakeFilePrivate(options_.logFile, true, "pushsim");
    log_ = std::fopen(options_.logFile.c_str(), "a");
    if (!log_) {
      error = "cannot open log file " + options_.logFile;
      return false;
    }
  }
  lookup_ = std::make_unique<httplib::Server>();
  reg_ = std::make_unique<httplib::Server>();
  server_ = std::make_unique<httplib::Server>();

  auto headersOf = [](const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> h;
    for (const auto& [name, value] : req.headers) {
      // cpp-httplib adds the peer's address among the headers; it was not sent.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT")
        continue;
      h.emplace_back(name, value);
    }
    return h;
  };
  auto answer = [this, headersOf](const char* endpoint, const httplib::Request& req,
                                  httplib::Response& res, const Json::Value& reply) {
    res.set_content(JsonLine(reply), "application/json");
    Log(endpoint, req.method, req.target, headersOf(req), req.body, 200);
  };

  // Broker lookup: any path of its port.
  lookup_->Post(".*", [this, answer](const httplib::Request& req, httplib::Response& res) {
    Json::Value v;
    v["c"] = options_.broker;
    answer("lookup", req, res, v);
  });
  reg_->Post("/device/reg/", [this, answer](const httplib::Request& req, httplib::Response& res) {
    Json::Value v;
    v["c"] = options_.clientId;
    v["u"] = options_.user;
    v["p"] = options_.password;
    answer("reg", req, res, v);
  });
  server_->Post("/api/client/ipc/windows_heart",
                [this, answer](const httplib::Request& req, httplib::Response& res) {
                  Json::Value v;
                  v["errno"] = options_.heartErrno;
                  answer("heartbeat", req, res, v);
                });
  // Anything else is logged and refused, so a test sees a wrong path or verb.
  for (const auto& entry : {std::pair{"lookup", lookup_.get()}, std::pair{"reg", reg_.get()},
                            std::pair{"heartbeat", server_.get()}}) {
    const char* name = entry.first;
    entry.second->set_error_handler(
        [this, name, headersOf](const httplib::Request& req, httplib::Response& res) {
          Log(name, req.method, req.target, headersOf(req), req.body, res.status);
        });
  }

  // Only SO_REUSEADDR: with the library's default SO_REUSEPORT a second simulator could share a
  // port with the first and split its traffic.
  for (httplib::Server* srv : {lookup_.get(), reg_.get(), server_.get()}) {
    srv->set_socket_options([](int sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
  }

  struct Slot {
    httplib::Server* server;
    int wanted;
    int* bound;
    const char* name;
  };
  for (const Slot& s : {Slot{lookup_.get(), options_.lookupPort, &lookupPort_, "lookup"},
                        Slot{reg_.get(), options_.regPort, &regPort_, "reg"},
                        Slot{server_.get(), options_.serverPort, &serverPort_, "server"}}) {
    if (s.wanted == 0) {
      *s.bound = s.server->bind_to_any_port("127.0.0.1");
    } else {
      *s.bound = s.server->bind_to_port("127.0.0.1", s.wanted) ? s.wanted : -1;
    }
    if (*s.bound <= 0) {
      error = std::string("cannot listen on the ") + s.name + " port " + std::to_string(s.wanted);
      Stop();
      return false;
    }
  }
  for (httplib::Server* srv : {lookup_.get(), reg_.get(), server_.get()}) {
    threads_.emplace_back([srv] { srv->listen_after_bind(); });
  }
  // stop() only takes effect on a server that runs its accept loop: wait for all three.
  for (httplib::Server* srv : {lookup_.get(), reg_.get(), server_.get()}) {
    for (int i = 0; i < 500 && !srv->is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

void PushSimulator::Stop() {
  for (httplib::Server* srv : {lookup_.get(), reg_.get(), server_.get()}) {
    if (srv) srv->stop();
  }
  for (auto& t : threads_) t.join();
  threads_.clear();
  std::lock_guard<std::mutex> lock(logMutex_);
  if (log_) std::fclose(log_);
  log_ = nullptr;
}

void PushSimulator::Log(const char* endpoint, const std::string& method, const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        const std::string& body, int status) {
  Json::Value line;
  line["endpoint"] = endpoint;
  line["method"] = method;
  line["path"] = path;
  line["status"] = status;
  Json::Value h(Json::objectValue);
  for (const auto& [name, value] : headers) h[name] = value;
  line["headers"] = h;
  line["body"] = body;
  const std::string text = JsonLine(line) + "\n";
  std::lock_guard<std::mutex> lock(logMutex_);
  FILE* out = log_ ? log_ : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}
