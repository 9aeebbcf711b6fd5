// Rovik: the program the user starts to open the camera client.
#include "launcher/rovik_app.h"

int main(int argc, char** argv) {
  CRovikApp app(argc, argv);
  return app.InitInstance();
}
