#include "uikit/png_image.h"

#include <QByteArray>
#include <QFile>
#include <QPainter>
#include <QString>

namespace rovik::uikit {

int CImage::GetBPP() const {
  if (m_image.isNull()) return 0;
  return m_bAlpha ? 32 : 24;
}

void CImage::Destroy() {
  m_image = QImage();
  m_bAlpha = false;
  m_transparentColor = -1;
}

void CImage::Attach(const QImage& decoded) {
  Destroy();
  if (decoded.isNull()) return;
  if (!decoded.hasAlphaChannel()) {
    m_image = decoded.convertToFormat(QImage::Format_RGB888);
    return;
  }
  // Premultiply exactly: every colour becomes (value * alpha) / 255, rounded down.
  QImage argb = decoded.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb p = line[x];
      const unsigned a = qAlpha(p);
      line[x] = qRgba(static_cast<int>(qRed(p) * a / 255), static_cast<int>(qGreen(p) * a / 255),
                      static_cast<int>(qBlue(p) * a / 255), static_cast<int>(a));
    }
  }
  // The values already are premultiplied; relabel the format without converting them again.
  m_image = QImage(argb.constBits(), argb.width(), argb.height(), argb.bytesPerLine(),
                   QImage::Format_ARGB32_Premultiplied)
                .copy();
  m_bAlpha = true;
}

bool LoadPngData(CImage& image, const QByteArray& png) {
  image.Destroy();
  QImage decoded;
  if (png.isEmpty() || !decoded.loadFromData(png, "PNG")) return false;
  image.Attach(decoded);
  return !image.IsNull();
}

bool LoadPngResource(CImage& image, int id) {
  image.Destroy();
  QFile file(QStringLiteral(":/PNG/%1").arg(id));
  if (!file.open(QIODevice::ReadOnly)) return false;
  return LoadPngData(image, file.readAll());
}

namespace {

// The picture as drawn: colour-keyed pictures lose their key colour, alpha pictures blend.
QImage DrawableImage(const CImage& image, const QRect& src) {
  const QImage part = src == image.Image().rect() ? image.Image() : image.Image().copy(src);
  if (image.GetTransparentColor() < 0) return part;
  const QRgb key = static_cast<QRgb>(image.GetTransparentColor());
  QImage keyed = part.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < keyed.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
    for (int x = 0; x < keyed.width(); ++x)
      if ((line[x] & 0xFFFFFFu) == key) line[x] = 0;
  }
  return keyed;
}

}  // namespace

void DrawImagePart(QPainter& surface, const CImage& image, const QRect& dest, const QRect& src) {
  if (image.IsNull() || dest.isEmpty() || src.isEmpty()) return;
  const QRect clipped = src & image.Image().rect();
  if (clipped.isEmpty()) return;
  const QPainter::CompositionMode mode = surface.compositionMode();
  const bool smooth = surface.testRenderHint(QPainter::SmoothPixmapTransform);
  surface.setRenderHint(QPainter::SmoothPixmapTransform, false);
  surface.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (clipped == src) {
    surface.drawImage(dest, DrawableImage(image, src));
  } else {
    // Only part of the source lies on the picture: keep its scale, draw what exists.
    const double sx = double(dest.width()) / src.width();
    const double sy = double(dest.height()) / src.height();
    const QRectF target(dest.x() + (clipped.x() - src.x()) * sx,
                        dest.y() + (clipped.y() - src.y()) * sy, clipped.width() * sx,
                        clipped.height() * sy);
    surface.drawImage(target, DrawableImage(image, clipped));
  }
  surface.setCompositionMode(mode);
  surface.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

void DrawImage(QPainter& surface, const CImage& image, const QRect& dest) {
  if (image.IsNull()) return;
  DrawImagePart(surface, image, dest, image.Image().rect());
}

QRect CentredImageRect(const CImage& image, const QRect& rect) {
  int left = rect.left();
  int top = rect.top();
  int width = rect.width();
  int height = rect.height();
  if (image.GetWidth() < width) {
    left += (width - image.GetWidth()) / 2;
    width = image.GetWidth();
  }
  if (image.GetHeight() < height) {
    top += (height - image.GetHeight()) / 2;
    height = image.GetHeight();
  }
  return QRect(left, top, width, height);
}

void DrawImageCentred(QPainter& surface, const CImage& image, const QRect& rect) {
  if (image.IsNull() || rect.isEmpty()) return;
  DrawImage(surface, image, CentredImageRect(image, rect));
}

}  // namespace rovik::uikit
