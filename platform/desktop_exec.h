// The Exec= value of an XDG desktop entry (autostart) for a command line of the Run key, written
// "\"<program path>\" <arguments>".
#pragma once

#include <string>
#include <string_view>

namespace rovik::platform {

// The program (between the first and the last double quote when the line starts with one, else
// the first blank-separated word) and the blank-separated arguments after it, each written as
// the Desktop Entry format wants it: the program always, an argument when it holds a reserved
// character, in double quotes with ", `, $ and \ escaped by a backslash; every % doubled; and
// then every backslash doubled once more, the escape of the value's string type. So any program
// folder (blanks, %, quotes, non-ASCII letters) gives an entry that starts exactly that program.
std::string DesktopExecFromCommandLine(std::string_view commandLine);

}  // namespace rovik::platform
