// The video client's main window "RovikClient": the window the alarm monitor finds by title and
// talks to, with the alarm panel and the camera views.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "platform/window_link.h"
#include "tools/rovikclient/client_settings.h"

namespace rovikclient {

class AlarmPanel;

class ClientWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit ClientWindow(ClientSettings settings, QWidget* parent = nullptr);
  ~ClientWindow() override;

  // Becomes the window "RovikClient". False (with *error) when the title cannot be taken.
  bool StartListening(std::string* error);

  // Sends a command text to the monitor's window; false when the monitor is not running.
  bool SendToMonitor(const std::string& text);

  AlarmPanel* alarmPanel() const { return alarms_; }

  // Adds a widget (the camera views) beside the alarm panel.
  void SetCameraArea(QWidget* area);

 private:
  int64_t OnMonitorMessage(const rovik::platform::CopyDataMessage& message);
  void ShowSharedList(int64_t count);
  void Log(const QString& line);

  ClientSettings settings_;
  AlarmPanel* alarms_;
  rovik::platform::WindowLink link_;
};

}  // namespace rovikclient
