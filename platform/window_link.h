// Windows found by title, and WM_COPYDATA messages (a command and its bytes) sent to them from
// another process.
//
// A window titled T is a Unix stream socket RUN/windows/T; "found" means a connect succeeds.
// One message per connection, all little-endian:
//     request = u32 magic 0x44434D57 · u32 msg 0x004A · u64 wParam · u64 dwData · u32 cbData ·
//     cbData bytes reply   = i64 result
// The receiver refuses peers of another uid (SO_PEERCRED) and cbData above 4 MiB (the
// sender then gets 0). A sender that gets no reply (no window, refused, peer closed, 10 s
// without answer) takes the result as 0.
//
// Which thread runs the handler:
//   * Without a dispatcher, on the link's own listener thread.
//   * With a dispatcher, on the thread that called Listen() (the owner thread), as a sent
//     message runs on the window's user-interface thread. For each request the listener
//     puts a job into the owner thread's inbox and calls the dispatcher with a function
//     that serves that inbox; the dispatcher must arrange for the function to be called on
//     the owner thread (the dispatcher may be called from several listener threads at once).
//     A Qt program queues it to its GUI thread:
//
//         link.Listen("ROVIKALARM", handler,
//                     [obj](std::function<void()> serve) {
//                       QMetaObject::invokeMethod(obj, std::move(serve), Qt::QueuedConnection);
//                     });
//
//     A thread with a loop of its own may instead call ServeThreadInbox()/WaitThreadInbox().
//
// No deadlock when the owner thread is itself blocked in SendCopyData (it sends to a window
// whose handler sends back to it, or two programs send to each other at once): while it
// waits for its reply, SendCopyData keeps serving the calling thread's inbox, so that messages
// sent to a thread blocked in SendCopyData are still handled. Each job runs once, on whichever
// of the two paths reaches it first.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rovik::platform {

constexpr uint32_t kCopyDataMagic = 0x44434D57;
constexpr uint32_t kWmCopyData = 0x004A;
constexpr std::size_t kMaxCopyData = 4u * 1024 * 1024;
constexpr std::chrono::milliseconds kSendTimeout{10000};

// One received WM_COPYDATA; the bytes are the receiver's own copy.
struct CopyDataMessage {
  uint64_t wParam = 0;
  uint64_t dwData = 0;
  std::vector<uint8_t> data;  // cbData bytes
};

using CopyDataHandler = std::function<int64_t(const CopyDataMessage&)>;
using Dispatcher = std::function<void(std::function<void()> serve)>;

class WindowLink {
 public:
  WindowLink();
  ~WindowLink();  // Close()
  WindowLink(const WindowLink&) = delete;
  WindowLink& operator=(const WindowLink&) = delete;

  // Makes this object the window titled `title`. A socket left behind by a dead owner is
  // replaced; a title owned by a live window is refused. False with *error on failure.
  bool Listen(const std::string& title, CopyDataHandler handler, Dispatcher dispatcher = {},
              std::string* error = nullptr);

  // Stops listening, removes the socket and joins the listener thread. Requests not yet
  // handled are answered 0. Call it from the owner thread (or any thread when there is no
  // dispatcher); never from inside the handler.
  void Close();

  bool IsListening() const;
  const std::string& title() const { return title_; }

  struct State;  // shared with the listener thread and the queued jobs

 private:
  std::string title_;
  std::shared_ptr<State> state_;
};

// True when a window titled `title` answers a connect.
bool FindWindowByTitle(const std::string& title);

// Sends one WM_COPYDATA message and waits for it to be handled: the receiver's result, or 0 when
// there is no such window, it refuses, closes, or does not answer within `timeout`.
int64_t SendCopyData(const std::string& title, uint64_t wParam, uint64_t dwData, const void* data,
                     std::size_t size, std::chrono::milliseconds timeout = kSendTimeout);

// As SendCopyData, telling the cases apart: false when no window was found (connect
// failed); true when one was, with *result its answer (0 when it gave none).
bool SendCopyDataEx(const std::string& title, uint64_t wParam, uint64_t dwData, const void* data,
                    std::size_t size, int64_t* result,
                    std::chrono::milliseconds timeout = kSendTimeout);

enum class SendOutcome {
  NoWindow,  // nothing listens under that title
  NoAnswer,  // found, but refused, closed or timed out: the result counts as 0
  Answered,
};

// The full story of one send; *result is the answer (0 unless Answered).
SendOutcome SendCopyDataOutcome(const std::string& title, uint64_t wParam, uint64_t dwData,
                                const void* data, std::size_t size, int64_t* result,
                                std::chrono::milliseconds timeout = kSendTimeout);

// Runs every job waiting in the calling thread's inbox; returns how many ran.
int ServeThreadInbox();

// Waits up to `timeout` for a job in the calling thread's inbox and serves what is there.
int WaitThreadInbox(std::chrono::milliseconds timeout);

}  // namespace rovik::platform
