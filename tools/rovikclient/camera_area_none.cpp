// Built when the camera session library is not part of the build: the window says so.
#include <QLabel>

#include "tools/rovikclient/camera_area.h"
#include "tools/rovikclient/client_window.h"

namespace rovikclient {

void AttachCameraArea(ClientWindow& window, const std::vector<CameraSettings>&) {
  auto* label = new QLabel(QStringLiteral("没有摄像头库"));
  label->setAlignment(Qt::AlignCenter);
  window.SetCameraArea(label);
}

}  // namespace rovikclient
