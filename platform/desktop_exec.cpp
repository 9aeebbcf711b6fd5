#include "platform/desktop_exec.h"

#include <vector>

namespace rovik::platform {
namespace {

// Characters that keep an argument from standing unquoted in Exec=.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`%";

std::string QuoteArgument(std::string_view arg, bool always) {
  std::string out;
  const bool quote =
      always || arg.empty() || arg.find_first_of(kReserved) != std::string_view::npos;
  if (quote) out += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  if (quote) out += '"';
  return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = text.find_first_not_of(" \t");
  while (start != std::string_view::npos) {
    const std::size_t end = text.find_first_of(" \t", start);
    words.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    start = end == std::string_view::npos ? end : text.find_first_not_of(" \t", end);
  }
  return words;
}

}  // namespace

std::string DesktopExecFromCommandLine(std::string_view commandLine) {
  std::string_view program;
  std::string_view rest;
  const std::size_t lastQuote = commandLine.rfind('"');
  if (!commandLine.empty() && commandLine.front() == '"' && lastQuote > 0) {
    program = commandLine.substr(1, lastQuote - 1);
    rest = commandLine.substr(lastQuote + 1);
  } else {
    const std::size_t blank = commandLine.find_first_of(" \t");
    program = commandLine.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : commandLine.substr(blank);
  }
  std::string exec = QuoteArgument(program, true);
  for (std::string_view arg : SplitBlanks(rest)) exec += ' ' + QuoteArgument(arg, false);
  // The string type's own escape comes on top of the quoting.
  std::string value;
  for (char c : exec) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

}  // namespace rovik::platform
