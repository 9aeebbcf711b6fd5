// The camera side of the video client's window: up to four camera views in a grid.
#pragma once

#include <vector>

#include "tools/rovikclient/client_settings.h"

namespace rovikclient {

class ClientWindow;

// Builds the camera views for `cameras` and puts them into the window.
void AttachCameraArea(ClientWindow& window, const std::vector<CameraSettings>& cameras);

}  // namespace rovikclient
