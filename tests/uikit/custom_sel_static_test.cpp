// CCustomSelStatic: paging arithmetic, column layout, row looks by state, the footer links, and
// the messages it posts, driven with real mouse events on the offscreen platform.
#include "uikit/custom_sel_static.h"
#include "uikit/window_message.h"

#include <QApplication>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

using namespace rovik::uikit;

namespace {

constexpr std::array<double, 15> kHistoryFractions{0.1, 0.22, 0.12, 0.32, 0, 0.24, 0, 0,
                                                   0,   0,    0,    0,    0, 0,    0};
const QString kTitles = QStringLiteral(
    "序号~报警时间~设备类型~设备名称~关联IPC~用户名称~查看时间~用户账号~IPCID~ID~消息状态");

// The grid's parent: records the window messages it receives.
class Owner : public QWidget {
 public:
  std::vector<std::tuple<int, std::intptr_t, QString>> messages;

 protected:
  bool event(QEvent* e) override {
    if (const int msg = rovik::uikit::WindowMessageEvent::MessageOf(e)) {
      auto* m = static_cast<rovik::uikit::WindowMessageEvent*>(e);
      messages.emplace_back(msg, m->wParam(), m->text());
      return true;
    }
    return QWidget::event(e);
  }
};

QStringList Rows(int n, const QString& state = QStringLiteral("已读")) {
  QStringList rows;
  for (int i = 1; i <= n; ++i)
    rows << QStringLiteral("2026-12-07 10:%1:00~门磁~Door %1~cam~Alice~~acc~ipc~%1~%2")
                .arg(i, 2, 10, QLatin1Char('0'))
                .arg(state);
  return rows;
}

struct GridWindow {
  Owner owner;
  CCustomSelStatic* grid;
  explicit GridWindow(int height = 537, int width = 696) {
    owner.resize(width + 20, height + 20);
    grid = new CCustomSelStatic(&owner);
    grid->setGeometry(10, 10, width, height);
    QFont plain;
    plain.setFamilies({QStringLiteral("WenQuanYi Zen Hei")});
    plain.setPixelSize(12);
    plain.setStyleStrategy(QFont::NoAntialias);
    grid->m_hFontNormal = plain;
    plain.setBold(true);
    grid->m_hFontUnread = plain;
    EXPECT_TRUE(grid->SetHeader(24, 24, kTitles, kHistoryFractions, true, true));
    owner.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&owner));
  }
  QImage Render() { return grid->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  void Flush() { QCoreApplication::sendPostedEvents(&owner); }
  QPoint RowPoint(int id, int x = 300) {
    const GridRow* row = grid->RowById(id);
    return QPoint(x, row->rect.center().y());
  }
};

QSet<QRgb> ColoursIn(const QImage& image, const QRect& area) {
  QSet<QRgb> seen;
  const QRect r = area & image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) seen.insert(image.pixel(x, y) & 0xFFFFFF);
  return seen;
}

}  // namespace

TEST(GridPaging, HistorySizedGridHoldsTwentyRowsAPage) {
  GridWindow w;
  w.grid->SetRows(Rows(41));
  EXPECT_EQ(w.grid->m_nRowsPerPage, 20);
  EXPECT_EQ(w.grid->m_nPageCount, 3);
  EXPECT_EQ(w.grid->m_nRowCount, 41);
  EXPECT_EQ(w.grid->m_nPage, 0);
  EXPECT_EQ(w.grid->m_nSelectedId, 0);
  EXPECT_EQ(w.grid->CurrentPageRows().size(), 20u);
  EXPECT_EQ(w.grid->RowById(1)->rect, QRect(1, 25, 694, 24));
  EXPECT_EQ(w.grid->RowById(20)->rect.top(), 25 + 19 * 24);
  EXPECT_EQ(w.grid->RowById(21)->rect.top(), 25);
  w.grid->ShowPage(2);
  ASSERT_EQ(w.grid->CurrentPageRows().size(), 1u);
  EXPECT_EQ(w.grid->CurrentPageRows()[0].id, 41);
}

