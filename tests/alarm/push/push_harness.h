// What a push channel meets on a user's machine: a real Mosquitto broker, an HTTP server playing
// the push service and the service's server, an alarm store in a temp program folder, a private
// run-time folder (so the video client's window is present only when a test opens it), and an
// MQTT publisher standing for the service.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alarm/cloud/cloud_api.h"
#include "alarm/push/push_channel.h"
#include "alarm/store/md_sqlite.h"
#include "platform/window_link.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/mqtt_publisher.h"
#include "tests/fixtures/recording_window.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace pushtest {

using namespace rovik::alarm;

using namespace std::chrono_literals;

using rovik::fixtures::WaitUntil;

using Publisher = rovik::fixtures::MqttPublisher;

// The video client's window "RovikClient": records every message, answers 1.
using ClientWindow = rovik::fixtures::RecordingWindow;

// Collects the records handed to the owner (the popup's place).
class OwnerInbox {
 public:
  AlarmOwner Owner() {
    return [this](std::unique_ptr<AlarmRecord> r) {
      std::lock_guard<std::mutex> guard(mutex_);
      records_.push_back(*r);
    };
  }
  std::vector<AlarmRecord> Records() {
    std::lock_guard<std::mutex> guard(mutex_);
    return records_;
  }

 private:
  std::mutex mutex_;
  std::vector<AlarmRecord> records_;  // guarded by mutex_
};

// The push service and the service's server on one HTTP fixture.
class PushService {
 public:
  explicit PushService(const std::string& brokerUrl) : brokerUrl_(brokerUrl) {
    http_.SetHandler([this](const rovik::fixtures::HttpRecordedRequest& req) {
      std::lock_guard<std::mutex> guard(mutex_);
      if (req.target == "/lookup")
        return rovik::fixtures::HttpScriptedReply::Ok("{\"c\":\"" + brokerUrl_ + "\"}");
      if (req.target == "/device/reg/")
        return rovik::fixtures::HttpScriptedReply::Ok(registration_);
      return rovik::fixtures::HttpScriptedReply::Ok(heartbeatReply_);
    });
    http_.Start();
  }
  ~PushService() { http_.Stop(); }  // before the replies the handler reads go away
  void SetLogin(const std::string& c, const std::string& u, const std::string& p) {
    std::lock_guard<std::mutex> guard(mutex_);
    registration_ = "{\"c\":\"" + c + "\",\"u\":\"" + u + "\",\"p\":\"" + p + "\"}";
  }
  void SetHeartbeatReply(const std::string& reply) {
    std::lock_guard<std::mutex> guard(mutex_);
    heartbeatReply_ = reply;
  }
  // Points the cloud requests at this server (the program folder's address files).
  void Configure(const rovik::fixtures::TempDir& folder) {
    folder.WriteFile("FILE/RovikInfo.txt", http_.Url());
    folder.WriteFile("FILE/RovikPush.txt",
                     http_.Url("/lookup") + "\n" + http_.Url("/device/reg/") + "\n");
    LoadServerAddressFrom(folder.Path());
  }
  std::vector<std::string> HeartbeatBodies() {
    std::vector<std::string> bodies;
    for (const auto& r : http_.Requests())
      if (r.target == "/api/client/ipc/windows_heart") bodies.push_back(r.body);
    return bodies;
  }
  rovik::fixtures::HttpServerFixture& http() { return http_; }

 private:
  rovik::fixtures::HttpServerFixture http_;
  std::mutex mutex_;
  std::string brokerUrl_;  // guarded by mutex_ (as are the two replies)
  std::string registration_ = R"({"c":"rovik-monitor","u":"","p":""})";
  std::string heartbeatReply_ = R"({"errno":0})";
};

// Everything one test needs; the broker is started by the test (with or without a login).
struct Harness {
  rovik::fixtures::TempDir folder{"rovik-push-"};
  rovik::fixtures::ScopedEnv runDir{"ROVIK_RUNTIME_DIR", (folder.Path() / "run").string()};
  rovik::fixtures::MosquittoFixture broker;
  MdSQLite store;
  OwnerInbox owner;
  ClientWindow client;

  Harness() { store.Open(folder.Path().string()); }

  void SaveUsers(const std::vector<UserRecord>& users) {
    UserList list;
    for (const auto& u : users) list.push_back(std::make_unique<UserRecord>(u));
    store.SaveUsers(list);
  }
  // The video client as a program of its own (rovik-send listening as "RovikClient"), its window
  // found; false when it could not be started.
  bool StartClientProgram(rovik::fixtures::ChildProcess& client) {
    rovik::fixtures::ChildOptions options;
    options.env =
        rovik::fixtures::WithVariable(rovik::fixtures::CurrentEnvironment(), "ROVIK_RUNTIME_DIR",
                                      (folder.Path() / "run").string());
    return client.Start(rovik::fixtures::BinDir() / "rovik-send", {"--listen", "RovikClient"},
                        options) &&
           WaitUntil([] { return rovik::platform::FindWindowByTitle("RovikClient"); }, 5s);
  }
  int StoredAlarms() {
    AlarmList list;
    return store.QueryAlarmsByTime(list, "", "~");  // every alarm, whatever its time text
  }
};

inline std::string AlarmPayload(const std::string& device, const std::string& type = "DS") {
  return R"({"ipcId":"A1","ipcName":"cam","deviceName":")" + device + R"(","deviceType":")" + type +
         R"(","almTime":1425168000})";
}

}  // namespace pushtest
