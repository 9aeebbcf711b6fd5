#include "alarm/ui/dlg_history.h"

#include "alarm/record/alarm_record.h"
#include "alarm/store/md_sqlite.h"
#include "alarm/ui/picture_ids.h"
#include "uikit/gdi_font.h"
#include "uikit/rw_memory_dc.h"
#include "uikit/window_message.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

namespace rovik::alarm {

namespace {

const QString kTitle = QStringLiteral("Rovik报警列表");
const QString kHeader = QStringLiteral(
    "序号~报警时间~设备类型~设备名称~关联IPC~用户名称~查看时间~用户账号~IPCID~ID~消息状态");
constexpr std::array<double, uikit::CCustomSelStatic::kMaxColumns> kFractions{
    0.1, 0.22, 0.12, 0.32, 0, 0.24, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const QString kUnread = QStringLiteral("未读");
const QString kRead = QStringLiteral("已读");
const QString kPageNoted = QStringLiteral("本页已知");
constexpr int kTitleHeight = 26;

// The row text without its last field ("a~b~c" -> "a~b"); empty when there is no "~".
QString WithoutLastField(const QString& text) {
  const qsizetype cut = text.lastIndexOf(QLatin1Char('~'));
  return cut < 0 ? QString() : text.left(cut);
}

QString LastField(const QString& text) {
  const qsizetype cut = text.lastIndexOf(QLatin1Char('~'));
  return cut < 0 ? QString() : text.mid(cut + 1);
}

}  // namespace

CDlgHistory::CDlgHistory(QWidget* parent, MdSQLite* store)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_grid(new uikit::CCustomSelStatic(this)),
      m_btnClose(new uikit::CRWButton(QStringLiteral("X"), this)),
      m_fontNormal12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 400)),
      m_fontBold12(uikit::CreateGdiFont(QStringLiteral("宋体"), 12, 700)),
      m_store(store) {
  setWindowTitle(kTitle);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  m_grid->setObjectName(QStringLiteral("grid1020"));
  m_btnClose->setObjectName(QStringLiteral("button1000"));

  uikit::LoadPngResource(m_imgTitle, kPictureBackgroundTile);
  m_btnClose->LoadStateImages(kPictureCloseNormal, kPictureCloseHot, kPictureCloseHot);
  m_btnClose->m_clrBack = QColor(17, 104, 179);
  // Without its pictures the button still says what it does.
  m_btnClose->m_bShowText = !m_btnClose->m_bUseImages;
  connect(m_btnClose, &QAbstractButton::clicked, this, &CDlgHistory::OnClose);

  resize(700, 565);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }

  // Laid out now: the list may be filled before the window is first shown.
  Layout();
  m_grid->SetHeader(24, 24, kHeader, kFractions, true, true);
  SetFonts(m_fontNormal12, m_fontBold12);
}

void CDlgHistory::SetFonts(const QFont& normal12, const QFont& bold12) {
  m_fontNormal12 = normal12;
  m_fontBold12 = bold12;
  m_grid->m_hFontNormal = normal12;
  m_grid->m_hFontUnread = bold12;
  update();
}

MdSQLite* CDlgHistory::Store() const { return m_store ? m_store : MdSQLite::GetInstance(); }

void CDlgHistory::LoadHistory() {
  MdSQLite* store = Store();
  if (!store) return;
  AlarmList alarms;
  if (store->QueryTodayAndUnread(alarms) <= 0) return;
  QStringList rows;
  rows.reserve(static_cast<qsizetype>(alarms.size()));
  for (auto& record : alarms) {
    if (record) rows << QString::fromStdU16String(FormatAlarmLine(*record, false));
    record.reset();
  }
  m_grid->SetRows(rows);
  m_grid->SetActionText(kPageNoted, true);
}