TEST(GridPaging, EmptyListOnlyClears) {
  GridWindow w;
  w.grid->SetRows(Rows(5));
  w.grid->MoveSelection(true);
  w.grid->SetRows({});
  EXPECT_EQ(w.grid->m_nRowCount, 0);
  EXPECT_EQ(w.grid->m_nPageCount, 0);
  EXPECT_EQ(w.grid->m_nSelectedId, 0);
  EXPECT_TRUE(w.grid->CurrentPageRows().empty());
  w.grid->MoveSelection(true);  // nothing to select
  EXPECT_EQ(w.grid->m_nSelectedId, 0);
}

TEST(GridPaging, TooSmallGridStillPagesOneRowAtATime) {
  GridWindow w(30);
  w.grid->SetRows(Rows(3));
  EXPECT_EQ(w.grid->m_nRowsPerPage, 1);
  EXPECT_EQ(w.grid->m_nPageCount, 3);
  w.Render();
}

TEST(GridHeader, RejectsBadHeightsAndColumnCountsKeepingTheFirstFractions) {
  CCustomSelStatic grid;
  std::array<double, 15> other{};
  other.fill(0.5);
  EXPECT_FALSE(grid.SetHeader(0, 24, kTitles, kHistoryFractions, true, false));
  EXPECT_FALSE(grid.SetHeader(24, -1, kTitles, kHistoryFractions, true, false));
  EXPECT_FALSE(grid.SetHeader(24, 24, QStringLiteral("a~b~c~d~e~f~g~h~i~j~k~l~m~n~o~p"),
                              kHistoryFractions, true, false));
  EXPECT_FALSE(grid.m_bRowNumbers);
  EXPECT_TRUE(grid.m_bPager);
  EXPECT_TRUE(grid.SetHeader(24, 24, kTitles, kHistoryFractions, true, false));
  EXPECT_EQ(grid.m_nColumns, 11);
  EXPECT_TRUE(grid.SetHeader(20, 20, QStringLiteral("a"), other, false, true));
  EXPECT_EQ(grid.m_nColumns, 1);
  EXPECT_EQ(grid.m_adColumnWidth, kHistoryFractions);
}

TEST(GridColumns, RowNumbersShiftCellsAndZeroColumnsHideThem) {
  GridWindow w;
  QStringList rows = {QStringLiteral("AAAA~BBBB~CCCC~DDDD~EEEE~x")};
  w.grid->SetRows(rows);
  const QImage base = w.Render();
  const QRect row = w.grid->RowById(1)->rect;
  // Column spans over the row width 694: 69, 152, 83, 222, 0, 166.
  const QRect col0(row.left(), row.top(), 69, row.height());
  const QRect col1(row.left() + 69, row.top(), 152, row.height());
  const QRect col5(row.left() + 69 + 152 + 83 + 222, row.top(), 166, row.height());
  EXPECT_TRUE(ColoursIn(base, col0).contains(0x626262));  // the row number

  rows[0].replace(QStringLiteral("AAAA"), QStringLiteral("ZZZZ"));
  w.grid->SetRowText(1, rows[0]);
  const QImage firstChanged = w.Render();
  for (int y = 0; y < base.height(); ++y)
    for (int x = 0; x < base.width(); ++x)
      if (base.pixel(x, y) != firstChanged.pixel(x, y)) {
        ASSERT_TRUE(col1.contains(x, y))
            << "first cell drawn outside column 1 at " << x << "," << y;
      }
  EXPECT_NE(base, firstChanged);

  // The fourth cell falls on the zero-width column: changing it changes nothing.
  rows[0].replace(QStringLiteral("DDDD"), QStringLiteral("WWWWWW"));
  w.grid->SetRowText(1, rows[0]);
  EXPECT_EQ(w.Render(), firstChanged);

  // The fifth cell lands in the user-name column.
  rows[0].replace(QStringLiteral("EEEE"), QStringLiteral("QQ"));
  w.grid->SetRowText(1, rows[0]);
  const QImage fifthChanged = w.Render();
  for (int y = 0; y < base.height(); ++y)
    for (int x = 0; x < base.width(); ++x)
      if (fifthChanged.pixel(x, y) != firstChanged.pixel(x, y)) {
        ASSERT_TRUE(col5.contains(x, y)) << x << "," << y;
      }
}

