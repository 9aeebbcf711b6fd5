// Fonts given as the suite specifies them: face, character height in pixels, weight, underline.
#pragma once

#include <QFont>
#include <QString>

namespace rovik::uikit {

// weight on the 100..900 scale (400 normal, 700 bold). Faces missing on the machine fall back to
// a font that has the characters (the CJK faces to WenQuanYi Zen Hei).
QFont CreateGdiFont(const QString& face, int height, int weight, bool underline = false);

}  // namespace rovik::uikit
