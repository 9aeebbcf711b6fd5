// camsim: a camera on 127.0.0.1 for tests and the demo.
//
//   camsim [--port N] [--user U] [--password-file FILE] (--h264 FILE | --jpeg FILE_OR_FOLDER)
//          [--fps N] [--refuse video,audio,talk] [--talk-out FILE]
//
// Prints "camsim listening on 127.0.0.1:<port>" once ready and runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process.h"
#include "platform/program_options.h"
#include "tools/camsim/camera_server.h"

namespace {

const rovik::platform::ProgramHelp kHelp{
    "camsim",
    "camsim: a camera on 127.0.0.1 for the peer-to-peer library's stand-in (tests and the demo).",
    "camsim [--port N] [--user U] [--password-file FILE] (--h264 FILE | --jpeg FILE_OR_FOLDER)\n"
    "              [--fps N] [--refuse video,audio,talk] [--talk-out FILE]"};

}  // namespace

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  CameraOptions options;
  std::string h264, jpeg;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (auto answered = rovik::platform::AnswerStandardOption(arg, kHelp)) return *answered;
    if (arg == "--port" && hasValue) {
      options.port = static_cast<uint16_t>(std::atoi(argv[++i]));
    } else if (arg == "--user" && hasValue) {
      options.user = argv[++i];
    } else if (arg == "--password-file" && hasValue) {
      // Not on the command line, where every local user could read it.
      std::string error;
      auto secret = rovik::platform::ReadSecretFile(argv[++i], &error);
      if (!secret) return rovik::platform::RefuseCommandLine(kHelp, error);
      options.password = *secret;
    } else if (arg == "--h264" && hasValue) {
      h264 = argv[++i];
    } else if (arg == "--jpeg" && hasValue) {
      jpeg = argv[++i];
    } else if (arg == "--fps" && hasValue) {
      options.fps = std::atoi(argv[++i]);
    } else if (arg == "--refuse" && hasValue) {
      const std::string list = argv[++i];
      options.refuseVideo = list.find("video") != std::string::npos;
      options.refuseAudio = list.find("audio") != std::string::npos;
      options.refuseTalk = list.find("talk") != std::string::npos;
    } else if (arg == "--talk-out" && hasValue) {
      options.talkOut = argv[++i];
    } else {
      return rovik::platform::RefuseCommandLine(
          kHelp, (hasValue ? "unknown option '" : "unknown option, or one without its value: '") +
                     arg + "'");
    }
  }
  if (options.fps <= 0 || options.fps > 200) {
    return rovik::platform::RefuseCommandLine(kHelp, "--fps must be 1 to 200");
  }

  VideoSource video;
  std::string error;
  if (!h264.empty() && !video.LoadH264(h264, &error)) {
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return 1;
  }
  if (!jpeg.empty() && !video.LoadJpeg(jpeg, &error)) {
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return 1;
  }

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // every thread inherits the mask

  CameraServer server(options, std::move(video));
  if (!server.Listen(&error)) {
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return 1;
  }
  server.Start();
  std::printf("camsim listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  server.Stop();
  return 0;
}
