// UTF-8 <-> UTF-16 conversions and bounded copies into the fixed text fields of the records.
// Invalid UTF-8 input becomes U+FFFD, as the system's converters do; nothing is ever written past
// the room a caller gives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rovik::alarm {

// UTF-8 bytes to UTF-16 code units (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 code units to UTF-8 bytes (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(std::u16string_view utf16);

// The text of a fixed byte field: up to its first zero byte, never past its size.
std::string_view FieldText(const char* field, std::size_t fieldSize);
std::u16string_view FieldText(const char16_t* field, std::size_t fieldUnits);

// Length of the longest prefix of `text` that holds at most `room` bytes and does not end inside
// a UTF-8 sequence (an embedded zero byte ends the text).
std::size_t Utf8Prefix(std::string_view text, std::size_t room);

// Clears a byte field of `fieldSize` bytes and copies at most `room` bytes of `text` into it, cut
// on a character boundary; room is clamped to fieldSize - 1 so the text always ends with a zero.
void CopyField(char* field, std::size_t fieldSize, std::string_view text, std::size_t room);

// Clears a UTF-16 field of `fieldUnits` code units and copies at most `room` code units of
// `text` into it, never splitting a surrogate pair; room is clamped to fieldUnits - 1.
void CopyField(char16_t* field, std::size_t fieldUnits, std::u16string_view text, std::size_t room);

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text, std::size_t room = N - 1) {
  CopyField(field, N, text, room);
}
template <std::size_t N>
void CopyField(char16_t (&field)[N], std::u16string_view text, std::size_t room = N - 1) {
  CopyField(field, N, text, room);
}
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}
template <std::size_t N>
std::u16string_view FieldText(const char16_t (&field)[N]) {
  return FieldText(field, N);
}

}  // namespace rovik::alarm
