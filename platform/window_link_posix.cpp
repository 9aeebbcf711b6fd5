#include "platform/window_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "platform/copydata_frame.h"
#include "platform/run_dir.h"

namespace rovik::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLockPrefix = ".lock.";
// How long a receiver waits for the whole request once a peer has connected.
constexpr std::chrono::milliseconds kRequestTimeout{10000};
// Connections served at the same time by one window.
constexpr std::size_t kMaxConnections = 32;

// ---------------------------------------------------------------------------------------
// Small descriptor helpers

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

void signalEventFd(int fd) {
  uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

void clearEventFd(int fd) {
  uint64_t value;
  (void)!::read(fd, &value, sizeof value);
}

int remainingMs(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

// A socket address for RUN/windows/<title>. sun_path holds 108 bytes; a longer path is
// reached through the folder's descriptor under /proc/self/fd.
struct WindowAddress {
  sockaddr_un addr{};
  socklen_t len = 0;
  std::string socketPath;  // the real path, for unlink
  std::string lockPath;
  Fd dirFd;  // kept open while `addr` may refer to it
};

bool makeAddress(const std::string& title, WindowAddress& out, std::string* error) {
  if (!IsValidObjectName(title) || title.rfind(kLockPrefix, 0) == 0) {
    if (error) *error = "bad window title";
    return false;
  }
  auto dir = RunSubdir("windows", error);
  if (!dir) return false;
  out.socketPath = *dir + "/" + title;
  out.lockPath = *dir + "/" + kLockPrefix + title;
  std::string target = out.socketPath;
  if (target.size() >= sizeof(out.addr.sun_path)) {
    out.dirFd = Fd(::open(dir->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!out.dirFd) {
      if (error) *error = *dir + ": " + std::strerror(errno);
      return false;
    }
    target = "/proc/self/fd/" + std::to_string(out.dirFd.get()) + "/" + title;
    if (target.size() >= sizeof(out.addr.sun_path)) {
      if (error) *error = "window title too long";
      return false;
    }
  }
  out.addr.sun_family = AF_UNIX;
  std::memcpy(out.addr.sun_path, target.c_str(), target.size() + 1);
  out.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + target.size() + 1);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The owner thread's inbox of requests waiting to be handled

namespace {

struct Job;

struct ThreadInbox {
  ThreadInbox() : wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~ThreadInbox() {
    if (wakeFd >= 0) ::close(wakeFd);
  }
  void push(std::shared_ptr<Job> job) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      jobs.push_back(std::move(job));
    }
    signalEventFd(wakeFd);
  }
  int serve();

  int wakeFd;        // readable while jobs may be waiting
  std::mutex mutex;  // guards jobs
  std::deque<std::shared_ptr<Job>> jobs;
};

thread_local std::shared_ptr<ThreadInbox> t_inbox;

std::shared_ptr<ThreadInbox> inboxOfThisThread() {
  if (!t_inbox) t_inbox = std::make_shared<ThreadInbox>();
  return t_inbox;
}

}  // namespace

struct WindowLink::State : std::enable_shared_from_this<WindowLink::State> {
  CopyDataHandler handler;
  Dispatcher dispatcher;
  std::shared_ptr<ThreadInbox> ownerInbox;  // set when a dispatcher is used
  std::atomic<bool> closing{false};
  Fd listenFd;
  Fd lockFd;
  Fd stopFd;  // eventfd: wakes the listener to end
  std::string socketPath;
  std::thread listener;

  // One thread per connection in progress, so that a request waiting for the owner thread
  // does not hold up the next one (a handler may send to a window that sends back here).
  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };
  std::mutex connectionsMutex;  // guards connections
  std::list<Connection> connections;
  void reapConnections(bool all);

  void listen();
  void serveConnection(int client);
  int64_t handleOnOwner(CopyDataMessage message, int client);
};

