// OutputDebugStringA: one line to stderr, prefixed with the library's name.
#pragma once

#include <string>
#include <string_view>

namespace rovik::platform {

// Writes "<library>: <text>\n" to stderr in one write; a trailing newline of `text` is not
// doubled. Safe from any thread.
void DebugLog(std::string_view library, std::string_view text);

// `text` fit for a log line: control bytes (and the backslash) written as \xHH, so text from
// outside cannot start a line of its own.
std::string Printable(std::string_view text);

}  // namespace rovik::platform
