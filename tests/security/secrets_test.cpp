// Passwords never cross the network readable, and never stand in a command line: the heartbeat is
// withheld from a plain http:// server on another machine, a push service reached over TLS cannot
// send the monitor's broker login to a plain broker, and rovik-send takes its text from standard
// input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/window_link.h"
#include "tests/fixtures/hanging_server_fixture.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/https_server_fixture.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/recording_window.h"
#include "tests/fixtures/test_ca.h"
#include "tests/security/security_harness.h"

namespace {

namespace fs = std::filesystem;
namespace fx = rovik::fixtures;
using namespace std::chrono_literals;

// The documentation address the namespace gives itself: "another machine" that is this one.
constexpr char kElsewhere[] = "198.51.100.1";
constexpr char kInsideVariable[] = "ROVIK_SECURITY_NETNS";

// Runs the current test again inside a network namespace of its own (as root: unshare -n), where
// nothing can reach outside the machine. True in the copy running inside; in the outer copy it
// reports the inner run's outcome (or in *skip why it cannot run) and returns false.
bool InsideOwnNetwork(std::string* skip) {
  if (std::getenv(kInsideVariable)) return true;
  if (::geteuid() != 0) {
    *skip = "needs root to make a network namespace of its own";
    return false;
  }
  if (!fx::RunProgram("/usr/bin/unshare", {"-n", "true"}, 10s).status.Success()) {
    *skip = "unshare -n is not permitted here";
    return false;
  }
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  fx::ChildOptions options;
  options.env = fx::WithVariable(fx::CurrentEnvironment(), kInsideVariable, "1");
  const auto run = fx::RunProgram(
      "/usr/bin/unshare",
      {"-n", "--", fs::read_symlink("/proc/self/exe").string(),
       std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()},
      240s, options);
  if (run.out.find("[  SKIPPED ] 1 test") != std::string::npos) {
    *skip = run.out;
  } else {
    EXPECT_TRUE(run.status.Success() && run.out.find("[  PASSED  ] 1 test") != std::string::npos)
        << run.out << run.err;
  }
  return false;
}

TEST(Secrets, HeartbeatIsNotSentInClearToAnotherMachine) {
  std::string skip;
  if (!InsideOwnNetwork(&skip)) {
    if (!skip.empty()) GTEST_SKIP() << skip;
    return;
  }
  if (!fx::MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
  ASSERT_TRUE(fx::RunProgram("/usr/sbin/ip", {"link", "set", "lo", "up"}, 10s).status.Success());
  ASSERT_TRUE(fx::RunProgram("/usr/sbin/ip",
                             {"addr", "add", std::string(kElsewhere) + "/32", "dev", "lo"}, 10s)
                  .status.Success());

  fx::ProgramFolder folder;
  fx::MosquittoFixture broker;
  const fx::MqttLogin login{"rovik", "broker-secret"};
  ASSERT_TRUE(broker.Start(login)) << broker.Error();
  fx::ChildProcess pushsim;
  const auto ports = security::StartPushsim(pushsim, broker.Url(), login, folder.Root());
  ASSERT_TRUE(ports) << pushsim.Stderr();
  fx::HttpServerFixture server;  // the service's HTTP server, on "another machine"
  ASSERT_TRUE(server.Start(0, kElsewhere));
  security::PrepareMonitorFolder(folder, ports->PushTxt(), server.Url());

  fx::ChildProcess monitor;
  ASSERT_TRUE(folder.Start(monitor, "RovikAlarm"));
  const auto env = folder.ApplyToThisProcess();
  // Accounts are taken once the broker connection is up.
  ASSERT_TRUE(monitor.WaitForStderr("push: connected", 30s)) << monitor.Stderr();
  const std::string accounts = "2~0~13800000000&account-secret&Demo";
  ASSERT_EQ(rovik::platform::SendCopyData("ROVIKALARM", 0, 0, accounts.data(), accounts.size()), 1);

  // Subscribed, the monitor would send its heartbeat now: it tells why it does not.
  EXPECT_TRUE(monitor.WaitForStderr("heartbeat not sent", 60s)) << monitor.Stderr();
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_EQ(server.ConnectionCount(), 0u);
  monitor.Kill();
}

TEST(Secrets, PushServiceOverTlsCannotSendTheLoginToAPlainBroker) {
  if (!fx::TestCa::Available()) GTEST_SKIP() << "openssl is not installed";
  if (!fx::HttpsServerFixture::Available()) GTEST_SKIP() << "python3 is not installed";
  fx::TestCa ca;
  ASSERT_TRUE(ca.Ok()) << ca.Error();
  const auto cert = ca.IssueServer("push", "IP:127.0.0.1");
  ASSERT_TRUE(cert) << ca.Error();
  fx::HangingServerFixture plainBroker;
  ASSERT_TRUE(plainBroker.Start());
  // One answer for both requests: the lookup reads "c" as the broker, the registration c/u/p.
  fx::HttpsServerFixture service;
  ASSERT_TRUE(service.Start(
      cert->certFile, cert->keyFile,
      R"({"c":"tcp://127.0.0.1:)" + std::to_string(plainBroker.Port()) + R"(","u":"u1","p":"p1"})"))
      << service.Error();

  fx::ProgramFolder folder;
  security::PrepareMonitorFolder(folder, service.Url("/lookup") + "\n" +
                                             service.Url("/device/reg/") + "\n" +
                                             ca.CaFile().string() + "\n");
  fx::ChildProcess monitor;
  fx::ChildOptions options = folder.Options();
  for (const char* proxy : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    options.env = fx::WithVariable(*options.env, proxy, std::nullopt);
  }
  ASSERT_TRUE(monitor.Start(folder.Program("RovikAlarm"), {}, options));
  EXPECT_TRUE(monitor.WaitForStderr("refused", 30s)) << monitor.Stderr();
  // Both replies are in; a connection would follow them at once.
  EXPECT_TRUE(fx::WaitUntil([&] { return service.Requests().size() >= 2; }, 10s));
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(plainBroker.Accepted(), 0u) << monitor.Stderr();
  monitor.Kill();
}

TEST(Secrets, RovikSendTakesTheTextFromStandardInput) {
  fx::ProgramFolder folder;
  ASSERT_TRUE(folder.Copy("rovik-send"));
  fx::ChildProcess listener;
  ASSERT_TRUE(folder.Start(listener, "rovik-send", {"--listen", "SecretSink"}));
  const auto env = folder.ApplyToThisProcess();
  ASSERT_TRUE(fx::WaitUntil([] { return rovik::platform::FindWindowByTitle("SecretSink"); }, 10s));

  // Taken as it is: no escapes; the final line end dropped.
  ASSERT_TRUE(fx::WriteSecretFile(folder.Root() / "text", "2~0~138&p\\x41ss&N\n") != "");
  const auto run = fx::RunProgram("/bin/sh", {"-c", "exec ./rovik-send SecretSink - < ../text"},
                                  15s, folder.Options());
  EXPECT_TRUE(run.status.Success()) << run.err;
  EXPECT_EQ(run.out, "1\n");
  const auto lines = listener.WaitForLines(1, 10s);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "dwData=0 cbData=17 data=2~0~138&p\\x5Cx41ss&N");
  listener.Signal(SIGTERM);
}

}  // namespace
