// Draws the suite's PNG pictures into a folder (resources/pictures is the committed output):
//   QT_QPA_PLATFORM=offscreen <build>/tools/rovik_draw_pictures resources/pictures
// Sizes and alpha channels are fixed by the windows that use them; the look is the suite's own:
// blue caption band, white close cross, paging arrows, the two prompt buttons, the splash picture,
// the desktop icon.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <functional>

namespace {

const QColor kBlue(17, 104, 179);
const QColor kGreyText(98, 98, 98);

QFont Font(const QString& face, int pixels, int weight) {
  QFont font;
  font.setFamilies({face, QStringLiteral("WenQuanYi Zen Hei")});
  font.setPixelSize(pixels);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QImage Transparent(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

void Cross(QPainter& p, const QColor& colour, int size) {
  QPen pen(colour, 2.0, Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  const double a = size * 0.34;
  const double b = size * 0.66;
  p.drawLine(QPointF(a, a), QPointF(b, b));
  p.drawLine(QPointF(b, a), QPointF(a, b));
}

QImage CloseButton(bool hover) {
  QImage image = Transparent(26, 26);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  if (hover) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(232, 72, 60));
    p.drawRoundedRect(QRectF(2, 2, 22, 22), 3, 3);
  }
  Cross(p, Qt::white, 26);
  return image;
}

QImage Chevron(bool right, bool hover) {
  QImage image = Transparent(20, 20);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QColor line = kGreyText;
  if (hover) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1, 1, 18, 18));
    line = Qt::white;
  } else {
    p.setPen(QPen(QColor(150, 170, 190), 1.0));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
  }
  p.setPen(QPen(line, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath path;
  if (right) {
    path.moveTo(8.5, 5.5);
    path.lineTo(13, 10);
    path.lineTo(8.5, 14.5);
  } else {
    path.moveTo(11.5, 5.5);
    path.lineTo(7, 10);
    path.lineTo(11.5, 14.5);
  }
  p.drawPath(path);
  return image;
}

QImage SmallGlyph(bool minimise, bool hover) {
  QImage image = Transparent(20, 20);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  if (hover) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawRoundedRect(QRectF(1, 1, 18, 18), 3, 3);
  }
  p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
  if (minimise)
    p.drawLine(QPointF(5, 13), QPointF(15, 13));
  else
    p.drawRect(QRectF(5.5, 5.5, 9, 9));
  return image;
}

QImage PromptButton(int w, int h, const QString& text, bool primary, bool hover) {
  QImage image = Transparent(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRectF body(1.5, 3.5, w - 3, h - 7);
  if (primary) {
    p.setPen(QPen(hover ? QColor(10, 84, 150) : QColor(12, 90, 160), 1.0));
    p.setBrush(hover ? QColor(38, 132, 214) : kBlue);
  } else {
    p.setPen(QPen(hover ? kBlue : QColor(180, 190, 200), 1.0));
    p.setBrush(hover ? QColor(240, 247, 253) : QColor(255, 255, 255));
  }
  p.drawRoundedRect(body, 4, 4);
  p.setPen(primary ? QColor(255, 255, 255) : (hover ? kBlue : kGreyText));
  p.setFont(Font(QStringLiteral("WenQuanYi Zen Hei"), primary ? 15 : 13, primary ? 700 : 400));
  p.drawText(body, Qt::AlignCenter, text);
  return image;
}

QImage CaptionTile() {
  QImage image(4, 4, QImage::Format_RGB888);
  const QColor rows[4] = {kBlue, QColor(13, 88, 156), QColor(16, 100, 172), QColor(14, 94, 164)};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) image.setPixelColor(x, y, rows[y]);
  return image;
}

// The camera lens of the splash picture and the desktop icon: dark glass, lighter at its centre.
QRadialGradient LensGradient(QPointF centre, qreal radius) {
  QRadialGradient lens(centre, radius);
  lens.setColorAt(0.0, QColor(70, 90, 120));
  lens.setColorAt(0.7, QColor(20, 30, 48));
  lens.setColorAt(1.0, QColor(10, 16, 28));
  return lens;
}

