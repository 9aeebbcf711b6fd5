#include "alarm/ui/dlg_operator_view.h"

#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/dlg_history.h"
#include "alarm/ui/picture_ids.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "uikit/gdi_font.h"
#include "uikit/rw_memory_dc.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimerEvent>

namespace rovik::alarm {

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 198;
constexpr int kCaptionHeight = 26;
constexpr int kHiddenShift = 10000;
const QColor kBand(220, 235, 249);

uikit::CRWButton* ImageButton(QWidget* parent, const QString& text, QColor back, int normal,
                              int hover, int pressed) {
  auto* button = new uikit::CRWButton(text, parent);
  button->LoadStateImages(normal, hover, pressed);
  button->m_clrBack = back;
  button->m_bShowText = !button->m_bUseImages;  // without pictures, at least the sign
  return button;
}

uikit::CRWButton* TextButton(QWidget* parent, const QString& text) {
  auto* button = new uikit::CRWButton(text, parent);
  button->m_bShowText = true;
  button->m_bFillMode = true;
  button->m_clrBack = kBand;
  button->m_clrBackActive = kBand;
  button->m_clrText = QColor(98, 98, 98);
  button->m_clrTextActive = QColor(98, 98, 98);
  return button;
}

QString Utf8Field(const char* field, std::size_t size) {
  const std::string_view text = FieldText(field, size);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CDlgOperatorView::CDlgOperatorView(QWidget* host, AlarmList& alarms, MdSQLite* store)
    : QWidget(host),
      m_host(host),
      m_alarms(alarms),
      m_store(store),
      m_clientPath(rovik::platform::ProgramFolder() + "/RovikClient"),
      m_fontBold12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 700)),
      m_fontLarge36(uikit::CreateGdiFont(QStringLiteral("微软雅黑"), 36, 400)),
      m_fontNormal12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 400)),
      m_fontLink12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 700, true)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);

  m_btnClose = ImageButton(this, QStringLiteral("X"), QColor(17, 104, 179), kPictureCloseNormal,
                           kPictureCloseHot, kPictureCloseHot);
  m_btnPrevious = ImageButton(this, QStringLiteral("<"), kBand, kPicturePreviousNormal,
                              kPicturePreviousHot, kPicturePreviousHot);
  m_btnNext = ImageButton(this, QStringLiteral(">"), kBand, kPictureNextNormal, kPictureNextHot,
                          kPictureNextHot);
  m_btnVideo = TextButton(this, QStringLiteral("打开监控视频"));
  m_btnRecords = TextButton(this, QStringLiteral("查看报警记录"));
  m_btnVideo->m_hFont = m_fontLink12;
  m_btnRecords->m_hFont = m_fontLink12;
  m_btnClose->setObjectName(QStringLiteral("button1001"));
  m_btnVideo->setObjectName(QStringLiteral("button1004"));
  m_btnRecords->setObjectName(QStringLiteral("button1005"));
  m_btnNext->setObjectName(QStringLiteral("button1008"));
  m_btnPrevious->setObjectName(QStringLiteral("button1009"));
  connect(m_btnClose, &QAbstractButton::clicked, this, &CDlgOperatorView::OnClose);
  connect(m_btnVideo, &QAbstractButton::clicked, this, &CDlgOperatorView::OnOpenVideo);
  connect(m_btnRecords, &QAbstractButton::clicked, this, &CDlgOperatorView::OnViewRecords);
  connect(m_btnNext, &QAbstractButton::clicked, this, &CDlgOperatorView::OnNext);
  connect(m_btnPrevious, &QAbstractButton::clicked, this, &CDlgOperatorView::OnPrevious);
  m_btnPrevious->setEnabled(false);
  m_btnNext->setEnabled(false);

  uikit::LoadPngResource(m_captionImage, kPictureBackgroundTile);
  m_host->installEventFilter(this);
  m_host->resize(kWidth, kHeight);
  setGeometry(m_host->rect());
  Layout();
}

CDlgOperatorView::~CDlgOperatorView() {
  m_slideTimer.stop();
  if (m_host) m_host->removeEventFilter(this);
}

void CDlgOperatorView::SetFonts(const QFont& bold12, const QFont& large36, const QFont& normal12,
                                const QFont& link12) {
  m_fontBold12 = bold12;
  m_fontLarge36 = large36;
  m_fontNormal12 = normal12;
  m_fontLink12 = link12;
  m_btnVideo->m_hFont = link12;
  m_btnRecords->m_hFont = link12;
  update();
}

MdSQLite* CDlgOperatorView::Store() const { return m_store ? m_store : MdSQLite::GetInstance(); }

uikit::CRWButton& CDlgOperatorView::Button(int id) {
  switch (id) {
    case 1001:
      return *m_btnClose;
    case 1004:
      return *m_btnVideo;
    case 1005:
      return *m_btnRecords;
    case 1008:
      return *m_btnNext;
    default:
      return *m_btnPrevious;
  }
}

QString CDlgOperatorView::Caption() const {
  return QStringLiteral("Rovik警报(%1/%2)").arg(m_alarmCount - m_alarmIndex + 1).arg(m_alarmCount);
}

