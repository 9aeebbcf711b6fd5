#include "launcher/upgrade/entry_name.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace rovik::launcher {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::u16string ReduceEntryName(std::u16string_view name) {
  // The parent-folder steps, in the order they are looked for.
  static constexpr std::array<std::u16string_view, 4> kParentSteps = {u"\\..\\", u"\\../", u"/../",
                                                                      u"/..\\"};
  std::u16string_view rest = name;
  for (;;) {
    if (rest.size() >= 2 && rest[1] == u':') {
      rest.remove_prefix(2);
      continue;
    }
    if (!rest.empty() && IsSeparator(rest[0])) {
      rest.remove_prefix(1);
      continue;
    }
    bool stepped = false;
    for (std::u16string_view step : kParentSteps) {
      const std::size_t at = rest.find(step);
      if (at != std::u16string_view::npos) {
        rest.remove_prefix(at + step.size());
        stepped = true;
        break;
      }
    }
    if (!stepped) {
      return std::u16string(rest);
    }
  }
}

bool IsSafeEntryName(std::u16string_view name) {
  if (name.empty() || name.size() >= kMaxEntryName) {
    return false;
  }
  if (IsSeparator(name[0]) || (name.size() >= 2 && name[1] == u':')) {
    return false;
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] == u'\0') {
      return false;
    }
    if (i == name.size() || IsSeparator(name[i])) {
      if (name.substr(start, i - start) == u"..") {
        return false;
      }
      start = i + 1;
    }
  }
  return true;
}

std::u16string EntryNameFromArchive(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) {
    return {};
  }
  const QString wide = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  std::u16string reduced = ReduceEntryName(std::u16string_view(
      reinterpret_cast<const char16_t*>(wide.utf16()), static_cast<std::size_t>(wide.size())));
  if (!IsSafeEntryName(reduced)) {
    return {};
  }
  return reduced;
}

std::filesystem::path EntryRelativePath(std::u16string_view name) {
  std::u16string native(name);
  for (char16_t& c : native) {
    if (c == u'\\') {
      c = u'/';
    }
  }
  const QByteArray bytes =
      QString::fromUtf16(native.data(), static_cast<qsizetype>(native.size())).toUtf8();
  return std::filesystem::path(
      std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

EntryNameParts SplitEntryName(std::u16string_view name) {
  const std::size_t at = name.find_last_of(u"\\/");
  if (at == std::u16string_view::npos) {
    return {std::u16string(), std::u16string(name)};
  }
  return {std::u16string(name.substr(0, at)), std::u16string(name.substr(at + 1))};
}

}  // namespace rovik::launcher
