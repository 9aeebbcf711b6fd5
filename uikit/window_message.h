// Window messages between the suite's own windows, carried as Qt events. Message number N is the
// event type QEvent::User + N. Posted messages go through QCoreApplication::postEvent, sent ones
// through QCoreApplication::sendEvent, after which the receiver's answer is in result.
#pragma once

#include <QEvent>
#include <QString>

#include <cstdint>

namespace rovik::uikit {

// The numbers of the monitor's window messages (3025 and up).
enum WindowMessageId : int {
  kMsgAlarmArrived = 3025,    // push thread -> popup: a new alarm, video client not running
  kMsgGridAction = 3026,      // grid -> parent: the footer action link was clicked
  kMsgGridRowClicked = 3027,  // grid -> parent: a row other than the selected one was clicked
  kMsgHistoryClosed = 3028,   // history browser -> popup: the browser was closed
  kMsgMarkAlarmsRead = 3030,  // history browser -> popup (sent): mark the listed alarms read
};

class WindowMessageEvent : public QEvent {
 public:
  WindowMessageEvent(int message, std::intptr_t wParam = 0, QString text = {},
                     std::intptr_t lParam = 0)
      : QEvent(TypeOf(message)),
        m_message(message),
        m_wParam(wParam),
        m_lParam(lParam),
        m_text(std::move(text)) {}

  static QEvent::Type TypeOf(int message) {
    return static_cast<QEvent::Type>(QEvent::User + message);
  }
  // The message number of an event, or 0 when it is not a window message.
  static int MessageOf(const QEvent* event) {
    const auto* message = From(event);
    return message ? message->m_message : 0;
  }
  // The event as a window message, or null when it is none.
  static const WindowMessageEvent* From(const QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type <= QEvent::User || type > QEvent::MaxUser) return nullptr;
    return dynamic_cast<const WindowMessageEvent*>(event);
  }
  static WindowMessageEvent* From(QEvent* event) {
    return const_cast<WindowMessageEvent*>(From(static_cast<const QEvent*>(event)));
  }

  int message() const { return m_message; }
  std::intptr_t wParam() const { return m_wParam; }
  std::intptr_t lParam() const { return m_lParam; }
  // The text the message carries (a copy: the sender's buffer may change before it is read).
  const QString& text() const { return m_text; }

  // The answer of a sent message.
  std::intptr_t result = 0;

 private:
  int m_message;
  std::intptr_t m_wParam;
  std::intptr_t m_lParam;
  QString m_text;
};

}  // namespace rovik::uikit