namespace {

enum JobState : int { kPending = 0, kRunning = 1, kDone = 2, kCancelled = 3 };

struct Job {
  Job() : doneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Job() {
    if (doneFd >= 0) ::close(doneFd);
  }
  // Runs the handler unless the job was cancelled or already taken.
  void run() {
    int expected = kPending;
    if (!state.compare_exchange_strong(expected, kRunning)) return;
    int64_t value = 0;
    if (!link->closing.load()) {
      try {
        value = link->handler(message);
      } catch (...) {
        value = 0;  // a throwing handler answers 0, as a window that failed would
      }
    }
    result.store(value);
    state.store(kDone);
    signalEventFd(doneFd);
  }

  std::atomic<int> state{kPending};
  std::atomic<int64_t> result{0};
  CopyDataMessage message;
  std::shared_ptr<WindowLink::State> link;
  int doneFd;
};

int ThreadInbox::serve() {
  clearEventFd(wakeFd);
  int ran = 0;
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (jobs.empty()) break;
      job = std::move(jobs.front());
      jobs.pop_front();
    }
    if (job->state.load() == kPending) {
      job->run();
      ++ran;
    }
  }
  return ran;
}

// Reads exactly `size` bytes from a connected socket before `deadline`, giving up when
// `stopFd` (if any) is signalled.
bool readExact(int fd, uint8_t* buf, std::size_t size, Clock::time_point deadline, int stopFd) {
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = ::recv(fd, buf + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int timeout = remainingMs(deadline);
    if (timeout == 0) return false;
    int r = ::poll(p, stopFd >= 0 ? 2 : 1, timeout);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return false;
  }
  return true;
}

bool peerIsThisUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  return cred.uid == ::geteuid();
}

}  // namespace

void WindowLink::State::listen() {
  for (;;) {
    pollfd p[2] = {{listenFd.get(), POLLIN, 0}, {stopFd.get(), POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents & POLLIN) return;
    if (!(p[0].revents & POLLIN)) continue;
    int client = ::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    reapConnections(false);
    std::lock_guard<std::mutex> lock(connectionsMutex);
    if (connections.size() >= kMaxConnections) {
      ::close(client);  // too many at once: this sender gets no answer
      continue;
    }
    Connection& c = connections.emplace_back();
    try {
      c.thread = std::thread([this, client, &c] {
        serveConnection(client);
        ::close(client);
        c.finished.store(true);
      });
    } catch (...) {
      ::close(client);
      connections.pop_back();
    }
  }
}

void WindowLink::State::reapConnections(bool all) {
  std::list<Connection> done;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (all || it->finished.load()) done.splice(done.end(), connections, it);
      it = next;
    }
  }
  for (Connection& c : done) {
    if (c.thread.joinable()) c.thread.join();
  }
}

