#include "uikit/custom_sel_static.h"

#include "uikit/rw_memory_dc.h"
#include "uikit/window_message.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace rovik::uikit {

namespace {

// A rectangle from its left, top, right and bottom edges (right and bottom exclusive).
QRect Ltrb(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }

const QString kPrevText = QStringLiteral("上一页");
const QString kNextText = QStringLiteral("下一页");
const QString kUnread = QStringLiteral("未读");

}  // namespace

CCustomSelStatic::CCustomSelStatic(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
}

bool CCustomSelStatic::SetHeader(int headerHeight, int rowHeight, const QString& titles,
                                 const std::array<double, kMaxColumns>& fractions, bool rowNumbers,
                                 bool pager) {
  if (headerHeight <= 0 || rowHeight <= 0) return false;
  m_strHeader = titles;
  m_nHeaderHeight = headerHeight;
  m_nRowHeight = rowHeight;
  const int columns = static_cast<int>(titles.split(QLatin1Char('~')).size());
  if (columns < 1 || columns > kMaxColumns) return false;
  m_nColumns = columns;
  if (!m_fractionsSet) {
    m_adColumnWidth = fractions;
    m_fractionsSet = true;
  }
  m_bRowNumbers = rowNumbers;
  m_bPager = pager;
  update();
  return true;
}

void CCustomSelStatic::Clear() {
  m_pages.clear();
  m_nRowsPerPage = 0;
  m_nPage = 0;
  m_nPageCount = 0;
  m_nRowCount = 0;
  m_nHoverId = 0;
  m_nSelectedId = 0;
  m_strSelected.clear();
}

void CCustomSelStatic::SetRows(const QStringList& texts) {
  Clear();
  m_nRowCount = static_cast<int>(texts.size());
  if (m_nRowCount == 0) return;

  const QRect client = rect();
  m_nRowsPerPage = (client.bottom() + 1 - (client.top() + m_nHeaderHeight)) / m_nRowHeight;
  if (m_bPager) --m_nRowsPerPage;
  // A control too small for one row still pages its rows one by one.
  m_nRowsPerPage = std::max(m_nRowsPerPage, 1);
  m_nPageCount = m_nRowCount / m_nRowsPerPage + (m_nRowCount % m_nRowsPerPage ? 1 : 0);

  m_pages.resize(static_cast<size_t>(m_nPageCount));
  for (int i = 0; i < m_nRowCount; ++i) {
    const int k = i % m_nRowsPerPage;
    GridRow row;
    row.id = i + 1;
    row.rect = Ltrb(client.left() + 1, client.top() + m_nHeaderHeight + 1 + k * m_nRowHeight,
                    client.right(), client.top() + m_nHeaderHeight + 1 + (k + 1) * m_nRowHeight);
    row.text = texts[i];
    m_pages[static_cast<size_t>(i / m_nRowsPerPage)].push_back(std::move(row));
  }
  m_nPage = 0;
  m_nSelectedId = 0;
  m_strSelected = texts.front();
  repaint();
}

void CCustomSelStatic::SetActionText(const QString& text, bool shown) {
  m_strAction = text;
  m_bActionLink = shown;
  update();
}

GridRow* CCustomSelStatic::FindRow(int id) {
  if (id < 1 || id > m_nRowCount || m_nRowsPerPage <= 0) return nullptr;
  auto& page = m_pages[static_cast<size_t>((id - 1) / m_nRowsPerPage)];
  return &page[static_cast<size_t>((id - 1) % m_nRowsPerPage)];
}

const GridRow* CCustomSelStatic::RowById(int id) const {
  return const_cast<CCustomSelStatic*>(this)->FindRow(id);
}

const std::vector<GridRow>& CCustomSelStatic::CurrentPageRows() const {
  static const std::vector<GridRow> none;
  if (m_nPage < 0 || m_nPage >= static_cast<int>(m_pages.size())) return none;
  return m_pages[static_cast<size_t>(m_nPage)];
}

void CCustomSelStatic::RepaintRow(int id) {
  const GridRow* row = FindRow(id);
  if (row && (id - 1) / m_nRowsPerPage == m_nPage) repaint(row->rect);
}

void CCustomSelStatic::SetRowText(int id, const QString& text) {
  GridRow* row = FindRow(id);
  if (!row) return;
  row->text = text;
  if (id == m_nSelectedId) m_strSelected = text;
  RepaintRow(id);
}

void CCustomSelStatic::SetRowState(int id, int state) {
  if (GridRow* row = FindRow(id)) row->state = state;
}

void CCustomSelStatic::ShowPage(int page) {
  if (page < 0 || page >= m_nPageCount || page == m_nPage) return;
  m_nPage = page;
  repaint();
}

