// RovikAlarm: the background alarm monitor. "-s" from the auto-start entry is ignored; --help and
// --version are answered without starting; anything else is refused.
#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>

#include "alarm/app/rovik_alarm_app.h"
#include "platform/process.h"
#include "platform/program_options.h"

using namespace rovik::alarm;

namespace {

int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  (void)!::write(gStopPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  const rovik::platform::ProgramHelp help{
      "RovikAlarm",
      "RovikAlarm: the Rovik suite's alarm monitor; runs in the background, one copy a session.",
      "RovikAlarm [-s]     (-s: as the auto-start entry starts it; the same as none)"};
  if (auto status = rovik::platform::CheckFixedCommandLine(argc, argv, help, {"-s"}))
    return *status;
  // Without any display the monitor still runs (it shows nothing until an alarm comes).
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  // SIGTERM and SIGINT end the monitor as command 0 does, through the orderly shut-down.
  std::unique_ptr<QSocketNotifier> stopNotifier;
  if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    stopNotifier = std::make_unique<QSocketNotifier>(gStopPipe[0], QSocketNotifier::Read);
    QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [] {
      char buffer[16];
      while (::read(gStopPipe[0], buffer, sizeof buffer) > 0) {
      }
      QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
  }

  CRovikAlarmApp app;
  app.InitInstance();
  return app.ExitInstance();
}
