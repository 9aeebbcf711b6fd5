// Pictures of the suite: PNG resources loaded into CImage, prepared for blending, and drawn whole,
// in part or centred. Resource id N lives at ":/PNG/N" (resources/*.qrc).
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

class QByteArray;
class QPainter;

namespace rovik::uikit {

// A decoded picture. Pictures whose PNG carries alpha are 32 bits per pixel with premultiplied
// colours; the others are 24 bits per pixel and kept exactly as decoded. A picture may name one
// transparent colour that is left out when it is drawn.
class CImage {
 public:
  bool IsNull() const { return m_image.isNull(); }
  int GetWidth() const { return m_image.width(); }
  int GetHeight() const { return m_image.height(); }
  int GetBPP() const;
  bool HasAlpha() const { return m_bAlpha; }

  // Releases the bitmap; the picture is empty afterwards.
  void Destroy();

  // The colour left out when drawing; -1 (the default) means none.
  void SetTransparentColor(QRgb rgb) { m_transparentColor = static_cast<qint64>(rgb & 0xFFFFFFu); }
  void ClearTransparentColor() { m_transparentColor = -1; }
  qint64 GetTransparentColor() const { return m_transparentColor; }

  // Pixel access: for alpha pictures the stored (premultiplied) values.
  QRgb GetPixel(int x, int y) const { return m_image.pixel(x, y); }
  const QImage& Image() const { return m_image; }

  // Takes a decoded image: with alpha it becomes premultiplied ARGB, without it 24-bit RGB.
  void Attach(const QImage& decoded);

 private:
  QImage m_image;
  bool m_bAlpha = false;
  qint64 m_transparentColor = -1;
};

// Loads PNG resource `id` of the program's own resources into `image`, discarding what it held.
// Fails when the resource is missing or cannot be decoded; the picture is then empty.
bool LoadPngResource(CImage& image, int id);

// The same from PNG bytes already in memory (an outside file, a test picture).
bool LoadPngData(CImage& image, const QByteArray& png);

// The whole picture stretched to `dest`.
void DrawImage(QPainter& surface, const CImage& image, const QRect& dest);

// The part `src` of the picture stretched to `dest`. Nothing when either rectangle is empty or the
// picture is empty.
void DrawImagePart(QPainter& surface, const CImage& image, const QRect& dest, const QRect& src);

// Centred along an axis where the picture is smaller than `rect`, squeezed or stretched to `rect`
// along an axis where it is not.
void DrawImageCentred(QPainter& surface, const CImage& image, const QRect& rect);

// The rectangle DrawImageCentred draws into.
QRect CentredImageRect(const CImage& image, const QRect& rect);

}  // namespace rovik::uikit