void WindowLink::State::serveConnection(int client) {
  if (!peerIsThisUser(client)) return;  // another user's process: closed without answer
  auto deadline = Clock::now() + kRequestTimeout;
  uint8_t head[kCopyDataHeaderSize];
  if (!readExact(client, head, sizeof head, deadline, stopFd.get())) return;
  CopyDataHeader header;
  if (!ParseCopyDataHeader(head, sizeof head, &header)) return;
  CopyDataMessage message;
  message.wParam = header.wParam;
  message.dwData = header.dwData;
  message.data.resize(header.cbData);
  if (header.cbData > 0 &&
      !readExact(client, message.data.data(), header.cbData, deadline, stopFd.get())) {
    return;
  }
  int64_t result = 0;
  if (!dispatcher) {
    try {
      result = handler(message);
    } catch (...) {
      result = 0;
    }
  } else {
    result = handleOnOwner(std::move(message), client);
  }
  uint8_t reply[kCopyDataReplySize];
  EncodeCopyDataReply(result, reply);
  (void)!::send(client, reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Hands the request to the owner thread and waits for its answer, the peer's hang-up, or
// the link's end, whichever comes first.
int64_t WindowLink::State::handleOnOwner(CopyDataMessage message, int client) {
  auto job = std::make_shared<Job>();
  if (job->doneFd < 0) return 0;
  job->message = std::move(message);
  job->link = shared_from_this();  // jobs hold the state; the state never holds jobs
  ownerInbox->push(job);
  std::weak_ptr<ThreadInbox> inbox = ownerInbox;
  try {
    dispatcher([inbox] {
      if (auto box = inbox.lock()) box->serve();
    });
  } catch (...) {
    // A dispatcher that cannot queue leaves the job to a send that serves the inbox.
  }
  for (;;) {
    pollfd p[3] = {{job->doneFd, POLLIN, 0}, {client, POLLRDHUP, 0}, {stopFd.get(), POLLIN, 0}};
    int r = ::poll(p, 3, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && (p[0].revents & POLLIN)) break;
    bool gone =
        r < 0 || (p[1].revents & (POLLRDHUP | POLLHUP | POLLERR)) || (p[2].revents & POLLIN);
    if (gone) {
      int expected = kPending;
      if (job->state.compare_exchange_strong(expected, kCancelled)) return 0;
      // Already running on the owner thread: its answer is on the way.
      pollfd done = {job->doneFd, POLLIN, 0};
      while (::poll(&done, 1, -1) < 0 && errno == EINTR) {
      }
      break;
    }
  }
  return job->result.load();
}

// ---------------------------------------------------------------------------------------
// WindowLink

WindowLink::WindowLink() = default;

WindowLink::~WindowLink() { Close(); }

bool WindowLink::Listen(const std::string& title, CopyDataHandler handler, Dispatcher dispatcher,
                        std::string* error) {
  Close();
  if (!handler) {
    if (error) *error = "no handler";
    return false;
  }
  WindowAddress address;
  if (!makeAddress(title, address, error)) return false;
  auto state = std::make_shared<State>();
  state->handler = std::move(handler);
  state->dispatcher = std::move(dispatcher);
  if (state->dispatcher) state->ownerInbox = inboxOfThisThread();

  // The lock file tells a live owner from a socket left behind by a dead one.
  state->lockFd =
      Fd(::open(address.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!state->lockFd) {
    if (error) *error = address.lockPath + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(state->lockFd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (error) *error = "a window titled " + title + " exists already";
    return false;
  }
  ::unlink(address.socketPath.c_str());  // stale socket of a dead owner, if any
  state->listenFd = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!state->listenFd ||
      ::bind(state->listenFd.get(), reinterpret_cast<const sockaddr*>(&address.addr),
             address.len) != 0 ||
      ::listen(state->listenFd.get(), 64) != 0) {
    if (error) *error = address.socketPath + ": " + std::strerror(errno);
    ::unlink(address.socketPath.c_str());
    return false;
  }
  state->stopFd = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!state->stopFd) {
    if (error) *error = std::strerror(errno);
    ::unlink(address.socketPath.c_str());
    return false;
  }
  state->socketPath = address.socketPath;
  try {
    state->listener = std::thread([raw = state.get()] { raw->listen(); });
  } catch (...) {
    if (error) *error = "cannot start the listener thread";
    ::unlink(address.socketPath.c_str());
    return false;
  }
  title_ = title;
  state_ = std::move(state);
  return true;
}

void WindowLink::Close() {
  if (!state_) return;
  std::shared_ptr<State> state = std::move(state_);
  state->closing.store(true);
  // Unlink first: from now on the title is not found, while the lock still keeps a new
  // owner from binding a socket that this one would remove.
  ::unlink(state->socketPath.c_str());
  signalEventFd(state->stopFd.get());
  if (state->listener.joinable()) state->listener.join();
  state->reapConnections(true);
  state->listenFd.reset();
  state->lockFd.reset();
  title_.clear();
}

bool WindowLink::IsListening() const { return state_ != nullptr; }

// ---------------------------------------------------------------------------------------
// Senders

namespace {

// Connects to the window `title`; an invalid descriptor when there is none.
Fd connectWindow(const std::string& title, Clock::time_point deadline) {
  WindowAddress address;
  if (!makeAddress(title, address, nullptr)) return Fd();
  for (;;) {
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return Fd();
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.addr), address.len) == 0) {
      return fd;
    }
    // A full backlog: the receiver is busy; try again until the deadline.
    if (errno != EAGAIN || remainingMs(deadline) == 0) return Fd();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Waits until `fd` is ready for `events`, serving this thread's inbox meanwhile so that a
// window owned by this thread keeps answering. False at the deadline or on error.
bool waitServing(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    int timeout = remainingMs(deadline);
    if (timeout == 0) return false;
    pollfd p[2] = {{fd, events, 0}, {t_inbox ? t_inbox->wakeFd : -1, POLLIN, 0}};
    int r = ::poll(p, t_inbox ? 2 : 1, timeout);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (t_inbox && (p[1].revents & POLLIN)) t_inbox->serve();
    if (p[0].revents & (events | POLLHUP | POLLERR)) return true;
  }
}

}  // namespace

