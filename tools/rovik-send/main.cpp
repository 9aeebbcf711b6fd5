// rovik-send: WM_COPYDATA from the command line.
//   rovik-send [--wparam N] [--dwdata N] TITLE TEXT   send TEXT, print the result; exit 0 when a
//                                                    window answered, 2 when none was found,
//                                                    3 when it was found but gave no answer;
//                                                    TEXT "-" reads the text from standard input
//   rovik-send --listen TITLE [--reply N]             be the window TITLE: print one line per
//                                                    message and answer N (default 1)
// A command line it cannot take (an unknown option, a missing value) ends it with one line on
// standard error and exit status 2.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/program_options.h"
#include "platform/window_link.h"
#include "tools/rovik-send/send_text.h"

namespace {

using rovik::platform::CopyDataMessage;

const rovik::platform::ProgramHelp kHelp{
    "rovik-send",
    "rovik-send: send a command text to a window by title and print the answer, or be such a "
    "window.\n"
    "TEXT takes the escapes \\\\, \\n and \\xHH; TEXT - reads the text as it is from standard "
    "input (one\n"
    "final line end dropped): use it for texts holding passwords. Exit status: 0 answered, 2 no "
    "such window (or a command\n"
    "line it cannot take), 3 found but no answer.",
    "rovik-send [--wparam N] [--dwdata N] [--] TITLE TEXT\n"
    "       rovik-send --listen TITLE [--reply N]"};

int usage(const std::string& problem) { return rovik::platform::RefuseCommandLine(kHelp, problem); }

int listen(const std::string& title, int64_t reply) {
  // Stop on SIGINT/SIGTERM: block them in every thread and wait for them here.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::mutex outMutex;  // guards stdout between connection threads
  rovik::platform::WindowLink link;
  std::string error;
  bool ok = link.Listen(
      title,
      [&](const CopyDataMessage& m) -> int64_t {
        std::string line = "dwData=" + std::to_string(m.dwData) +
                           " cbData=" + std::to_string(m.data.size()) +
                           " data=" + rovik::tools::ShowBytes(m.data.data(), m.data.size()) + "\n";
        std::lock_guard<std::mutex> lock(outMutex);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        return reply;
      },
      {}, &error);
  if (!ok) {
    std::fprintf(stderr, "rovik-send: %s\n", error.c_str());
    return 1;
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  link.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  rovik::platform::IgnoreBrokenPipe();
  std::vector<std::string> args(argv + 1, argv + argc);
  uint64_t wParam = 0;
  uint64_t dwData = 0;
  int64_t reply = 1;
  std::string listenTitle;
  bool listening = false;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto number = [&](uint64_t& out) {
      if (i + 1 >= args.size()) return false;
      auto n = rovik::tools::ParseNumber(args[++i]);
      if (!n) return false;
      out = *n;
      return true;
    };
    if (auto answered = rovik::platform::AnswerStandardOption(a, kHelp)) return *answered;
    if (a == "--wparam") {
      if (!number(wParam)) return usage("--wparam needs a number");
    } else if (a == "--dwdata") {
      if (!number(dwData)) return usage("--dwdata needs a number");
    } else if (a == "--reply") {
      if (i + 1 >= args.size()) return usage("--reply needs a number");
      char* end = nullptr;
      const std::string& text = args[++i];
      long long v = std::strtoll(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0') return usage("--reply needs a number");
      reply = v;
    } else if (a == "--listen") {
      if (i + 1 >= args.size()) return usage("--listen needs a title");
      listening = true;
      listenTitle = args[++i];
    } else if (a == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (rovik::platform::IsOptionLike(a)) {
      return usage("unknown option '" + a + "'");
    } else {
      rest.push_back(a);
    }
  }
  if (listening) {
    if (!rest.empty()) return usage("--listen takes no TEXT");
    return listen(listenTitle, reply);
  }
  if (rest.size() != 2) return usage("needs a TITLE and a TEXT");
  std::string error;
  // TEXT "-": the text comes from standard input, so that a text holding passwords never stands
  // in the command line, which every local user can read.
  auto bytes = rest[1] == "-" ? rovik::tools::ReadTextFromStream(stdin, &error)
                              : rovik::tools::DecodeEscapes(rest[1], &error);
  if (!bytes) {
    std::fprintf(stderr, "rovik-send: %s\n", error.c_str());
    return 1;
  }
  int64_t result = 0;
  auto outcome = rovik::platform::SendCopyDataOutcome(rest[0], wParam, dwData, bytes->data(),
                                                      bytes->size(), &result);
  std::printf("%lld\n", static_cast<long long>(result));
  switch (outcome) {
    case rovik::platform::SendOutcome::Answered:
      return 0;
    case rovik::platform::SendOutcome::NoWindow:
      return 2;
    case rovik::platform::SendOutcome::NoAnswer:
      return 3;
  }
  return 3;
}
