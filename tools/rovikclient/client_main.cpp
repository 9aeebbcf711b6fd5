// RovikClient: the video client stand-in. One copy at a time (it holds the named mutex
// "RovikClient", which the launcher also tests); the window "RovikClient" keeps the client's
// side of the boundary with the alarm monitor and shows the cameras of its settings.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/program_options.h"
#include "tools/rovikclient/camera_area.h"
#include "tools/rovikclient/client_log.h"
#include "tools/rovikclient/client_window.h"

using namespace rovik::alarm;

namespace {

// SIGTERM and SIGINT close the client as its window's close button does: the handler only
// writes a byte that the user-interface thread reads.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  (void)ignored;
}

void QuitOnSignals(QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  const rovik::platform::ProgramHelp help{"RovikClient",
                                          "RovikClient: the video client stand-in; shows alarms "
                                          "from the monitor and the cameras of its settings.",
                                          "RovikClient"};
  if (auto status = rovik::platform::CheckFixedCommandLine(argc, argv, help)) return *status;
  rovik::platform::NamedMutex instance;
  std::string mutexError;
  switch (instance.Create("RovikClient", &mutexError)) {
    case rovik::platform::NamedMutex::Result::Acquired:
      break;
    case rovik::platform::NamedMutex::Result::AlreadyExists:
      return 0;  // another client runs
    case rovik::platform::NamedMutex::Result::Error:
      std::fprintf(stderr, "RovikClient: cannot make its single-instance lock: %s\n",
                   mutexError.c_str());
      return 1;
  }
  QApplication app(argc, argv);
  QuitOnSignals(app);
  QString settingsError;
  rovikclient::ClientSettings settings =
      rovikclient::LoadClientSettings(rovikclient::DefaultSettingsPath(), &settingsError);
  if (!settingsError.isEmpty())
    std::fprintf(stderr, "RovikClient: %s\n", qPrintable(settingsError));

  rovikclient::ClientWindow window(settings);
  std::string error;
  if (!window.StartListening(&error)) {
    std::fprintf(stderr, "RovikClient: cannot open its window: %s\n", error.c_str());
    return 1;
  }
  rovikclient::AttachCameraArea(window, settings.cameras);
  window.show();
  rovikclient::ClientLog(QStringLiteral("ready"));
  return app.exec();
}
