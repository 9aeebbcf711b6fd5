#include "platform/program_options.h"

#include <fstream>

#include <cstdio>
#include <string>

#include "rovik_version.h"

namespace rovik::platform {

const char* SuiteVersion() { return ROVIK_VERSION; }

std::optional<int> AnswerStandardOption(std::string_view arg, const ProgramHelp& help) {
  std::string text;
  if (arg == "--version") {
    text = std::string(help.name) + " " + ROVIK_VERSION + "\n";
  } else if (arg == "--help") {
    text = std::string(help.summary) + "\n\nusage: " + help.usage + "\n       " + help.name +
           " --help | --version\n";
  } else {
    return std::nullopt;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return 0;
}

int RefuseCommandLine(const ProgramHelp& help, std::string_view problem) {
  const std::string line =
      std::string(help.name) + ": " + std::string(problem) + " (see " + help.name + " --help)\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kCommandLineError;
}

std::optional<int> CheckFixedCommandLine(int argc, char** argv, const ProgramHelp& help,
                                         std::initializer_list<std::string_view> accepted) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (auto answered = AnswerStandardOption(arg, help)) return answered;
    bool known = false;
    for (std::string_view a : accepted) known = known || a == arg;
    if (known) continue;
    std::string quoted(1, '\'');
    quoted.append(arg).push_back('\'');
    return RefuseCommandLine(
        help, IsOptionLike(arg) ? "unknown option " + quoted : "unexpected argument " + quoted);
  }
  return std::nullopt;
}

bool IsOptionLike(std::string_view arg) { return arg.size() > 1 && arg[0] == '-' && arg != "--"; }

std::optional<std::string> ReadSecretFile(const std::string& path, std::string* error) {
  constexpr std::size_t kMaxSecret = 4096;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || (!std::getline(in, line) && !in.eof())) {
    if (error) *error = "cannot read the password file " + path;
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxSecret) {
    if (error) *error = "the password file " + path + " holds a line over 4096 bytes";
    return std::nullopt;
  }
  return line;
}

}  // namespace rovik::platform
