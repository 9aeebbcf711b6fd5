// CRWButton: state pictures placed and squeezed, partial picture sets, hover tracking with real
// mouse events, the disabled state, text colours and the hand cursor.
#include "uikit/rw_button.h"

#include <QApplication>
#include <QPainter>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace rovik::uikit;

namespace {

const QColor kBack(17, 104, 179);

// What the button must show: its background with `id` drawn into `dest`.
QImage Expected(QSize size, int id, QRect dest) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(kBack);
  CImage picture;
  EXPECT_TRUE(LoadPngResource(picture, id));
  QPainter p(&image);
  DrawImage(p, picture, dest);
  return image;
}

QImage Rendered(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

struct ButtonWindow {
  QWidget window;
  CRWButton* button;
  ButtonWindow(QSize size) {
    window.resize(120, 80);
    button = new CRWButton(&window);
    button->setGeometry(QRect(QPoint(30, 20), size));
    button->m_clrBack = kBack;
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(&window, QPoint(1, 1));  // start away from the button
  }
};

}  // namespace

TEST(RWButton, DefaultsAreTheSkinsDefaults) {
  CRWButton button;
  EXPECT_FALSE(button.m_bFillMode);
  EXPECT_FALSE(button.m_bUseImages);
  EXPECT_FALSE(button.m_bShowText);
  EXPECT_EQ(button.m_clrBack, QColor(250, 250, 250));
  EXPECT_EQ(button.m_clrBackActive, QColor(250, 250, 250));
  EXPECT_EQ(button.m_clrText, QColor(98, 98, 98));
  EXPECT_EQ(button.m_clrTextActive, QColor(243, 253, 253));
  EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
}

TEST(RWButton, PictureIsCentredWhenSmallerAndSqueezedWhenNot) {
  ButtonWindow big(QSize(40, 30));
  ASSERT_TRUE(big.button->LoadStateImages(201, 202, 202));
  EXPECT_EQ(Rendered(*big.button), Expected(QSize(40, 30), 201, QRect(7, 2, 26, 26)));

  ButtonWindow small(QSize(20, 20));
  ASSERT_TRUE(small.button->LoadStateImages(201, 202, 202));
  EXPECT_EQ(Rendered(*small.button), Expected(QSize(20, 20), 201, QRect(0, 0, 20, 20)));
}

TEST(RWButton, MissingHoverPictureMeansNoPictures) {
  ButtonWindow w(QSize(40, 30));
  EXPECT_FALSE(w.button->LoadStateImages(201, 999, 202));
  EXPECT_FALSE(w.button->m_bUseImages);
  EXPECT_FALSE(w.button->m_imgPressed.IsNull());
  EXPECT_FALSE(w.button->m_imgNormal.IsNull());
  EXPECT_TRUE(w.button->m_imgHover.IsNull());
  QImage plain(40, 30, QImage::Format_RGB32);
  plain.fill(kBack);
  EXPECT_EQ(Rendered(*w.button), plain);
}

TEST(RWButton, HoverFollowsTheMouseAndLeavingRedrawsNormal) {
  ButtonWindow w(QSize(40, 30));
  ASSERT_TRUE(w.button->LoadStateImages(201, 202, 202));
  const QImage normal = Expected(QSize(40, 30), 201, QRect(7, 2, 26, 26));
  const QImage hover = Expected(QSize(40, 30), 202, QRect(7, 2, 26, 26));
  ASSERT_NE(normal, hover);

  QTest::mouseMove(&w.window, QPoint(5, 5));
  QTest::mouseMove(&w.window, QPoint(45, 30));
  EXPECT_TRUE(w.button->m_bHover);
  EXPECT_EQ(w.button->DrawState(), CRWButton::State::Hover);
  EXPECT_EQ(Rendered(*w.button), hover);

  QTest::mouseMove(&w.window, QPoint(100, 70));
  EXPECT_FALSE(w.button->m_bHover);
  EXPECT_EQ(w.button->DrawState(), CRWButton::State::Normal);
  EXPECT_EQ(Rendered(*w.button), normal);
}