bool FindWindowByTitle(const std::string& title) {
  return static_cast<bool>(connectWindow(title, Clock::now() + std::chrono::milliseconds(1000)));
}

SendOutcome SendCopyDataOutcome(const std::string& title, uint64_t wParam, uint64_t dwData,
                                const void* data, std::size_t size, int64_t* result,
                                std::chrono::milliseconds timeout) {
  if (result) *result = 0;
  auto deadline = Clock::now() + timeout;
  Fd fd = connectWindow(title, deadline);
  if (!fd) return SendOutcome::NoWindow;
  // The receiver would refuse more than 4 MiB; do not even send it.
  if (size > kMaxCopyData || (size > 0 && data == nullptr)) return SendOutcome::NoAnswer;
  std::vector<uint8_t> frame = EncodeCopyDataRequest(wParam, dwData, data, size);
  std::size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n =
        ::send(fd.get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitServing(fd.get(), POLLOUT, deadline)) return SendOutcome::NoAnswer;
      continue;
    }
    return SendOutcome::NoAnswer;  // peer gone
  }
  uint8_t reply[kCopyDataReplySize];
  std::size_t got = 0;
  while (got < sizeof reply) {
    ssize_t n = ::recv(fd.get(), reply + got, sizeof reply - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return SendOutcome::NoAnswer;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SendOutcome::NoAnswer;
    if (!waitServing(fd.get(), POLLIN, deadline)) return SendOutcome::NoAnswer;
  }
  if (result) *result = DecodeCopyDataReply(reply);
  return SendOutcome::Answered;
}

bool SendCopyDataEx(const std::string& title, uint64_t wParam, uint64_t dwData, const void* data,
                    std::size_t size, int64_t* result, std::chrono::milliseconds timeout) {
  return SendCopyDataOutcome(title, wParam, dwData, data, size, result, timeout) !=
         SendOutcome::NoWindow;
}

int64_t SendCopyData(const std::string& title, uint64_t wParam, uint64_t dwData, const void* data,
                     std::size_t size, std::chrono::milliseconds timeout) {
  int64_t result = 0;
  SendCopyDataEx(title, wParam, dwData, data, size, &result, timeout);
  return result;
}

int ServeThreadInbox() { return t_inbox ? t_inbox->serve() : 0; }

int WaitThreadInbox(std::chrono::milliseconds timeout) {
  auto inbox = inboxOfThisThread();
  pollfd p = {inbox->wakeFd, POLLIN, 0};
  int r = ::poll(&p, 1, static_cast<int>(timeout.count() < 0 ? -1 : timeout.count()));
  if (r <= 0) return 0;
  return inbox->serve();
}

}  // namespace rovik::platform
