// pushsim --lookup-port P1 --reg-port P2 --server-port P3 --broker tcp://127.0.0.1:1883
//         --client-id ID --user U --password-file FILE [--heart-errno N] [--log FILE]
// Serves until SIGINT or SIGTERM. A port of 0 takes any free port; the ports in use are printed
// as one line "pushsim ready lookup=P1 reg=P2 server=P3" on stderr once all three listen.
// Every request is logged as one JSON line to FILE (or stdout).
#include <signal.h>

#include <cstdio>

#include "platform/process.h"
#include "platform/program_options.h"
#include "tools/pushsim/push_simulator.h"

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  const rovik::platform::ProgramHelp help{
      "pushsim", "pushsim: the push service's endpoints on 127.0.0.1, for tests and the demo.",
      "pushsim --lookup-port P1 --reg-port P2 --server-port P3 --broker URL\n"
      "               --client-id ID --user U --password-file FILE [--heart-errno N] [--log FILE]"};
  // Every option takes a value: options stand at the odd places.
  for (int i = 1; i < argc; i += 2) {
    if (auto answered = rovik::platform::AnswerStandardOption(argv[i], help)) return *answered;
  }
  std::string error;
  auto options = ParsePushSimulatorArgs(argc, argv, error);
  if (!options) return rovik::platform::RefuseCommandLine(help, error);
  // The signals are taken by sigwait below, in this thread; the servers' threads never see them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  PushSimulator sim(*options);
  if (!sim.Start(error)) {
    std::fprintf(stderr, "pushsim: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "pushsim ready lookup=%d reg=%d server=%d\n", sim.LookupPort(),
               sim.RegPort(), sim.ServerPort());
  std::fflush(stderr);
  int sig = 0;
  sigwait(&stopSignals, &sig);
  sim.Stop();
  return 0;
}
