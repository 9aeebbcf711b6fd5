// Rovik: the program the user starts to open the camera client.
#include "launcher/app/rovik_app.h"
#include "platform/process.h"
#include "platform/program_options.h"

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  const rovik::platform::ProgramHelp help{
      "Rovik", "Rovik: installs a waiting upgrade of the camera client, then starts the client.",
      "Rovik"};
  if (auto status = rovik::platform::CheckFixedCommandLine(argc, argv, help)) return *status;
  rovik::launcher::CRovikApp app(argc, argv);
  return app.InitInstance();
}
