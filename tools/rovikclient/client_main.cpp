// RovikClient: the video client stand-in. One copy at a time (it holds the named mutex
// "RovikClient", which the launcher also tests); the window "RovikClient" keeps the client's
// side of the boundary with the alarm monitor and shows the cameras of its settings.
#include <QApplication>
#include <cstdio>

#include "platform/named_mutex.h"
#include "tools/rovikclient/client_window.h"
#include "tools/rovikclient/camera_area.h"

int main(int argc, char** argv) {
  rovik::platform::NamedMutex instance;
  if (instance.Create("RovikClient") != rovik::platform::NamedMutex::Result::Acquired) {
    return 0;  // another client runs
  }
  QApplication app(argc, argv);
  QString settingsError;
  rovikclient::ClientSettings settings =
      rovikclient::LoadClientSettings(rovikclient::DefaultSettingsPath(), &settingsError);
  if (!settingsError.isEmpty()) std::fprintf(stderr, "RovikClient: %s\n", qPrintable(settingsError));

  rovikclient::ClientWindow window(settings);
  std::string error;
  if (!window.StartListening(&error)) {
    std::fprintf(stderr, "RovikClient: cannot open its window: %s\n", error.c_str());
    return 1;
  }
  rovikclient::AttachCameraArea(window, settings.cameras);
  window.show();
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