TEST(GridLook, UnreadRowByState) {
  GridWindow w;
  w.grid->SetRows(Rows(3, QStringLiteral("未读")));
  const QRect second = w.grid->RowById(2)->rect;
  const QRect first = w.grid->RowById(1)->rect;

  QSet<QRgb> c = ColoursIn(w.Render(), first);
  EXPECT_TRUE(c.contains(0xF77925));  // orange text
  EXPECT_TRUE(c.contains(0xFAFAFA));  // even position
  EXPECT_FALSE(c.contains(0x626262));
  EXPECT_TRUE(ColoursIn(w.Render(), second).contains(0xEEEEEE));  // odd position

  QTest::mouseMove(w.grid, w.RowPoint(2));
  EXPECT_EQ(w.grid->m_nHoverId, 2);
  c = ColoursIn(w.Render(), second);
  EXPECT_TRUE(c.contains(0xCDE2F4));
  EXPECT_TRUE(c.contains(0x626262));
  EXPECT_FALSE(c.contains(0xF77925));

  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.RowPoint(2));
  c = ColoursIn(w.Render(), second);
  EXPECT_TRUE(c.contains(0x66B8FF));
  EXPECT_TRUE(c.contains(0xF3FDFD));
  EXPECT_FALSE(c.contains(0xF77925));
  EXPECT_FALSE(c.contains(0xCDE2F4));
}

TEST(GridLook, ReadRowsAreGrey) {
  GridWindow w;
  w.grid->SetRows(Rows(1));
  const QSet<QRgb> c = ColoursIn(w.Render(), w.grid->RowById(1)->rect);
  EXPECT_TRUE(c.contains(0x626262));
  EXPECT_FALSE(c.contains(0xF77925));
}

TEST(GridMouse, HoverMovesAndLeaves) {
  GridWindow w;
  w.grid->SetRows(Rows(3));
  QTest::mouseMove(w.grid, w.RowPoint(1));
  EXPECT_EQ(w.grid->RowById(1)->state, 1);
  EXPECT_EQ(w.grid->cursor().shape(), Qt::ArrowCursor);
  QTest::mouseMove(w.grid, w.RowPoint(2, 10));
  EXPECT_EQ(w.grid->RowById(1)->state, 0);
  EXPECT_EQ(w.grid->RowById(2)->state, 1);
  EXPECT_EQ(w.grid->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseMove(w.grid, QPoint(300, 400));  // below the rows, still in the body
  EXPECT_EQ(w.grid->m_nHoverId, -1);
  EXPECT_EQ(w.grid->RowById(2)->state, 0);
  QTest::mouseMove(w.grid, w.RowPoint(3));
  QTest::mouseMove(&w.owner, QPoint(2, 2));  // off the grid
  EXPECT_EQ(w.grid->m_nHoverId, -1);
  EXPECT_EQ(w.grid->RowById(3)->state, 0);
}

TEST(GridMouse, ClickPostsOnceAndNotForTheSelectedRow) {
  GridWindow w;
  const QStringList rows = Rows(3);
  w.grid->SetRows(rows);
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.RowPoint(2));
  w.Flush();
  ASSERT_EQ(w.owner.messages.size(), 1u);
  EXPECT_EQ(std::get<0>(w.owner.messages[0]), 3027);
  EXPECT_EQ(std::get<1>(w.owner.messages[0]), 2);
  EXPECT_EQ(std::get<2>(w.owner.messages[0]), rows[1]);
  EXPECT_EQ(w.grid->m_nSelectedId, 2);
  EXPECT_EQ(w.grid->m_strSelected, rows[1]);

  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.RowPoint(2));
  w.Flush();
  EXPECT_EQ(w.owner.messages.size(), 1u);

  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.RowPoint(3));
  w.Flush();
  ASSERT_EQ(w.owner.messages.size(), 2u);
  EXPECT_EQ(std::get<1>(w.owner.messages[1]), 3);
  EXPECT_EQ(w.grid->RowById(2)->state, 0);
  EXPECT_EQ(w.grid->RowById(3)->state, 2);

  QTest::mouseClick(w.grid, Qt::LeftButton, {}, QPoint(300, 300));  // no row there
  w.Flush();
  EXPECT_EQ(w.owner.messages.size(), 2u);
}

