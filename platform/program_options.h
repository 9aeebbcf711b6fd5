// The options every program of the suite answers: --help and --version, before anything starts
// (no window, no lock, no run-time folder). An option a program does not know ends it with one
// line on standard error and exit status 2.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace rovik::platform {

// Exit status of a command line the program cannot take.
inline constexpr int kCommandLineError = 2;

struct ProgramHelp {
  const char* name;     // the program's file name, e.g. "RovikAlarm"
  const char* summary;  // one line: what the program does
  const char* usage;    // the usage lines, each starting with the program's name
};

// The suite's version, as the build gives it (e.g. "1.0.0").
const char* SuiteVersion();

// When `arg` is --help or --version: prints the answer on standard output and returns the exit
// status 0. Otherwise nullopt. Programs with options of their own call it for every argument in
// an option's place.
std::optional<int> AnswerStandardOption(std::string_view arg, const ProgramHelp& help);

// Prints "<name>: <problem> (see <name> --help)" on standard error as one line and returns
// kCommandLineError.
int RefuseCommandLine(const ProgramHelp& help, std::string_view problem);

// For a program that takes no arguments other than `accepted` (which it ignores): answers
// --help/--version, refuses anything else. Returns the exit status when the program must end
// now, nullopt when it starts.
std::optional<int> CheckFixedCommandLine(int argc, char** argv, const ProgramHelp& help,
                                         std::initializer_list<std::string_view> accepted = {});

// A password given in a file rather than on the command line, where every local user could read
// it (/proc/<pid>/cmdline): the file's first line without its line end. nullopt (with *error)
// when the file cannot be read or its first line is longer than 4096 bytes.
std::optional<std::string> ReadSecretFile(const std::string& path, std::string* error = nullptr);

// Whether `arg` looks like an option ("-x", "--x"; "-" alone and "--" do not).
bool IsOptionLike(std::string_view arg);

}  // namespace rovik::platform