void CDlgOperatorView::PlaceHidden() {
  QRect area(0, 0, 1024, 768);
  if (const QScreen* screen =
          m_host->screen() ? m_host->screen() : QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  const int right = area.left() + area.width();
  const int bottom = area.top() + area.height();
  m_homeRect = QRect(right - 310, bottom - 208, kWidth, kHeight);
  m_shown = false;
  MoveHostHidden();
}

void CDlgOperatorView::MoveHostHidden() {
  m_host->move(m_homeRect.left() + kHiddenShift, m_host->y());
  m_host->hide();
}

void CDlgOperatorView::ShowAlarms() {
  m_alarmCount = static_cast<int>(m_alarms.size());
  m_alarmIndex = m_alarmCount;
  if (m_alarmCount <= 0) {
    HideAlarms();
    return;
  }
  if (m_sliding) FinishSlide();
  ShowPage(false);
  m_shown = true;
  m_host->setGeometry(m_homeRect);
  m_host->showNormal();
}

void CDlgOperatorView::HideAlarms() {
  m_alarmCount = static_cast<int>(m_alarms.size());
  m_alarmIndex = m_alarmCount;
  m_shown = false;
  MoveHostHidden();
}

void CDlgOperatorView::AlarmAdded() {
  m_alarmCount = static_cast<int>(m_alarms.size());
  m_alarmIndex = m_alarmCount;
  m_slideDirection = kUp;
  ShowPage(true);
  StartSlide();
}

void CDlgOperatorView::ShowPage(bool animate) {
  m_btnPrevious->setEnabled(m_alarmIndex < m_alarmCount);
  m_btnNext->setEnabled(m_alarmIndex > 1);
  if (m_alarmIndex < 1 || m_alarmIndex > static_cast<int>(m_alarms.size())) return;
  const AlarmRecord* record = m_alarms[static_cast<size_t>(m_alarmIndex - 1)].get();
  if (!record) return;
  Texts texts;
  texts.device = Utf8Field(record->deviceName, sizeof record->deviceName);
  texts.time = Utf8Field(record->alarmTime, sizeof record->alarmTime);
  texts.user = QString::fromStdU16String(std::u16string(FieldText(record->userName, 256)));
  const std::string_view code = FieldText(record->deviceType, sizeof record->deviceType);
  texts.type = QString::fromStdU16String(std::u16string(AlarmTypeName(code))) + QLatin1Char('!');
  (animate ? m_next : m_cur) = texts;
  update();
}

void CDlgOperatorView::MarkShownAlarmRead() {
  if (m_alarms.empty() || m_alarmIndex < 1 || m_alarmIndex > m_alarmCount ||
      m_alarmIndex > static_cast<int>(m_alarms.size()))
    return;
  AlarmRecord* record = m_alarms[static_cast<size_t>(m_alarmIndex - 1)].get();
  if (!record || record->state > 0) return;
  MdSQLite* store = Store();
  if (store && store->MarkAlarmRead(record->id)) record->state = 1;
}

void CDlgOperatorView::OnNext() {
  if (m_sliding) return;
  if (m_alarmIndex > 1) --m_alarmIndex;
  MarkShownAlarmRead();
  m_slideDirection = kLeft;
  ShowPage(true);
  StartSlide();
}

void CDlgOperatorView::OnPrevious() {
  if (m_sliding) return;
  if (m_alarmIndex < m_alarmCount) ++m_alarmIndex;
  MarkShownAlarmRead();
  m_slideDirection = kRight;
  ShowPage(true);
  StartSlide();
}

void CDlgOperatorView::StartSlide() {
  const int h = m_contentRect.height();
  const int w = m_contentRect.width();
  switch (m_slideDirection) {
    case kUp:
      m_incomingRect = m_contentRect.translated(0, h);
      break;
    case kDown:
      m_incomingRect = m_contentRect.translated(0, -h);
      break;
    case kLeft:
      m_incomingRect = m_contentRect.translated(w, 0);
      break;
    default:
      m_incomingRect = m_contentRect.translated(-w, 0);
      break;
  }
  m_sliding = true;
  m_slideStep = 0;
  update();
  m_slideTimer.start(kSlideIntervalMs, this);
}

void CDlgOperatorView::SlideStep() {
  if (!m_sliding || m_slideStep > 3) {
    FinishSlide();
    return;
  }
  const bool vertical = m_slideDirection == kUp || m_slideDirection == kDown;
  const int size = vertical ? m_homeContentRect.height() : m_homeContentRect.width();
  const int distance = m_slideSteps[static_cast<size_t>(m_slideStep)] * size / 10;
  QPoint delta;
  switch (m_slideDirection) {
    case kUp:
      delta = QPoint(0, -distance);
      break;
    case kDown:
      delta = QPoint(0, distance);
      break;
    case kLeft:
      delta = QPoint(-distance, 0);
      break;
    default:
      delta = QPoint(distance, 0);
      break;
  }
  m_contentRect.translate(delta);
  m_incomingRect.translate(delta);
  update();
  if (++m_slideStep > 3) FinishSlide();
}

void CDlgOperatorView::FinishSlide() {
  m_slideTimer.stop();
  m_contentRect = m_homeContentRect;
  m_incomingRect = QRect();
  if (m_sliding) m_cur = m_next;
  m_sliding = false;
  update();
}

void CDlgOperatorView::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_slideTimer.timerId())
    SlideStep();
  else
    QWidget::timerEvent(event);
}