bool CDlgHistory::event(QEvent* e) {
  switch (uikit::WindowMessageEvent::MessageOf(e)) {
    case uikit::kMsgGridRowClicked: {
      auto* message = static_cast<uikit::WindowMessageEvent*>(e);
      OnRowClicked(static_cast<int>(message->wParam()), message->text());
      message->result = 0;
      return true;
    }
    case uikit::kMsgGridAction:
      OnPageNoted();
      return true;
    default:
      return QWidget::event(e);
  }
}

void CDlgHistory::OnRowClicked(int rowId, const QString& text) {
  if (LastField(text) != kUnread) return;
  const QString head = WithoutLastField(text);
  const QString newText = head + QLatin1Char('~') + kRead;
  bool ok = false;
  const int alarmId = LastField(head).toInt(&ok);
  MdSQLite* store = Store();
  if (!ok || !store || !store->MarkAlarmRead(alarmId)) return;
  m_grid->SetRowText(rowId, newText);
}

void CDlgHistory::OnPageNoted() {
  const auto& rows = m_grid->CurrentPageRows();
  QString ids;
  for (const uikit::GridRow& row : rows)
    ids += LastField(WithoutLastField(row.text)) + QLatin1Char(',');
  while (ids.endsWith(QLatin1Char(','))) ids.chop(1);
  if (ids.isEmpty() || !parentWidget()) return;

  uikit::WindowMessageEvent request(uikit::kMsgMarkAlarmsRead, 0, ids);
  QCoreApplication::sendEvent(parentWidget(), &request);
  if (request.result == 0) return;
  // The page is rewritten row by row; copy the ids first, SetRowText repaints as it goes.
  std::vector<std::pair<int, QString>> rewrites;
  for (const uikit::GridRow& row : rows)
    rewrites.emplace_back(row.id, WithoutLastField(row.text) + QLatin1Char('~') + kRead);
  for (const auto& [id, text] : rewrites) m_grid->SetRowText(id, text);
}

void CDlgHistory::OnClose() {
  if (QWidget* owner = parentWidget())
    QCoreApplication::postEvent(owner, new uikit::WindowMessageEvent(uikit::kMsgHistoryClosed));
  else
    hide();  // nobody to tell: close by ourselves
}

void CDlgHistory::paintEvent(QPaintEvent*) {
  QPainter target(this);
  uikit::CRWMemoryDC memory(target, rect());
  QPainter& dc = memory.painter();
  dc.fillRect(rect(), QColor(238, 238, 238));
  const QRect bar(0, 0, width(), kTitleHeight);
  uikit::DrawImage(dc, m_imgTitle, bar);
  dc.setFont(m_fontBold12);
  dc.setPen(QColor(243, 253, 253));
  dc.setBackgroundMode(Qt::TransparentMode);
  dc.drawText(bar.adjusted(5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
              kTitle);
}

void CDlgHistory::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

void CDlgHistory::Layout() {
  if (isMinimized()) return;
  const QRect client = rect();
  m_grid->setGeometry(client.left() + 2, client.top() + kTitleHeight, client.width() - 4,
                      client.height() - 28);
  m_btnClose->setGeometry(client.right() + 1 - 28, client.top(), 26, 26);
}

void CDlgHistory::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();  // the browser never ends by keyboard
      return;
    case Qt::Key_Left:
    case Qt::Key_Up:
      m_grid->MoveSelection(false);
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      m_grid->MoveSelection(true);
      break;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

void CDlgHistory::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    // Dragged by its own surface: the window manager moves it when it can, else we do.
    QWindow* window = windowHandle();
    if (!window || !window->startSystemMove())
      m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QWidget::mousePressEvent(event);
}

void CDlgHistory::mouseMoveEvent(QMouseEvent* event) {
  if (m_dragOffset && (event->buttons() & Qt::LeftButton))
    move(event->globalPosition().toPoint() - *m_dragOffset);
  QWidget::mouseMoveEvent(event);
}

void CDlgHistory::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_dragOffset.reset();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace rovik::alarm
