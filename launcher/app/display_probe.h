// Whether the window platform Qt would use here can be opened at all (a display server to
// connect to, a usable platform plugin). Qt ends the whole process when it cannot open its
// platform, so the question is asked in a short-lived child process before any application
// object is made.
#pragma once

#include <chrono>

namespace rovik::launcher {

// True when a child process could make a QGuiApplication within bound. Call it while the
// process has a single thread.
bool GuiPlatformAvailable(std::chrono::milliseconds bound);

}  // namespace rovik::launcher
