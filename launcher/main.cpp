// Rovik: the program the user starts to open the camera client.
#include "launcher/rovik_app.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  CRovikApp app(argc, argv);
  return app.InitInstance();
}
