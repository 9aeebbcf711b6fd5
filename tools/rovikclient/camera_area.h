// The camera side of the video client's window: up to four camera views in a grid.
#pragma once

#include <QWidget>
#include <vector>

#include "tools/rovikclient/client_settings.h"

namespace rovikclient {

class ClientWindow;

// The camera views for `cameras` (up to four, in a 2 x 2 grid). Each view is the widget named
// "camera<i>"; sessions open once the area has been shown and its event loop runs.
QWidget* CreateCameraArea(const std::vector<CameraSettings>& cameras, QWidget* parent = nullptr);

// Builds the camera area and puts it into the window.
void AttachCameraArea(ClientWindow& window, const std::vector<CameraSettings>& cameras);

}  // namespace rovikclient
