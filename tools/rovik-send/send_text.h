// The texts of rovik-send: C escapes of a command-line TEXT turned into bytes, and bytes
// shown as a printable line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rovik::tools {

// Decodes \\ \" \' \n \r \t \0 \a \b \f \v and \xH / \xHH; other characters are taken as
// they are. nullopt (with *error) for an unknown escape or a trailing backslash.
std::optional<std::vector<uint8_t>> DecodeEscapes(std::string_view text,
                                                  std::string* error = nullptr);

// The whole of `in` as the text, taken as it is (no escapes), one final "\n" or "\r\n" dropped.
// nullopt (with *error) on a read error or above 4 MiB, the most a message carries.
std::optional<std::vector<uint8_t>> ReadTextFromStream(std::FILE* in, std::string* error = nullptr);

// Printable ASCII (0x20..0x7E) as is except the backslash; everything else, and the
// backslash itself, as \xHH.
std::string ShowBytes(const uint8_t* data, std::size_t size);

// A decimal or 0x-hexadecimal unsigned 64-bit number; nullopt for anything else.
std::optional<uint64_t> ParseNumber(std::string_view text);

}  // namespace rovik::tools
