#include "alarm/record/utf_text.h"

#include <algorithm>
#include <cstring>

namespace rovik::alarm {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[pos]; returns its length (at least 1) and the code point,
// or kReplacement for a malformed sequence (which then counts as one byte).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    cp = kReplacement;
    return 1;
  }
  if (pos + len > text.size()) {
    cp = kReplacement;
    return 1;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      cp = kReplacement;
      return 1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    cp = kReplacement;
    return 1;
  }
  return len;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    pos += DecodeUtf8(utf8, pos, cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string_view FieldText(const char* field, std::size_t fieldSize) {
  return std::string_view(field, strnlen(field, fieldSize));
}

std::u16string_view FieldText(const char16_t* field, std::size_t fieldUnits) {
  std::size_t n = 0;
  while (n < fieldUnits && field[n] != 0) {
    ++n;
  }
  return std::u16string_view(field, n);
}

std::size_t Utf8Prefix(std::string_view text, std::size_t room) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) {
    text = text.substr(0, zero);
  }
  if (text.size() <= room) {
    return text.size();
  }
  // Walk back from the cut over continuation bytes to the start of the cut character; keep that
  // character only if it ends exactly at the cut.
  std::size_t cut = room;
  std::size_t start = cut;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && cut - start < 4) {
    --start;
  }
  if (start == cut) {
    return cut;  // the cut falls before a lead or ASCII byte
  }
  return start;
}

void CopyField(char* field, std::size_t fieldSize, std::string_view text, std::size_t room) {
  if (fieldSize == 0) {
    return;
  }
  std::memset(field, 0, fieldSize);
  room = std::min(room, fieldSize - 1);
  const std::size_t n = Utf8Prefix(text, room);
  if (n > 0) {
    std::memcpy(field, text.data(), n);
  }
}

void CopyField(char16_t* field, std::size_t fieldUnits, std::u16string_view text,
               std::size_t room) {
  if (fieldUnits == 0) {
    return;
  }
  std::fill(field, field + fieldUnits, u'\0');
  room = std::min(room, fieldUnits - 1);
  const std::size_t zero = text.find(u'\0');
  if (zero != std::u16string_view::npos) {
    text = text.substr(0, zero);
  }
  std::size_t n = std::min(room, text.size());
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) {
    --n;  // do not keep the first half of a pair whose second half is cut off
  }
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), field);
}

}  // namespace rovik::alarm