TEST(RWButton, PressedShowsThePressedPictureAndClicks) {
  ButtonWindow w(QSize(40, 30));
  ASSERT_TRUE(w.button->LoadStateImages(201, 201, 202));
  QSignalSpy clicked(w.button, &QAbstractButton::clicked);
  QTest::mousePress(w.button, Qt::LeftButton, {}, QPoint(20, 15));
  EXPECT_EQ(w.button->DrawState(), CRWButton::State::Pressed);
  EXPECT_EQ(Rendered(*w.button), Expected(QSize(40, 30), 202, QRect(7, 2, 26, 26)));
  QTest::mouseRelease(w.button, Qt::LeftButton, {}, QPoint(20, 15));
  EXPECT_EQ(clicked.count(), 1);
}

TEST(RWButton, DisabledButtonStaysNormal) {
  ButtonWindow w(QSize(40, 30));
  ASSERT_TRUE(w.button->LoadStateImages(201, 202, 202));
  QSignalSpy clicked(w.button, &QAbstractButton::clicked);
  w.button->setEnabled(false);
  const QPoint inside(50, 35);  // window coordinates over the button
  QTest::mouseMove(&w.window, inside);
  QTest::mousePress(&w.window, Qt::LeftButton, {}, inside);
  EXPECT_FALSE(w.button->m_bHover);
  EXPECT_EQ(w.button->DrawState(), CRWButton::State::Normal);
  EXPECT_EQ(Rendered(*w.button), Expected(QSize(40, 30), 201, QRect(7, 2, 26, 26)));
  QTest::mouseRelease(&w.window, Qt::LeftButton, {}, inside);
  EXPECT_EQ(clicked.count(), 0);
}

TEST(RWButton, HoverWhileBeingDisabledReturnsToNormal) {
  ButtonWindow w(QSize(40, 30));
  ASSERT_TRUE(w.button->LoadStateImages(201, 202, 202));
  QTest::mouseMove(&w.window, QPoint(45, 30));
  ASSERT_TRUE(w.button->m_bHover);
  w.button->setEnabled(false);
  EXPECT_FALSE(w.button->m_bHover);
  EXPECT_EQ(Rendered(*w.button), Expected(QSize(40, 30), 201, QRect(7, 2, 26, 26)));
}

TEST(RWButton, TextUsesTheStateColourOnTheLastFill) {
  ButtonWindow w(QSize(90, 20));
  CRWButton& b = *w.button;
  b.setText(QStringLiteral("查看报警记录"));
  b.m_bShowText = true;
  b.m_bFillMode = true;
  b.m_clrBack = QColor(220, 235, 249);
  b.m_clrBackActive = QColor(0, 0, 200);
  b.m_clrText = QColor(98, 98, 98);
  b.m_clrTextActive = QColor(255, 255, 0);
  QFont font = b.font();
  font.setStyleStrategy(QFont::NoAntialias);
  font.setPixelSize(12);
  b.m_hFont = font;

  auto colours = [&] {
    QSet<QRgb> seen;
    const QImage image = Rendered(b);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) seen.insert(image.pixel(x, y) & 0xFFFFFF);
    return seen;
  };
  QTest::mouseMove(&w.window, QPoint(5, 5));
  ASSERT_FALSE(b.m_bHover);
  const QSet<QRgb> normal = colours();
  EXPECT_TRUE(normal.contains(0xDCEBF9));
  EXPECT_TRUE(normal.contains(0x626262));
  EXPECT_FALSE(normal.contains(0x0000C8));

  QTest::mouseMove(&w.window, QPoint(60, 30));
  ASSERT_TRUE(b.m_bHover);
  const QSet<QRgb> hover = colours();
  EXPECT_TRUE(hover.contains(0x0000C8));
  EXPECT_TRUE(hover.contains(0xFFFF00));
  EXPECT_FALSE(hover.contains(0xDCEBF9));
  EXPECT_FALSE(hover.contains(0x626262));
}
