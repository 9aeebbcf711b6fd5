#include "tests/e2e/suite_harness.h"

#include <QCoreApplication>
#include <cstdio>

#include "platform/window_link.h"
#include "tests/fixtures/pushsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/wait_until.h"

namespace e2e {

namespace fx = rovik::fixtures;

namespace {

const fx::MqttLogin kBrokerLogin{"rovik-e2e", "s3cret"};

bool ProgramExists(const std::filesystem::path& path) { return std::filesystem::exists(path); }

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  return fx::WaitUntil(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
      },
      bound);
}

std::string AlarmPayload(const std::string& device, const std::string& type) {
  return R"({"ipcId":"A1","ipcName":"Front door camera","deviceName":")" + device +
         R"(","deviceType":")" + type + R"(","almTime":)" +
         std::to_string(static_cast<long long>(std::time(nullptr))) + "}";
}

Suite::Suite() {
  for (const char* program : {"RovikAlarm", "RovikClient", "Rovik"}) folder_.Copy(program);
  folder_.CopySharedLibraries();
  // The auto-start question was answered on this machine already.
  fx::WriteWholeFile(
      folder_.RegistryRoot() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO" / "ROVIK.reg",
      "\"AUTOALARM\"=dword:00000001\n");
  env_ = folder_.ApplyToThisProcess();
}

Suite::~Suite() {
  if (monitor_.Running()) {
    rovik::platform::SendCopyData("ROVIKALARM", 0, 0, "0~", 2);
    if (!monitor_.Wait(10s)) monitor_.Kill();
  }
  if (pushsim_.Running()) pushsim_.Kill();
}

std::string Suite::Missing() {
  if (!fx::MosquittoFixture::Available()) return "mosquitto is not installed";
  if (!fx::MqttPublisher::Available()) return "mosquitto_pub is not installed";
  if (std::getenv("DISPLAY") == nullptr) return "no X display (run under xvfb-run)";
  for (const char* program : {"RovikAlarm", "RovikClient", "Rovik", "pushsim", "camsim"}) {
    if (!ProgramExists(fx::BinDir() / program)) return std::string(program) + " is not built";
  }
  return "";
}

bool Suite::StartServices() {
  if (!broker_.Start(kBrokerLogin)) {
    error_ = "broker: " + broker_.Error();
    return false;
  }
  const auto ports =
      fx::StartPushsim(pushsim_, broker_.Url(), kBrokerLogin, folder_.Root(), "rovik-e2e-monitor",
                       {"--log", (folder_.Root() / "pushsim.log").string()});
  if (!ports) {
    error_ = "pushsim: " + pushsim_.Stderr();
    return false;
  }
  folder_.WriteFile("FILE/RovikInfo.txt", ports->InfoTxt() + "\n");
  folder_.WriteFile("FILE/RovikPush.txt", ports->PushTxt());
  return true;
}

bool Suite::StartMonitor() {
  if (!folder_.Start(monitor_, "RovikAlarm")) {
    error_ = "RovikAlarm: " + monitor_.Error();
    return false;
  }
  if (!WaitUntil([] { return rovik::platform::FindWindowByTitle("ROVIKALARM"); }, 20s)) {
    error_ = "RovikAlarm never opened its window: " + monitor_.Stderr();
    return false;
  }
  return true;
}

bool Suite::Publish(const std::string& topic, const std::string& payload) {
  return fx::MqttPublisher(broker_.Port(), kBrokerLogin).Publish(topic, payload, 10s);
}

}  // namespace e2e
