// Pictures: loading from the resources, premultiplying, drawing whole, in part, centred and
// colour-keyed, and the off-screen surface.
#include "uikit/png_image.h"
#include "uikit/rw_memory_dc.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace rovik::uikit;

namespace {

QByteArray EncodePng(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QImage Canvas(int w, int h, QColor fill) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

}  // namespace

TEST(PngImage, PremultipliesAlphaRoundingDown) {
  QImage source(3, 1, QImage::Format_ARGB32);
  source.setPixel(0, 0, qRgba(50, 100, 200, 128));
  source.setPixel(1, 0, qRgba(90, 180, 30, 0));
  source.setPixel(2, 0, qRgba(11, 22, 33, 255));
  CImage image;
  ASSERT_TRUE(LoadPngData(image, EncodePng(source)));
  EXPECT_TRUE(image.HasAlpha());
  EXPECT_EQ(image.GetBPP(), 32);

  const QRgb half = image.GetPixel(0, 0);
  EXPECT_EQ(qBlue(half), 100);
  EXPECT_EQ(qGreen(half), 50);
  EXPECT_EQ(qRed(half), 25);
  EXPECT_EQ(qAlpha(half), 128);
  EXPECT_EQ(image.GetPixel(1, 0), qRgba(0, 0, 0, 0));
  EXPECT_EQ(image.GetPixel(2, 0), qRgba(11, 22, 33, 255));
}

TEST(PngImage, OpaquePictureKeepsItsColours) {
  CImage image;
  ASSERT_TRUE(LoadPngResource(image, 203));
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(image.GetBPP(), 24);
  if (qEnvironmentVariableIsEmpty("ROVIK_SOURCE_DIR"))
    GTEST_SKIP() << "ROVIK_SOURCE_DIR not set: the source picture cannot be found";
  QImage file(QString::fromLocal8Bit(qgetenv("ROVIK_SOURCE_DIR")) + "/resources/pictures/203.png");
  ASSERT_FALSE(file.isNull());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(image.GetPixel(x, y) & 0xFFFFFF, file.pixel(x, y) & 0xFFFFFF) << x << "," << y;
}

TEST(PngImage, EveryResourceHasItsSizeAndAlpha) {
  struct Expect {
    int id, w, h;
    bool alpha;
  };
  const Expect table[] = {
      {150, 680, 363, false}, {201, 26, 26, true},  {202, 26, 26, true}, {203, 4, 4, false},
      {204, 20, 20, true},    {205, 20, 20, true},  {206, 20, 20, true}, {207, 20, 20, true},
      {208, 20, 20, true},    {209, 20, 20, true},  {210, 20, 20, true}, {211, 20, 20, true},
      {212, 110, 35, true},   {213, 110, 35, true}, {214, 80, 35, true}, {215, 80, 35, true},
  };
  for (const Expect& e : table) {
    CImage image;
    ASSERT_TRUE(LoadPngResource(image, e.id)) << e.id;
    EXPECT_EQ(image.GetWidth(), e.w) << e.id;
    EXPECT_EQ(image.GetHeight(), e.h) << e.id;
    EXPECT_EQ(image.HasAlpha(), e.alpha) << e.id;
  }
}

TEST(PngImage, FailedLoadLeavesThePictureEmpty) {
  CImage image;
  ASSERT_TRUE(LoadPngResource(image, 201));
  EXPECT_FALSE(LoadPngResource(image, 999));
  EXPECT_TRUE(image.IsNull());
  EXPECT_FALSE(LoadPngData(image, QByteArray("\x89PNG not really", 15)));
  EXPECT_TRUE(image.IsNull());
  EXPECT_FALSE(LoadPngData(image, QByteArray()));
}

TEST(PngImage, DrawingNothingLeavesTheSurfaceAlone) {
  CImage image;
  ASSERT_TRUE(LoadPngResource(image, 202));
  CImage empty;
  QImage target = Canvas(40, 40, Qt::white);
  const QImage before = target.copy();
  {
    QPainter p(&target);
    DrawImagePart(p, image, QRect(0, 0, 0, 10), QRect(0, 0, 26, 26));
    DrawImagePart(p, image, QRect(10, 10, -5, 5), QRect(0, 0, 26, 26));
    DrawImagePart(p, image, QRect(0, 0, 20, 20), QRect(5, 5, 0, 0));
    DrawImage(p, empty, QRect(0, 0, 40, 40));
    DrawImageCentred(p, empty, QRect(0, 0, 40, 40));
    DrawImageCentred(p, image, QRect());
  }
  EXPECT_EQ(target, before);
}

TEST(PngImage, BlendsPremultipliedPixelsOverTheSurface) {
  QImage source(1, 1, QImage::Format_ARGB32);
  source.setPixel(0, 0, qRgba(0, 0, 255, 128));
  CImage image;
  ASSERT_TRUE(LoadPngData(image, EncodePng(source)));
  QImage target = Canvas(4, 4, Qt::white);
  {
    QPainter p(&target);
    DrawImage(p, image, QRect(0, 0, 2, 2));
  }
  const QRgb blended = target.pixel(1, 1);
  EXPECT_NEAR(qRed(blended), 127, 2);
  EXPECT_NEAR(qGreen(blended), 127, 2);
  EXPECT_EQ(qBlue(blended), 255);
  EXPECT_EQ(target.pixel(2, 2), qRgb(255, 255, 255));
}

TEST(PngImage, ColourKeyedPictureLeavesTheKeyOut) {
  QImage source(2, 1, QImage::Format_RGB888);
  source.setPixelColor(0, 0, QColor(255, 0, 255));
  source.setPixelColor(1, 0, QColor(0, 128, 0));
  CImage image;
  ASSERT_TRUE(LoadPngData(image, EncodePng(source)));
  image.SetTransparentColor(qRgb(255, 0, 255));
  QImage target = Canvas(2, 1, QColor(1, 2, 3));
  {
    QPainter p(&target);
    DrawImage(p, image, target.rect());
  }
  EXPECT_EQ(target.pixel(0, 0), qRgb(1, 2, 3));
  EXPECT_EQ(target.pixel(1, 0), qRgb(0, 128, 0));
}

TEST(PngImage, DrawsAPartStretched) {
  QImage source(4, 1, QImage::Format_RGB888);
  for (int x = 0; x < 4; ++x) source.setPixelColor(x, 0, QColor(x * 60, 0, 0));
  CImage image;
  ASSERT_TRUE(LoadPngData(image, EncodePng(source)));
  QImage target = Canvas(10, 2, Qt::white);
  {
    QPainter p(&target);
    DrawImagePart(p, image, QRect(0, 0, 10, 2), QRect(2, 0, 1, 1));
  }
  for (int x = 0; x < 10; ++x) EXPECT_EQ(target.pixel(x, 1), qRgb(120, 0, 0)) << x;
}

TEST(PngImage, CentresWhenSmallerAndSqueezesWhenNot) {
  CImage image;
  ASSERT_TRUE(LoadPngResource(image, 201));
  EXPECT_EQ(CentredImageRect(image, QRect(0, 0, 40, 30)), QRect(7, 2, 26, 26));
  EXPECT_EQ(CentredImageRect(image, QRect(0, 0, 20, 20)), QRect(0, 0, 20, 20));
  // Same size: not smaller, so drawn to the rectangle as it is.
  EXPECT_EQ(CentredImageRect(image, QRect(5, 5, 26, 26)), QRect(5, 5, 26, 26));
  // One axis each way.
  EXPECT_EQ(CentredImageRect(image, QRect(10, 10, 30, 10)), QRect(12, 10, 26, 10));
}

TEST(MemoryDC, DrawsInTargetCoordinatesAndCopiesBackAtTheEnd) {
  QImage target = Canvas(50, 50, Qt::white);
  {
    QPainter p(&target);
    {
      CRWMemoryDC dc(p, QRect(10, 10, 20, 20));
      ASSERT_TRUE(dc.buffered());
      dc->fillRect(QRect(10, 10, 20, 20), Qt::blue);
      dc->fillRect(QRect(15, 15, 5, 5), Qt::red);
      dc->fillRect(QRect(0, 0, 50, 50).adjusted(0, 0, 0, -45), Qt::green);  // outside: dropped
    }
  }
  EXPECT_EQ(target.pixel(10, 10), qRgb(0, 0, 255));
  EXPECT_EQ(target.pixel(29, 29), qRgb(0, 0, 255));
  EXPECT_EQ(target.pixel(16, 16), qRgb(255, 0, 0));
  EXPECT_EQ(target.pixel(9, 9), qRgb(255, 255, 255));
  EXPECT_EQ(target.pixel(30, 30), qRgb(255, 255, 255));
  EXPECT_EQ(target.pixel(2, 2), qRgb(255, 255, 255));
}

TEST(MemoryDC, EmptyRectangleCoversTheClipBox) {
  QImage target = Canvas(30, 30, Qt::white);
  {
    QPainter p(&target);
    p.setClipRect(QRect(5, 5, 10, 10));
    CRWMemoryDC dc(p);
    EXPECT_EQ(dc.rect(), QRect(5, 5, 10, 10));
    dc->fillRect(QRect(0, 0, 30, 30), Qt::black);
  }
  EXPECT_EQ(target.pixel(5, 5), qRgb(0, 0, 0));
  EXPECT_EQ(target.pixel(20, 20), qRgb(255, 255, 255));
}
