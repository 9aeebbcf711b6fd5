// CCustomSelStatic: an owner-drawn paged list of "~"-separated rows under a one-line header, with
// hover and selection, an unread look, and a footer with page links and one action link. It tells
// its parent about clicks with the posted messages kMsgGridRowClicked (row) and kMsgGridAction
// (action link).
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

namespace rovik::uikit {

struct GridRow {
  int id = 0;     // from 1, counted over all pages in the order given
  QRect rect;     // where the row is drawn on its page
  QString text;   // cells joined with "~"
  int state = 0;  // 0 normal, 1 hovered, 2 selected
};

class CCustomSelStatic : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kMaxColumns = 15;
  enum RowState { kNormal = 0, kHovered = 1, kSelected = 2 };

  explicit CCustomSelStatic(QWidget* parent = nullptr);

  // Header height, row height, titles joined with "~", the 15 column fractions (kept from the
  // first successful call), row-number and pager flags. Fails for a non-positive height or a
  // title count outside 1..15, and then changes neither fractions nor flags.
  bool SetHeader(int headerHeight, int rowHeight, const QString& titles,
                 const std::array<double, kMaxColumns>& fractions, bool rowNumbers, bool pager);
  // Replaces all rows, pages them and shows the first page with nothing selected.
  void SetRows(const QStringList& texts);
  void SetActionText(const QString& text, bool shown);
  // Replaces the text of row `id` (1..row count) and repaints it.
  void SetRowText(int id, const QString& text);
  // Selects the next (forward) or previous row, wrapping, and shows its page.
  void MoveSelection(bool forward);

  // Shows page `page` (0-based) when it exists.
  void ShowPage(int page);
  // The rows of the page shown.
  const std::vector<GridRow>& CurrentPageRows() const;
  const GridRow* RowById(int id) const;

  int m_nRowHeight = 20;
  int m_nHeaderHeight = 20;
  int m_nRowsPerPage = 0;
  int m_nPage = 0;
  int m_nPageCount = 0;
  int m_nRowCount = 0;
  int m_nHoverId = 0;
  int m_nSelectedId = 0;
  int m_nColumns = 0;
  bool m_bRowNumbers = false;
  bool m_bPager = true;
  bool m_bActionLink = false;
  QString m_strHeader;
  QString m_strAction;
  QString m_strSelected;
  std::array<double, kMaxColumns> m_adColumnWidth{};
  std::optional<QFont> m_hFontNormal;
  std::optional<QFont> m_hFontUnread;

  // Remembered at each paint for hit testing.
  QRect m_rcBody;
  QRect m_rcPrev;
  QRect m_rcNext;
  QRect m_rcPager;
  QRect m_rcAction;

  // Colours of the look.
  static constexpr QRgb kBack = 0xFAFAFA;
  static constexpr QRgb kRowOdd = 0xEEEEEE;
  static constexpr QRgb kRowHover = 0xCDE2F4;
  static constexpr QRgb kRowSelected = 0x66B8FF;
  static constexpr QRgb kText = 0x626262;
  static constexpr QRgb kTextSelected = 0xF3FDFD;
  static constexpr QRgb kTextUnread = 0xF77925;
  static constexpr QRgb kLinkInactive = 0xC0C0C0;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Clear();
  GridRow* FindRow(int id);
  GridRow* RowAt(const QPoint& pos);
  void SetRowState(int id, int state);
  void RepaintRow(int id);
  void ClearHover();
  void Post(int message, int wParam);
  void PaintHeader(QPainter& dc);
  void PaintRow(QPainter& dc, const GridRow& row, int position);
  void PaintFooter(QPainter& dc);
  // Left edge and width of each column across `span`.
  std::vector<std::pair<int, int>> ColumnSpans(int left, int width) const;

  std::vector<std::vector<GridRow>> m_pages;
  bool m_fractionsSet = false;
};

}  // namespace rovik::uikit
