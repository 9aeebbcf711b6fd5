// The alarm popup's look and behaviour, hosted by the popup window (CDlgOperator), which keeps the
// alarm list and the message endpoint. The view fills its host: it places the host in the
// bottom-right corner of the work area (or at its hidden place), shows one alarm at a time under
// the caption "Rovik警报(n/N)", pages with "<" and ">" (sliding the page in on timer 257, marking
// the alarm paged to read), opens the history browser and the video client, and hides with "X".
#pragma once

#include "alarm/record/alarm_record.h"
#include "uikit/png_image.h"
#include "uikit/rw_button.h"

#include <QBasicTimer>
#include <QFont>
#include <QPen>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <string>

namespace rovik::alarm {

class CDlgHistory;
class MdSQLite;

class CDlgOperatorView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kSlideTimerId = 257;
  static constexpr int kSlideIntervalMs = 110;
  enum Direction { kUp = 1, kDown = 2, kLeft = 3, kRight = 4 };

  // `host` is the popup window; `alarms` its list of unread alarms (newest first, new arrivals
  // appended). `store` null: the process's store.
  CDlgOperatorView(QWidget* host, AlarmList& alarms, MdSQLite* store = nullptr);
  ~CDlgOperatorView() override;

  // The application's fonts (the defaults are the same faces and sizes).
  void SetFonts(const QFont& bold12, const QFont& large36, const QFont& normal12,
                const QFont& link12);
  // The history browser opened by "查看报警记录" (a child of the host).
  void SetHistory(CDlgHistory* history) { m_history = history; }
  // The video client started by "打开监控视频"; default: RovikClient in the program folder.
  void SetClientPath(std::string path) { m_clientPath = std::move(path); }
  const std::string& ClientPath() const { return m_clientPath; }

  // Takes the work area, moves the host to its hidden place and hides it.
  void PlaceHidden();
  // After the host refilled the list from the store: show the oldest as 1/N, or hide.
  void ShowAlarms();
  void HideAlarms();
  // After the host appended one record while shown: it slides up into view as 1/N.
  void AlarmAdded();
  bool IsShown() const { return m_shown; }

  // State the windows and tests read.
  int AlarmIndex() const { return m_alarmIndex; }
  int AlarmCount() const { return m_alarmCount; }
  bool IsSliding() const { return m_sliding; }
  int SlideDirection() const { return m_slideDirection; }
  QString Caption() const;
  QString TypeText() const { return m_cur.type; }
  QRect HomeRect() const { return m_homeRect; }
  QRect ContentRect() const { return m_contentRect; }
  QRect IncomingRect() const { return m_incomingRect; }
  uikit::CRWButton& Button(int id);

  // Ends a running slide at once (as the fourth tick would).
  void FinishSlide();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Texts {
    QString device;
    QString user;
    QString time;
    QString type;
  };

  void Layout();
  void ShowPage(bool animate);
  void StartSlide();
  void SlideStep();
  void MarkShownAlarmRead();
  void MoveHostHidden();
  void OnClose();
  void OnOpenVideo();
  void OnViewRecords();
  void OnNext();
  void OnPrevious();
  void PaintContent(QPainter& dc, const QRect& r, const Texts& texts);
  MdSQLite* Store() const;

  QWidget* m_host;
  AlarmList& m_alarms;
  MdSQLite* m_store;
  QPointer<CDlgHistory> m_history;
  std::string m_clientPath;

  uikit::CRWButton* m_btnClose;     // 1001 "X"
  uikit::CRWButton* m_btnVideo;     // 1004 "打开监控视频"
  uikit::CRWButton* m_btnRecords;   // 1005 "查看报警记录"
  uikit::CRWButton* m_btnNext;      // 1008 ">"
  uikit::CRWButton* m_btnPrevious;  // 1009 "<"
  QPen m_separatorPen{QColor(215, 215, 215), 1};
  uikit::CImage m_captionImage;
  QFont m_fontBold12;
  QFont m_fontLarge36;
  QFont m_fontNormal12;
  QFont m_fontLink12;

  Texts m_cur;   // the alarm on show
  Texts m_next;  // the alarm sliding in
  QRect m_contentRect;
  QRect m_incomingRect;
  QRect m_homeContentRect;
  std::array<int, 4> m_slideSteps{5, 2, 2, 1};
  int m_slideStep = 0;
  bool m_sliding = false;
  int m_slideDirection = kLeft;
  QBasicTimer m_slideTimer;

  QRect m_homeRect;
  bool m_shown = false;
  int m_alarmCount = 0;
  int m_alarmIndex = 0;
};

}  // namespace rovik::alarm