QImage Splash() {
  QImage image(680, 363, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient sky(0, 0, 680, 363);
  sky.setColorAt(0.0, QColor(28, 140, 228));
  sky.setColorAt(1.0, QColor(13, 92, 170));
  p.fillRect(image.rect(), sky);

  // Soft rings behind the camera, as a signal spreading from it.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 4; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 40 - i * 8), 2.0));
    p.drawEllipse(QPointF(190, 182), 95.0 + i * 28, 95.0 + i * 28);
  }
  // A dome camera.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawRoundedRect(QRectF(120, 112, 140, 26), 8, 8);
  QPainterPath dome;
  dome.moveTo(130, 138);
  dome.arcTo(QRectF(130, 80, 120, 120), 180, 180);
  p.drawPath(dome);
  const QRadialGradient lens = LensGradient(QPointF(190, 168), 26);
  p.setBrush(lens);
  p.drawEllipse(QPointF(190, 166), 24, 24);
  p.setBrush(QColor(255, 255, 255, 170));
  p.drawEllipse(QPointF(182, 158), 6, 6);
  p.setBrush(QColor(255, 80, 60));
  p.drawEllipse(QPointF(225, 126), 4, 4);

  p.setPen(Qt::white);
  p.setFont(Font(QStringLiteral("Liberation Sans"), 76, 700));
  p.drawText(QRect(330, 100, 330, 90), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Rovik"));
  p.setPen(QColor(220, 236, 250));
  p.setFont(Font(QStringLiteral("WenQuanYi Zen Hei"), 24, 400));
  p.drawText(QRect(334, 190, 330, 40), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("家庭安防 · 随时守护"));
  p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
  p.drawLine(334, 240, 600, 240);
  p.setPen(QColor(200, 225, 248));
  p.setFont(Font(QStringLiteral("Liberation Sans"), 14, 400));
  p.drawText(QRect(334, 248, 330, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Home security camera service"));
  return image;
}

QImage AppIcon() {
  QImage image = Transparent(32, 32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 16), 9, 9);
  p.setBrush(QColor(20, 30, 48));
  p.drawEllipse(QPointF(16, 16), 5, 5);
  return image;
}

// The desktop icon (menus, docks): the small icon's lens on the splash picture's blue, drawn on
// a 256-unit square and scaled to `size` pixels.
QImage DesktopIcon(int size) {
  QImage image = Transparent(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  QLinearGradient sky(0, 0, 256, 256);
  sky.setColorAt(0.0, QColor(28, 140, 228));
  sky.setColorAt(1.0, QColor(13, 92, 170));
  p.setPen(Qt::NoPen);
  p.setBrush(sky);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 2; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 60 - i * 25), 6.0));
    p.drawEllipse(QPointF(128, 128), 92.0 + i * 16, 92.0 + i * 16);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(128, 128), 72, 72);
  const QRadialGradient lens = LensGradient(QPointF(128, 128), 44);
  p.setBrush(lens);
  p.drawEllipse(QPointF(128, 128), 44, 44);
  p.setBrush(QColor(255, 255, 255, 170));
  p.drawEllipse(QPointF(114, 114), 11, 11);
  p.setBrush(QColor(255, 80, 60));
  p.drawEllipse(QPointF(190, 66), 12, 12);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                  : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: rovik_draw_pictures <output folder>\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "rovik_draw_pictures: cannot create %s\n", argv[1]);
    return 1;
  }
  const std::pair<const char*, std::function<QImage()>> pictures[] = {
      {"150", Splash},
      {"201", [] { return CloseButton(false); }},
      {"202", [] { return CloseButton(true); }},
      {"203", CaptionTile},
      {"204", [] { return SmallGlyph(true, false); }},
      {"205", [] { return SmallGlyph(true, true); }},
      {"206", [] { return SmallGlyph(false, false); }},
      {"207", [] { return SmallGlyph(false, true); }},
      {"208", [] { return Chevron(true, false); }},
      {"209", [] { return Chevron(true, true); }},
      {"210", [] { return Chevron(false, false); }},
      {"211", [] { return Chevron(false, true); }},
      {"212", [] { return PromptButton(110, 35, QStringLiteral("算了，不关心"), false, false); }},
      {"213", [] { return PromptButton(110, 35, QStringLiteral("算了，不关心"), false, true); }},
      {"214", [] { return PromptButton(80, 35, QStringLiteral("准！"), true, false); }},
      {"215", [] { return PromptButton(80, 35, QStringLiteral("准！"), true, true); }},
      {"icon128", AppIcon},
      {"desktop48", [] { return DesktopIcon(48); }},
      {"desktop256", [] { return DesktopIcon(256); }},
  };
  int failures = 0;
  for (const auto& [name, draw] : pictures) {
    const QString path = out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!draw().save(path, "PNG")) {
      std::fprintf(stderr, "rovik_draw_pictures: cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
