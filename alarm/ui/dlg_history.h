// CDlgHistory: the alarm history browser. A borderless window owned by the alarm popup listing
// today's alarms and every unread one, newest first, in a paged grid. Clicking an unread row marks
// it read; the footer link "本页已知" asks the popup (kMsgMarkAlarmsRead) to mark the page read;
// "X" tells the popup (kMsgHistoryClosed) that the browser was closed.
#pragma once

#include "uikit/custom_sel_static.h"
#include "uikit/png_image.h"
#include "uikit/rw_button.h"

#include <QFont>
#include <QPoint>
#include <QWidget>

#include <optional>

namespace rovik::alarm {

class MdSQLite;

class CDlgHistory : public QWidget {
  Q_OBJECT
 public:
  // `parent` is the popup, which receives kMsgHistoryClosed and kMsgMarkAlarmsRead. `store` null:
  // the process-wide store.
  explicit CDlgHistory(QWidget* parent = nullptr, MdSQLite* store = nullptr);

  // Refills the grid with today's and the unread alarms; keeps the grid when there are none.
  void LoadHistory();

  uikit::CCustomSelStatic& Grid() { return *m_grid; }
  uikit::CRWButton& CloseButton() { return *m_btnClose; }

  // Set by the owner before the window is first shown (the application's fonts).
  void SetFonts(const QFont& normal12, const QFont& bold12);

  static constexpr int kGridId = 1020;
  static constexpr int kCloseId = 1000;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  MdSQLite* Store() const;
  void Layout();
  void OnRowClicked(int rowId, const QString& text);
  void OnPageNoted();
  void OnClose();

  uikit::CCustomSelStatic* m_grid;
  uikit::CRWButton* m_btnClose;
  uikit::CImage m_imgTitle;
  QFont m_fontNormal12;
  QFont m_fontBold12;
  MdSQLite* m_store;
  std::optional<QPoint> m_dragOffset;  // pointer offset in the window while dragged by hand
};

}  // namespace rovik::alarm
