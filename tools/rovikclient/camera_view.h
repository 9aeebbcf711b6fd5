// One camera of the video client: a native child window the player draws into, its buttons
// (audio, talk-back, snapshot, recording, on-screen text) and its status line.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "tools/rovikclient/client_settings.h"

namespace rovikclient {

// The surface the player draws on: a native X11 child window that Qt itself never paints.
class VideoSurface : public QWidget {
  Q_OBJECT
 public:
  explicit VideoSurface(QWidget* parent = nullptr);
  QPaintEngine* paintEngine() const override { return nullptr; }
  // The X11 window id for the player; 0 where the platform has no native windows.
  uintptr_t NativeWindow();

 protected:
  void paintEvent(QPaintEvent*) override {}
};

class CameraView : public QWidget {
  Q_OBJECT
 public:
  CameraView(const CameraSettings& camera, QWidget* parent = nullptr);

  VideoSurface* surface() const { return surface_; }
  const CameraSettings& camera() const { return camera_; }

  // -1 until the camera instance exists.
  void SetInstance(int32_t index) { index_ = index; }
  int32_t instance() const { return index_; }

  void SetStatus(const QString& text);
  QString status() const { return status_->text(); }

  // The button actions (also reachable by tests).
  bool ToggleAudio();
  bool ToggleTalk();
  QString TakeSnapshot();  // the file path asked for, empty when no instance
  bool ToggleRecording();
  void ApplyOsd();

 private:
  void Log(const QString& line) const;

  CameraSettings camera_;
  int32_t index_ = -1;
  bool audioOn_ = false;
  bool talkOn_ = false;
  bool recording_ = false;
  VideoSurface* surface_;
  QLabel* status_;
  QPushButton* audio_;
  QPushButton* talk_;
  QPushButton* record_;
  QLineEdit* osd_;
};

}  // namespace rovikclient
