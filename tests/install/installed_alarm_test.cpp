// One alarm through the installed monitor, as a user's machine runs it: rovik-alarm from the
// tree's bin/, the push service (pushsim) handing out a real Mosquitto broker, and the installed
// rovik-send standing as the video client's window "RovikClient".
#include <gtest/gtest.h>

#include "tests/fixtures/child_process.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/mqtt_publisher.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/pushsim_process.h"
#include "tests/fixtures/recording_window.h"
#include "tests/fixtures/test_env.h"
#include "tests/install/installed_tree.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace installtest;
using namespace rovik::fixtures;

namespace {

TEST(InstalledMonitor, AlarmFromTheBrokerReachesTheClientWindow) {
  if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
  if (!MqttPublisher::Available()) GTEST_SKIP() << "mosquitto_pub is not installed";
  if (!fs::exists(BinDir() / "pushsim")) GTEST_SKIP() << "pushsim is not built";
  auto tree = InstalledTree::SuiteTree();
  ASSERT_EQ(tree->Error(), "");
  const fs::path bin = tree->Prefix() / "bin";
  const fs::path programs = tree->ProgramFolder();
  // A given tree is left as it came, whatever happens below: without the address files and the
  // store written into its program folder.
  struct Tidy {
    fs::path folder;
    ~Tidy() {
      std::error_code ec;
      fs::remove_all(folder / "FILE", ec);
      for (const char* db : {"ROVIK_ALARM.sdb", "ROVIK_ALARM.sdb-wal", "ROVIK_ALARM.sdb-shm"})
        fs::remove(folder / db, ec);
    }
  } tidy{programs};

  // RUN, REG and XDG_CONFIG_HOME of this test's own; the auto-start question already answered.
  ProgramFolder session;
  ASSERT_TRUE(WriteWholeFile(
      session.RegistryRoot() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO" / "ROVIK.reg",
      "\"AUTOALARM\"=dword:00000001\n"));
  const ChildOptions options = session.Options();

  const MqttLogin login{"rovik", "s3cret"};
  MosquittoFixture broker;
  ASSERT_TRUE(broker.Start(login)) << broker.Error();
  ChildProcess pushsim;
  const auto ports =
      StartPushsim(pushsim, broker.Url(), login, session.Root(), "rovik-installed-test",
                   {"--log", (session.Root() / "pushsim.log").string()});
  ASSERT_TRUE(ports) << pushsim.Stderr();
  // The deployment's push-service addresses lie in the program folder.
  ASSERT_TRUE(WriteWholeFile(programs / "FILE" / "RovikPush.txt", ports->PushTxt()));
  ASSERT_TRUE(WriteWholeFile(programs / "FILE" / "RovikInfo.txt", ports->InfoTxt()));

  ChildProcess client;
  ASSERT_TRUE(client.Start(bin / "rovik-send", {"--listen", "RovikClient"}, options))
      << client.Error();
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(bin / "rovik-alarm", {"-s"}, options)) << monitor.Error();
  // The first connection to the broker is announced to the client.
  EXPECT_TRUE(client.WaitForStdout("cbData=3 data=1~0", 30s))
      << client.Stdout() << monitor.Stderr();

  auto send = [&](const std::string& text) {
    return RunProgram(bin / "rovik-send", {"ROVIKALARM", text}, 15s, options);
  };
  auto account = send("2~0~13800000000&pw&Demo user");
  EXPECT_EQ(account.out, "1\n") << account.err;

  // Publish until the subscription is in place and the alarm block arrives at the client.
  bool arrived = WaitUntil(
      [&] {
        MqttPublisher(broker.Port(), login)
            .Publish(
                "13800000000",
                R"({"ipcId":"A1","ipcName":"cam","deviceName":"front door","deviceType":"DS","almTime":1425168000})",
                5s);
        return client.WaitForStdout("cbData=1243 data=4~", 500ms);
      },
      30s);
  EXPECT_TRUE(arrived) << client.Stdout() << monitor.Stderr();
  EXPECT_NE(client.Stdout().find("front door"), std::string::npos) << client.Stdout();

  EXPECT_EQ(send("0~").out, "1\n");
  auto ended = monitor.Wait(10s);
  ASSERT_TRUE(ended) << "the installed monitor still runs 10 s after 0~";
  EXPECT_TRUE(ended->Success()) << monitor.Stderr();
  client.Signal(SIGTERM);
  client.Wait(5s);
}

}  // namespace
