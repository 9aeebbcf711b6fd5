// The P2PAPI exports: a table of sessions by handle. Nothing throws out of here.
#include "p2p/p2p_api.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "p2p/p2p_session.h"
#include "p2p/protocol/p2p_wire.h"
#include "p2p/thread_reaper.h"

namespace rovik::p2p {
namespace {

class SessionTable {
 public:
  // The reaper is made first, so that it outlives this table at unload.
  SessionTable() { ThreadReaper::Get(); }
  ~SessionTable() { Clear(); }

  int32_t Create(int32_t* handle) {
    ThreadReaper::Get().JoinRetired();
    std::lock_guard<std::mutex> hold(lock_);
    if (sessions_.size() >= kMaxSessions) return P2PAPI_ERR_HANDLE;
    do {
      next_ = next_ >= kMaxHandle ? 1 : next_ + 1;
    } while (sessions_.count(next_) != 0);
    sessions_[next_] = std::make_shared<P2PSession>(next_);
    *handle = next_;
    return P2PAPI_OK;
  }

  std::shared_ptr<P2PSession> Find(int32_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second;
  }

  int32_t Destroy(int32_t handle) {
    std::shared_ptr<P2PSession> session;
    {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = sessions_.find(handle);
      if (it != sessions_.end()) {
        session = std::move(it->second);
        sessions_.erase(it);
      }
    }
    if (!session) {  // -1 and stale handles: nothing but the reaping
      ThreadReaper::Get().JoinRetired();
      return P2PAPI_ERR_HANDLE;
    }
    // Ends the connection outside the lock; its reader is joined here, or later when this runs
    // on a reader thread. A reader still running keeps the session alive until it ends.
    session->Destroy();
    session.reset();
    ThreadReaper::Get().JoinRetired();
    return P2PAPI_OK;
  }

  void Clear() {
    std::map<int32_t, std::shared_ptr<P2PSession>> all;
    {
      std::lock_guard<std::mutex> hold(lock_);
      all.swap(sessions_);
    }
    for (auto& entry : all) entry.second->Destroy();
    all.clear();
    ThreadReaper::Get().JoinRetired();
  }

 private:
  static constexpr size_t kMaxSessions = 1024;
  static constexpr int32_t kMaxHandle = 1 << 30;

  std::mutex lock_;  // guards sessions_, next_; nothing waits while it is held
  std::map<int32_t, std::shared_ptr<P2PSession>> sessions_;
  int32_t next_ = 0;
};

SessionTable& Table() {
  static SessionTable table;
  return table;
}

std::mutex g_serverLock;  // guards g_server
intptr_t g_server = 0;

std::string Text(intptr_t value) {
  const char* p = reinterpret_cast<const char*>(value);
  if (p == nullptr) return std::string();
  size_t n = 0;
  while (n < 1024 && p[n] != '\0') ++n;
  return std::string(p, n);
}

template <typename Fn>
int32_t WithSession(int32_t handle, Fn fn) {
  try {
    std::shared_ptr<P2PSession> session = Table().Find(handle);
    if (!session) return P2PAPI_ERR_HANDLE;
    return fn(*session);
  } catch (...) {
    return P2PAPI_ERR_HANDLE;
  }
}

}  // namespace
}  // namespace rovik::p2p

using namespace rovik::p2p;

extern "C" {

int32_t P2PAPI_InitialWithServer(intptr_t server) {
  std::lock_guard<std::mutex> hold(g_serverLock);
  g_server = server;
  return P2PAPI_OK;
}

int32_t P2PAPI_DeInitial(void) {
  try {
    Table().Clear();  // every connection ends with the library
  } catch (...) {
  }
  return P2PAPI_OK;
}

int32_t P2PAPI_CreateInstance(int32_t* handle) {
  if (handle == nullptr) return P2PAPI_ERR_HANDLE;
  try {
    return Table().Create(handle);
  } catch (...) {
    return P2PAPI_ERR_HANDLE;
  }
}

int32_t P2PAPI_DestroyInstance(int32_t handle) {
  if (handle < 0) return P2PAPI_ERR_HANDLE;
  try {
    return Table().Destroy(handle);
  } catch (...) {
    return P2PAPI_ERR_HANDLE;
  }
}

int32_t P2PAPI_SetMessageCallBack(int32_t handle, P2PAPI_MessageCallback callback, intptr_t user) {
  return WithSession(handle, [&](P2PSession& s) {
    s.SetMessageCallback(callback, user);
    return P2PAPI_OK;
  });
}

int32_t P2PAPI_SetAVDataCallBack(int32_t handle, P2PAPI_AVDataCallback callback, intptr_t user) {
  return WithSession(handle, [&](P2PSession& s) {
    s.SetAVCallback(callback, user);
    return P2PAPI_OK;
  });
}

int32_t P2PAPI_Connect(int32_t handle, intptr_t value1, intptr_t value2, intptr_t value3) {
  if (value1 == 0) return P2PAPI_ERR_HANDLE;
  const int32_t result = WithSession(
      handle, [&](P2PSession& s) { return s.Connect(Text(value1), Text(value2), Text(value3)); });
  ThreadReaper::Get().JoinRetired();  // an earlier connection's reader, if it ended in a callback
  return result;
}

int32_t P2PAPI_Close(int32_t handle) {
  const int32_t result = WithSession(handle, [](P2PSession& s) {
    s.Close();
    return P2PAPI_OK;
  });
  ThreadReaper::Get().JoinRetired();
  return result;
}

int32_t P2PAPI_StartVideo(int32_t handle, int32_t videoParameter) {
  return WithSession(handle, [&](P2PSession& s) {
    const std::vector<uint8_t> frame = EncodeInt32(kWireStartVideo, videoParameter);
    return s.Start(kWireStartVideo, frame.data() + kWireHeaderBytes, 4);
  });
}

int32_t P2PAPI_StopVideo(int32_t handle) {
  return WithSession(handle, [](P2PSession& s) { return s.Stop(kWireStopVideo); });
}

int32_t P2PAPI_StartAudio(int32_t handle) {
  return WithSession(handle, [](P2PSession& s) { return s.Start(kWireStartAudio, nullptr, 0); });
}

int32_t P2PAPI_StopAudio(int32_t handle) {
  return WithSession(handle, [](P2PSession& s) { return s.Stop(kWireStopAudio); });
}

int32_t P2PAPI_StartTalk(int32_t handle) {
  return WithSession(handle, [](P2PSession& s) { return s.Start(kWireStartTalk, nullptr, 0); });
}

int32_t P2PAPI_StopTalk(int32_t handle) {
  return WithSession(handle, [](P2PSession& s) { return s.Stop(kWireStopTalk); });
}

int32_t P2PAPI_TalkData(int32_t handle, const uint8_t* data, int32_t length) {
  if (data == nullptr || length <= 0 || static_cast<uint32_t>(length) > kWireMaxTalk) {
    return P2PAPI_ERR_HANDLE;
  }
  return WithSession(handle, [&](P2PSession& s) {
    // Talk-back never waits for a camera that is not keeping up: such audio is dropped.
    return s.SendDroppable(EncodeWireFrame(kWireTalkData, data, static_cast<size_t>(length)));
  });
}

int32_t P2PAPI_SendMessage(int32_t handle, intptr_t value1, intptr_t value2, intptr_t value3) {
  return WithSession(handle,
                     [&](P2PSession& s) { return s.Send(EncodeMessage(value1, value2, value3)); });
}

}  // extern "C"
