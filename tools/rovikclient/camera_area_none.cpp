// Built when the camera session library is not part of the build: the window says so.
#include <QLabel>

#include "tools/rovikclient/camera_area.h"
#include "tools/rovikclient/client_window.h"

namespace rovikclient {

QWidget* CreateCameraArea(const std::vector<CameraSettings>&, QWidget* parent) {
  auto* label = new QLabel(QStringLiteral("没有摄像头库"), parent);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

void AttachCameraArea(ClientWindow& window, const std::vector<CameraSettings>& cameras) {
  window.SetCameraArea(CreateCameraArea(cameras));
}

}  // namespace rovikclient