void CCustomSelStatic::MoveSelection(bool forward) {
  if (m_nRowCount <= 0) return;
  SetRowState(m_nSelectedId, kNormal);
  int next;
  if (forward)
    next = (m_nSelectedId >= 1 && m_nSelectedId < m_nRowCount) ? m_nSelectedId + 1 : 1;
  else
    next = (m_nSelectedId > 1 && m_nSelectedId <= m_nRowCount) ? m_nSelectedId - 1 : m_nRowCount;
  GridRow* row = FindRow(next);
  m_nSelectedId = next;
  m_nPage = (next - 1) / m_nRowsPerPage;
  m_strSelected = row->text;
  row->state = kSelected;
  repaint();
}

std::vector<std::pair<int, int>> CCustomSelStatic::ColumnSpans(int left, int width) const {
  std::vector<std::pair<int, int>> spans;
  int x = left;
  for (int i = 0; i < kMaxColumns; ++i) {
    const double fraction =
        std::isfinite(m_adColumnWidth[i]) ? std::clamp(m_adColumnWidth[i], 0.0, 1.0) : 0.0;
    const int w = static_cast<int>(width * fraction);
    spans.emplace_back(x, w);
    x += w;
  }
  return spans;
}

void CCustomSelStatic::paintEvent(QPaintEvent*) {
  QPainter target(this);
  CRWMemoryDC memory(target, rect());
  QPainter& dc = memory.painter();
  const QRect client = rect();

  dc.fillRect(client, QColor(kBack));
  dc.setBackgroundMode(Qt::TransparentMode);
  dc.setPen(QColor(136, 136, 136));

  int bodyBottom = client.bottom();  // client bottom − 1
  if (m_bPager) bodyBottom -= m_nRowHeight + 8;
  m_rcBody = Ltrb(client.left() + 1, client.top(), client.right(), bodyBottom);

  PaintHeader(dc);
  const auto& rows = CurrentPageRows();
  for (size_t k = 0; k < rows.size() && static_cast<int>(k) < m_nRowsPerPage; ++k)
    PaintRow(dc, rows[k], static_cast<int>(k));
  PaintFooter(dc);
}

void CCustomSelStatic::PaintHeader(QPainter& dc) {
  const QRect header(m_rcBody.left(), m_rcBody.top(), m_rcBody.width(), m_nHeaderHeight);
  dc.setFont(m_hFontUnread ? *m_hFontUnread : font());
  dc.setPen(QColor(136, 136, 136));
  dc.drawLine(header.left(), header.top() + m_nHeaderHeight, header.left() + header.width() - 1,
              header.top() + m_nHeaderHeight);
  dc.setPen(Qt::black);
  const QStringList titles = m_strHeader.split(QLatin1Char('~'));
  const auto spans = ColumnSpans(header.left(), header.width());
  for (int i = 0; i < titles.size() && i < kMaxColumns; ++i) {
    if (spans[i].second <= 0) continue;
    dc.drawText(QRect(spans[i].first, header.top(), spans[i].second, m_nHeaderHeight),
                Qt::AlignCenter | Qt::TextSingleLine, titles[i]);
  }
}

void CCustomSelStatic::PaintRow(QPainter& dc, const GridRow& row, int position) {
  QColor fill(position % 2 ? kRowOdd : kBack);
  QColor text(kText);
  if (row.state == kHovered)
    fill = QColor(kRowHover);
  else if (row.state == kSelected) {
    fill = QColor(kRowSelected);
    text = QColor(kTextSelected);
  }
  dc.fillRect(row.rect, fill);

  const QStringList cells = row.text.split(QLatin1Char('~'));
  const bool unread = !cells.isEmpty() && cells.back() == kUnread;
  if (unread && row.state == kNormal) text = QColor(kTextUnread);
  if (unread && m_hFontUnread)
    dc.setFont(*m_hFontUnread);
  else
    dc.setFont(m_hFontNormal ? *m_hFontNormal : font());
  dc.setPen(text);

  const auto spans = ColumnSpans(row.rect.left(), row.rect.width());
  const QFontMetrics metrics = dc.fontMetrics();
  auto drawCell = [&](int column, const QString& value) {
    if (column >= kMaxColumns || spans[column].second <= 0) return;
    const QRect cell(spans[column].first, row.rect.top(), spans[column].second, row.rect.height());
    dc.drawText(cell, Qt::AlignCenter | Qt::TextSingleLine,
                metrics.elidedText(value, Qt::ElideRight, cell.width()));
  };
  int column = 0;
  if (m_bRowNumbers) drawCell(column++, QString::number(row.id));
  for (const QString& cell : cells) drawCell(column++, cell);
  dc.setPen(QColor(kText));
}

