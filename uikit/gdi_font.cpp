#include "uikit/gdi_font.h"

#include <QStringList>

namespace rovik::uikit {

QFont CreateGdiFont(const QString& face, int height, int weight, bool underline) {
  QFont font;
  // The named face first; CJK faces that Linux machines lack fall back to WenQuanYi, then to
  // whatever sans-serif face the machine has.
  font.setFamilies(
      QStringList{face, QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Liberation Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(height > 0 ? height : 12);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setUnderline(underline);
  return font;
}

}  // namespace rovik::uikit
