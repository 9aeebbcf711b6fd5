#include "alarm/ui/dlg_auto_run.h"

#include "alarm/ui/picture_ids.h"
#include "uikit/gdi_font.h"
#include "uikit/rw_memory_dc.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace rovik::alarm {

namespace {

const QString kTitle = QStringLiteral("Rovik警报设置");
const QString kLines[] = {
    QStringLiteral("万一有了报警信息，"),
    QStringLiteral("为了您能及时收到报警，建议："),
    QStringLiteral("开机自动启动Rovik后台报警程序"),
};

void SetUpButton(uikit::CRWButton& button, int normal, int hover, int pressed) {
  button.LoadStateImages(normal, hover, pressed);
  button.m_clrBack = QColor(220, 235, 249);
  // The pictures carry the label; without them the button shows its text instead.
  button.m_bShowText = !button.m_bUseImages;
}

}  // namespace

CDlgAutoRun::CDlgAutoRun(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_btnAgree(new uikit::CRWButton(QStringLiteral("准！"), this)),
      m_btnDecline(new uikit::CRWButton(QStringLiteral("算了，不关心"), this)),
      m_fontNormal12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 400)),
      m_fontBold12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 700)) {
  setWindowTitle(kTitle);
  setModal(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  m_btnAgree->setObjectName(QStringLiteral("button1021"));
  m_btnDecline->setObjectName(QStringLiteral("button1022"));

  resize(300, 175);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }
  Layout();
  uikit::LoadPngResource(m_imgTitle, kPictureBackgroundTile);
  SetUpButton(*m_btnDecline, kPictureWideButtonNormal, kPictureWideButtonHot,
              kPictureWideButtonHot);
  SetUpButton(*m_btnAgree, kPictureNarrowButtonNormal, kPictureNarrowButtonHot,
              kPictureNarrowButtonHot);
  connect(m_btnAgree, &QAbstractButton::clicked, this, &QDialog::accept);
  connect(m_btnDecline, &QAbstractButton::clicked, this, &QDialog::reject);
}

void CDlgAutoRun::SetFonts(const QFont& normal12, const QFont& bold12) {
  m_fontNormal12 = normal12;
  m_fontBold12 = bold12;
  m_btnAgree->m_hFont = normal12;
  m_btnDecline->m_hFont = normal12;
  update();
}

void CDlgAutoRun::paintEvent(QPaintEvent*) {
  QPainter target(this);
  uikit::CRWMemoryDC memory(target, rect());
  QPainter& dc = memory.painter();
  dc.setBackgroundMode(Qt::TransparentMode);
  dc.fillRect(rect(), QColor(238, 238, 238));
  const QRect inner = rect().adjusted(2, 2, -2, -2);
  dc.fillRect(inner, QColor(250, 250, 250));

  const QRect bar(inner.left(), inner.top(), inner.width(), 26);
  uikit::DrawImage(dc, m_imgTitle, bar);
  dc.setFont(m_fontBold12);
  dc.setPen(QColor(243, 253, 253));
  dc.drawText(bar.adjusted(5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
              kTitle);

  dc.setFont(m_fontNormal12);
  dc.setPen(QColor(98, 98, 98));
  int top = bar.bottom() + 1 + 10;
  for (const QString& line : kLines) {
    dc.drawText(QRect(inner.left() + 15, top, inner.right() + 1 - (inner.left() + 15), 20),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
    top += 20 + 10;
  }

  dc.fillRect(QRect(inner.left(), inner.bottom() + 1 - 46, inner.width(), 46),
              QColor(220, 235, 249));
}

void CDlgAutoRun::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Layout();
}

void CDlgAutoRun::Layout() {
  if (isMinimized()) return;
  const int r = rect().right() + 1;
  const int b = rect().bottom() + 1;
  m_btnAgree->setGeometry(r - 90, b - 40, 80, 35);
  m_btnDecline->setGeometry(r - 205, b - 40, 110, 35);
}

void CDlgAutoRun::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      accept();
      return;
    case Qt::Key_Escape:
      reject();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace rovik::alarm
