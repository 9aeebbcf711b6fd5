// The push-service simulator answers the monitor's own cloud requests and logs each of them.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/cloud_reply.h"
#include "alarm/cloud/http_request_queue.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::BinDir;
using rovik::fixtures::ChildProcess;
using rovik::fixtures::RunProgram;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;
using rovik::fixtures::WriteSecretFile;

class QueueEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { HttpRequestQueue::DestroyInstance(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new QueueEnvironment);

class Sink : public IHttpEvents {
 public:
  void OnHttpResult(const std::string& reply, int, int code, int) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      replies_[code] = reply;
    }
    changed_.notify_all();
  }
  std::string ReplyTo(int code) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return replies_.count(code) > 0; });
    return replies_.count(code) ? replies_[code] : "<none>";
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, std::string> replies_;  // guarded by mutex_
};

struct Ports {
  int lookup = 0, reg = 0, server = 0;
};

class PushSim : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
      env_.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
    }
    program_ = BinDir() / "pushsim";
    if (!std::filesystem::exists(program_)) GTEST_SKIP() << "pushsim is not built";
    ResetServerAddress();
  }
  void TearDown() override { ResetServerAddress(); }

  // Starts pushsim on free ports and points the cloud addresses at it.
  bool StartSim(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--lookup-port",   "0",
                                     "--reg-port",      "0",
                                     "--server-port",   "0",
                                     "--broker",        "tcp://127.0.0.1:1883",
                                     "--client-id",     "dev-42",
                                     "--user",          "u\"ser",
                                     "--password-file", WriteSecretFile(dir_ / "broker.pw", "p~w"),
                                     "--log",           (dir_ / "push.log").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim_.Start(program_, args) || !sim_.WaitForStderr("pushsim ready", 10s)) return false;
    std::string line = sim_.Stderr();
    if (std::sscanf(line.c_str(), "pushsim ready lookup=%d reg=%d server=%d", &ports_.lookup,
                    &ports_.reg, &ports_.server) != 3) {
      return false;
    }
    const std::string host = "http://127.0.0.1:";
    dir_.WriteFile("FILE/RovikInfo.txt", host + std::to_string(ports_.server) + "\n");
    dir_.WriteFile("FILE/RovikPush.txt", host + std::to_string(ports_.lookup) + "\n" + host +
                                             std::to_string(ports_.reg) + "/device/reg/\n");
    LoadServerAddressFrom(dir_.Path());
    return true;
  }

  std::vector<Json::Value> LogLines() {
    std::vector<Json::Value> lines;
    std::istringstream in(dir_.ReadFile("push.log"));
    for (std::string line; std::getline(in, line);) {
      Json::Value v;
      std::istringstream ls(line);
      if (Json::parseFromStream(Json::CharReaderBuilder(), ls, &v, nullptr)) lines.push_back(v);
    }
    return lines;
  }

  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::filesystem::path program_;
  TempDir dir_;
  ChildProcess sim_;
  Ports ports_;
  Sink sink_;
};

TEST_F(PushSim, AnswersTheThreeRequestsAndLogsThem) {
  ASSERT_TRUE(StartSim()) << sim_.Stderr();
  ASSERT_TRUE(RequestBrokerAddress(&sink_));
  ASSERT_TRUE(RegisterDevice(&sink_));
  ASSERT_TRUE(SendHeartbeat(&sink_, "13800000001", "pw", "13800000001,13800000002"));

  EXPECT_EQ(BrokerAddressFromReply(sink_.ReplyTo(HTTP_REQ_BROKER_LOOKUP)), "tcp://127.0.0.1:1883");
  EXPECT_EQ(DeviceLoginFromReply(sink_.ReplyTo(HTTP_REQ_DEVICE_REG)), "dev-42~u\"ser~p~w");
  const std::string heart = sink_.ReplyTo(HTTP_REQ_HEARTBEAT);
  EXPECT_EQ(HttpReplyErrno(heart), 0) << heart;
  EXPECT_FALSE(HeartbeatRefused(heart));

  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["endpoint"].asString(), "lookup");
  EXPECT_EQ(lines[0]["body"].asString().size(), 53u);
  EXPECT_EQ(lines[0]["headers"]["Content-Type"].asString(), "application/json");
  EXPECT_EQ(lines[1]["path"].asString(), "/device/reg/");
  EXPECT_EQ(lines[1]["body"].asString(), "{\"a\": \"7c21e9d04a5b83f6e2c1d970\",\"p\":2}");
  EXPECT_EQ(lines[2]["path"].asString(), "/api/client/ipc/windows_heart");
  EXPECT_EQ(lines[2]["body"].asString(),
            "phone=13800000001&password=pw&phone_list=13800000001,13800000002");
  EXPECT_EQ(lines[2]["headers"]["User-Agent"].asString(), "RovikAlarm");
  struct stat st {};  // the log holds the heartbeat's password: the user's alone
  ASSERT_EQ(::stat((dir_ / "push.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  sim_.Signal(SIGTERM);
  auto status = sim_.Wait(10s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->Success());
}

TEST_F(PushSim, ConfiguredHeartbeatErrnoRefusesTheAccount) {
  ASSERT_TRUE(StartSim({"--heart-errno", "3"})) << sim_.Stderr();
  ASSERT_TRUE(SendHeartbeat(&sink_, "1", "2", "1"));
  const std::string heart = sink_.ReplyTo(HTTP_REQ_HEARTBEAT);
  EXPECT_EQ(HttpReplyErrno(heart), 3);
  EXPECT_TRUE(HeartbeatRefused(heart));
}

TEST_F(PushSim, WrongPathIsRefusedAndLogged) {
  ASSERT_TRUE(StartSim()) << sim_.Stderr();
  dir_.WriteFile("FILE/RovikPush.txt", "http://127.0.0.1:1\nhttp://127.0.0.1:" +
                                           std::to_string(ports_.reg) + "/device/other/\n");
  LoadServerAddressFrom(dir_.Path());
  ASSERT_TRUE(RegisterDevice(&sink_));
  EXPECT_EQ(sink_.ReplyTo(HTTP_REQ_DEVICE_REG), "{\"errno\":1,\"error\":\"404\"}");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"].asInt(), 404);
}

TEST_F(PushSim, BadCommandLinesAndTakenPorts) {
  auto r = RunProgram(program_, {"--lookup-port", "x"}, 10s);
  EXPECT_EQ(r.status.code, 2);
  r = RunProgram(program_, {"--bogus", "1"}, 10s);
  EXPECT_EQ(r.status.code, 2);
  ASSERT_TRUE(StartSim()) << sim_.Stderr();
  r = RunProgram(program_, {"--lookup-port", std::to_string(ports_.lookup)}, 10s);
  EXPECT_EQ(r.status.code, 1);
  EXPECT_NE(r.err.find("cannot listen"), std::string::npos) << r.err;
}

}  // namespace