void CDlgOperatorView::OnClose() {
  m_shown = false;
  MoveHostHidden();
  MarkShownAlarmRead();
}

void CDlgOperatorView::OnOpenVideo() {
  // Hidden where it is; still "shown", so later alarms join the list until the next reload.
  m_host->hide();
  if (!rovik::platform::StartProgram(m_clientPath)) {
    // No client took over the alarms (missing or not executable): the popup comes back
    // rather than leave them unseen for the rest of the session.
    m_host->show();
    return;
  }
  QThread::msleep(100);
}

void CDlgOperatorView::OnViewRecords() {
  if (!m_history) return;
  m_history->LoadHistory();
  m_history->show();
  m_history->raise();
}

void CDlgOperatorView::Layout() {
  const QRect c = rect();
  const int l = c.left();
  const int t = c.top();
  const int r = c.right() + 1;
  const int b = c.bottom() + 1;
  m_btnClose->setGeometry(r - 26, t, 26, 26);
  m_btnRecords->setGeometry(r - 100, b - 28, 90, 20);
  m_btnVideo->setGeometry(r - 200, b - 28, 90, 20);
  m_btnPrevious->setGeometry(l + 15, b - 28, 20, 20);
  m_btnNext->setGeometry(l + 40, b - 28, 20, 20);
  m_homeContentRect = QRect(l, t + kCaptionHeight, r - l, (b - 37) - (t + kCaptionHeight));
  m_contentRect = m_homeContentRect;
  if (m_sliding) FinishSlide();
}

void CDlgOperatorView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

bool CDlgOperatorView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_host) {
    switch (event->type()) {
      case QEvent::Resize:
        if (!m_host->isMinimized()) setGeometry(m_host->rect());
        break;
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        // Escape and Enter neither close nor activate anything.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
        break;
      }
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CDlgOperatorView::paintEvent(QPaintEvent*) {
  QPainter target(this);
  uikit::CRWMemoryDC memory(target, rect());
  QPainter& dc = memory.painter();
  const QRect c = rect();
  const int l = c.left();
  const int t = c.top();
  const int r = c.right() + 1;
  const int w = c.width();
  dc.setBackgroundMode(Qt::TransparentMode);
  dc.fillRect(c, QColor(250, 250, 250));

  // Caption band: columns 1-2 of the caption picture's first row, its second row for the last line.
  uikit::DrawImagePart(dc, m_captionImage, QRect(l, t, w, kCaptionHeight - 1), QRect(1, 0, 2, 1));
  uikit::DrawImagePart(dc, m_captionImage, QRect(l, t + kCaptionHeight - 1, w, 1),
                       QRect(1, 1, 2, 1));
  dc.setPen(QColor(243, 253, 253));
  dc.setFont(m_fontBold12);
  dc.drawText(QRect(l + 5, t, w - 5, kCaptionHeight),
              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Caption());

  dc.save();
  dc.setClipRect(m_homeContentRect);
  if (m_sliding) PaintContent(dc, m_incomingRect, m_next);
  PaintContent(dc, m_contentRect, m_cur);
  dc.restore();

  dc.setPen(m_separatorPen);
  dc.drawLine(l + 1, t + 27, r - 2, t + 27);
  const int bandTop = m_homeContentRect.bottom() + 1 + 2;
  dc.fillRect(QRect(l, bandTop, w, c.bottom() + 1 - bandTop), kBand);
}

void CDlgOperatorView::PaintContent(QPainter& dc, const QRect& r, const Texts& texts) {
  if (r.isEmpty()) return;
  const int right = r.left() + r.width();
  const int bottom = r.top() + r.height();
  dc.setPen(QColor(247, 121, 37));
  dc.setFont(m_fontLarge36);
  dc.drawText(QRect(r.left(), r.top(), right - 5 - r.left(), 55),
              Qt::AlignCenter | Qt::TextSingleLine, texts.type);
  if (texts.device.isEmpty()) return;
  dc.fillRect(QRect(r.left(), r.top() + 55, r.width(), bottom - (r.top() + 55)),
              QColor(242, 242, 242));
  dc.setPen(QColor(98, 98, 98));
  dc.setFont(m_fontNormal12);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs;
  const int textLeft = r.left() + 5;
  const int textWidth = r.width() - 10;
  dc.drawText(QRect(textLeft, r.top() + 63, textWidth, 18), flags,
              QStringLiteral("报警设备：\t") + texts.device);
  dc.drawText(QRect(textLeft, r.top() + 81, textWidth, 20), flags,
              QStringLiteral("用户名称：\t") + texts.user);
  dc.drawText(QRect(textLeft, r.top() + 101, textWidth, 20), flags,
              QStringLiteral("报警时间：\t") + texts.time);
}

}  // namespace rovik::alarm