TEST(GridPager, LinksTurnPagesAndGreyOnesDoNothing) {
  GridWindow w;
  w.grid->SetRows(Rows(41));
  w.Render();
  const QRect prev = w.grid->m_rcPrev;
  const QRect next = w.grid->m_rcNext;
  ASSERT_FALSE(prev.isEmpty());
  EXPECT_EQ(w.grid->m_rcPager, QRect(696 - 101, 537 - 1 - 32, 100, 33));

  QSet<QRgb> c = ColoursIn(w.Render(), prev);
  EXPECT_TRUE(c.contains(0xC0C0C0));
  EXPECT_TRUE(c.contains(0xB4B4B4));
  c = ColoursIn(w.Render(), next);
  EXPECT_TRUE(c.contains(0x626262));
  EXPECT_TRUE(c.contains(0x0A0A0A));

  QTest::mouseClick(w.grid, Qt::LeftButton, {}, prev.center());
  EXPECT_EQ(w.grid->m_nPage, 0);
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, next.center());
  EXPECT_EQ(w.grid->m_nPage, 1);
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, next.center());
  EXPECT_EQ(w.grid->m_nPage, 2);
  c = ColoursIn(w.Render(), next);
  EXPECT_TRUE(c.contains(0xC0C0C0));
  EXPECT_FALSE(c.contains(0x626262));
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, next.center());
  EXPECT_EQ(w.grid->m_nPage, 2);
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, prev.center());
  EXPECT_EQ(w.grid->m_nPage, 1);
  w.Flush();
  EXPECT_TRUE(w.owner.messages.empty());
}

TEST(GridPager, ActionLinkPostsTheSelection) {
  GridWindow w;
  w.grid->SetRows(Rows(30));
  w.grid->SetActionText(QStringLiteral("本页已知"), true);
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.RowPoint(4));
  w.Render();
  ASSERT_FALSE(w.grid->m_rcAction.isEmpty());
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, w.grid->m_rcAction.center());
  w.Flush();
  ASSERT_EQ(w.owner.messages.size(), 2u);
  EXPECT_EQ(std::get<0>(w.owner.messages[1]), 3026);
  EXPECT_EQ(std::get<1>(w.owner.messages[1]), 4);

  w.grid->SetActionText(QStringLiteral("本页已知"), false);
  w.Render();
  QTest::mouseClick(w.grid, Qt::LeftButton, {}, QPoint(20, 520));
  w.Flush();
  EXPECT_EQ(w.owner.messages.size(), 2u);
}

TEST(GridSelection, MoveSelectionWrapsAndTurnsThePage) {
  GridWindow w;
  const QStringList rows = Rows(41);
  w.grid->SetRows(rows);
  w.grid->MoveSelection(false);
  EXPECT_EQ(w.grid->m_nSelectedId, 41);
  EXPECT_EQ(w.grid->m_nPage, 2);
  w.grid->MoveSelection(true);
  EXPECT_EQ(w.grid->m_nSelectedId, 1);
  EXPECT_EQ(w.grid->m_nPage, 0);
  EXPECT_EQ(w.grid->RowById(41)->state, 0);
  EXPECT_EQ(w.grid->RowById(1)->state, 2);
  for (int i = 0; i < 20; ++i) w.grid->MoveSelection(true);
  EXPECT_EQ(w.grid->m_nSelectedId, 21);
  EXPECT_EQ(w.grid->m_nPage, 1);
  EXPECT_EQ(w.grid->m_strSelected, rows[20]);
  w.grid->MoveSelection(false);
  EXPECT_EQ(w.grid->m_nPage, 0);
  w.Flush();
  EXPECT_TRUE(w.owner.messages.empty());
}

TEST(GridSelection, SetRowTextChecksTheId) {
  GridWindow w;
  w.grid->SetRows(Rows(2));
  w.grid->SetRowText(0, QStringLiteral("x"));
  w.grid->SetRowText(3, QStringLiteral("x"));
  EXPECT_EQ(w.grid->RowById(1)->text, Rows(2)[0]);
  w.grid->MoveSelection(true);
  w.grid->SetRowText(1, QStringLiteral("a~b"));
  EXPECT_EQ(w.grid->RowById(1)->text, QStringLiteral("a~b"));
  EXPECT_EQ(w.grid->m_strSelected, QStringLiteral("a~b"));
}