void CCustomSelStatic::PaintFooter(QPainter& dc) {
  const QRect client = rect();
  const int footerTop = m_rcBody.bottom() + 1;
  const int clientRight = client.right() + 1;
  const int clientBottom = client.bottom() + 1;
  m_rcPager = m_rcPrev = m_rcNext = m_rcAction = QRect();
  if (!m_bPager) return;
  dc.setFont(m_hFontNormal ? *m_hFontNormal : font());
  dc.setPen(QColor(136, 136, 136));
  dc.drawLine(client.left(), footerTop, client.right(), footerTop);

  m_rcPager = Ltrb(clientRight - 101, footerTop, clientRight - 1, clientBottom);
  const int middle = m_rcPager.left() + m_rcPager.width() / 2;
  m_rcPrev = Ltrb(m_rcPager.left(), footerTop, middle, clientBottom);
  m_rcNext = Ltrb(middle + 2, footerTop, m_rcPager.left() + m_rcPager.width(), clientBottom);

  auto drawLink = [&](const QRect& area, const QString& text, int align, bool active, QRgb colour,
                      QRgb line) {
    const QColor textColour = active ? QColor(colour) : QColor(kLinkInactive);
    const QColor lineColour = active ? QColor(line) : QColor(180, 180, 180);
    dc.setPen(textColour);
    dc.drawText(area, align | Qt::AlignVCenter | Qt::TextSingleLine, text);
    const QRect extent =
        dc.fontMetrics().boundingRect(area, align | Qt::AlignVCenter | Qt::TextSingleLine, text);
    const QRect bounded = extent & area;
    dc.setPen(lineColour);
    dc.drawLine(bounded.left(), bounded.bottom(), bounded.right(), bounded.bottom());
  };
  drawLink(m_rcPrev, kPrevText, Qt::AlignHCenter, m_nPage > 0, kText, 0x0A0A0A);
  drawLink(m_rcNext, kNextText, Qt::AlignRight, m_nPage + 1 < m_nPageCount, kText, 0x0A0A0A);

  if (m_bActionLink) {
    m_rcAction = Ltrb(client.left() + 5, footerTop, client.left() + 60, clientBottom);
    drawLink(m_rcAction, m_strAction, Qt::AlignLeft, true, kText, 0x0A0A0A);
  }
  dc.setPen(QColor(kText));
}

GridRow* CCustomSelStatic::RowAt(const QPoint& pos) {
  if (!m_rcBody.contains(pos) || m_nPage < 0 || m_nPage >= static_cast<int>(m_pages.size()))
    return nullptr;
  for (GridRow& row : m_pages[static_cast<size_t>(m_nPage)])
    if (row.rect.contains(pos)) return &row;
  return nullptr;
}

void CCustomSelStatic::ClearHover() {
  if (m_nHoverId > 0 && m_nHoverId != m_nSelectedId) {
    SetRowState(m_nHoverId, kNormal);
    RepaintRow(m_nHoverId);
  }
  m_nHoverId = -1;
}

void CCustomSelStatic::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  GridRow* row = RowAt(pos);
  if (!row) {
    ClearHover();
  } else if (row->id != m_nHoverId) {
    const int previous = m_nHoverId;
    if (previous > 0 && previous != m_nSelectedId) SetRowState(previous, kNormal);
    if (row->id != m_nSelectedId) row->state = kHovered;
    m_nHoverId = row->id;
    RepaintRow(previous);
    RepaintRow(row->id);
  }

  bool hand = m_rcPager.contains(pos) || (m_bActionLink && m_rcAction.contains(pos));
  if (row) {
    const QRect inner = row->rect.adjusted(2, 2, -2, -2);
    hand = hand || (inner.contains(pos) && pos.x() < inner.left() + 24);
  }
  setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
  QWidget::mouseMoveEvent(event);
}

void CCustomSelStatic::leaveEvent(QEvent* event) {
  ClearHover();
  update();
  QWidget::leaveEvent(event);
}

void CCustomSelStatic::Post(int message, int wParam) {
  if (QWidget* owner = parentWidget())
    QCoreApplication::postEvent(owner, new WindowMessageEvent(message, wParam, m_strSelected));
}

void CCustomSelStatic::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  GridRow* row = RowAt(event->position().toPoint());
  if (!row || row->id == m_nSelectedId) return;
  const int previous = m_nSelectedId;
  if (previous > 0) {
    SetRowState(previous, kNormal);
    RepaintRow(previous);
  }
  m_nSelectedId = row->id;
  m_strSelected = row->text;
  Post(kMsgGridRowClicked, row->id);
  row->state = kSelected;
  RepaintRow(row->id);
}

void CCustomSelStatic::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_bPager) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  const QPoint pos = event->position().toPoint();
  if (m_rcPrev.contains(pos)) {
    if (m_nPage > 0) ShowPage(m_nPage - 1);
  } else if (m_rcNext.contains(pos)) {
    if (m_nPage + 1 < m_nPageCount) ShowPage(m_nPage + 1);
  } else if (m_bActionLink && m_rcAction.contains(pos)) {
    Post(kMsgGridAction, m_nSelectedId);
  }
}

}  // namespace rovik::uikit
