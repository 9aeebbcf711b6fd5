// Capture on the null device: chunk size and pace, the receiver's context, the library chain,
// repeated start/stop, and a stop that does not wait forever for a busy receiver.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "player/audio/audio.h"
#include "tests/player/audio/audio_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Received {
  std::mutex lock;  // guards times, lengths, contexts
  std::vector<Clock::time_point> times;
  std::vector<int> lengths;
  std::vector<void*> contexts;

  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return times.size();
  }
};

Received* g_received = nullptr;

void Receive(const uint8_t* bytes, int length, void* context) {
  ASSERT_NE(bytes, nullptr);
  std::lock_guard<std::mutex> hold(g_received->lock);
  g_received->times.push_back(Clock::now());
  g_received->lengths.push_back(length);
  g_received->contexts.push_back(context);
}

TEST(CWaveIn, DeliversWholeChunksEvery40Ms) {
  Received got;
  g_received = &got;
  int marker = 0;
  CWaveIn in(NullAudioBackend());
  testing::internal::CaptureStderr();
  in.Start(&Receive, &marker);
  EXPECT_TRUE(in.threadStarted());
  EXPECT_TRUE(in.deviceOpen());
  EXPECT_TRUE(in.buffersPrepared());
  EXPECT_TRUE(in.capturing());
  ASSERT_TRUE(WaitUntil([&] { return got.count() >= 26; }, 3000ms));
  in.Stop();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(in.capturing());
  EXPECT_FALSE(in.deviceOpen());

  std::lock_guard<std::mutex> hold(got.lock);
  for (size_t i = 0; i < got.lengths.size(); ++i) {
    EXPECT_EQ(got.lengths[i], kPcmChunkBytes);
    EXPECT_EQ(got.contexts[i], &marker);
  }
  // Pace: the mean interval over 25 chunks is 40 ms within 10 ms.
  const auto span = got.times[25] - got.times[0];
  const double meanMs = std::chrono::duration<double, std::milli>(span).count() / 25.0;
  EXPECT_NEAR(meanMs, 40.0, 10.0);
  // The open notice reaches the message thread; the normal start ends with the ok line.
  EXPECT_NE(err.find("AudioInThreadProc MM_WIM_OPEN"), std::string::npos) << err;
  EXPECT_NE(err.find("wavin ok "), std::string::npos) << err;
  EXPECT_EQ(err.find("err"), std::string::npos) << err;
}

std::atomic<int> g_libraryCalls{0};
std::atomic<intptr_t> g_libraryUser{0};
std::atomic<int> g_libraryLength{0};

void LibraryReceiver(const uint8_t*, int length, intptr_t user) {
  g_libraryUser = user;
  g_libraryLength = length;
  ++g_libraryCalls;
}

TEST(CWaveIn, ChainsToTheLibraryReceiverWithItsUserValue) {
  g_libraryCalls = 0;
  CWaveIn in(NullAudioBackend());
  const intptr_t user = static_cast<intptr_t>(0x7fff12345678LL);
  in.SetLibraryReceiver(&LibraryReceiver, user);
  in.Start();
  ASSERT_TRUE(WaitUntil([] { return g_libraryCalls >= 3; }, 2000ms));
  in.Stop();
  EXPECT_EQ(g_libraryUser.load(), user);
  EXPECT_EQ(g_libraryLength.load(), kPcmChunkBytes);
  const int after = g_libraryCalls;
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(g_libraryCalls.load(), after) << "nothing is delivered after stop";
}

TEST(CWaveIn, HundredStartStopCyclesLeaveNothingBehind) {
  const int before = ThreadBaseline();
  Received got;
  g_received = &got;
  for (int i = 0; i < 100; ++i) {
    CWaveIn in(NullAudioBackend());
    in.Start(&Receive, nullptr);
    if (i % 10 == 0) std::this_thread::sleep_for(50ms);  // now and then let a chunk arrive
    in.Stop();
    ASSERT_FALSE(in.threadStarted());
    ASSERT_FALSE(in.deviceOpen());
  }
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before; }, 1000ms))
      << ThreadCount() << " threads, " << before << " before";
  EXPECT_EQ(CWaveIn::LingeringThreads(), 0);
  // The receiver's lock was never left held, and capture still works.
  {
    std::unique_lock<std::mutex> probe(got.lock, std::try_to_lock);
    EXPECT_TRUE(probe.owns_lock());
  }
  const size_t had = got.count();
  CWaveIn in(NullAudioBackend());
  in.Start(&Receive, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return got.count() >= had + 2; }, 1000ms));
}

TEST(CWaveIn, OneObjectStartsAgainAfterStop) {
  Received got;
  g_received = &got;
  CWaveIn in(NullAudioBackend());
  for (int round = 0; round < 3; ++round) {
    const size_t had = got.count();
    in.Start(&Receive, &got);
    ASSERT_TRUE(WaitUntil([&] { return got.count() >= had + 2; }, 1000ms)) << "round " << round;
    in.Stop();
    EXPECT_FALSE(in.deviceOpen());
  }
  std::lock_guard<std::mutex> hold(got.lock);
  for (void* c : got.contexts) EXPECT_EQ(c, &got);
}

std::mutex g_gate;  // held by the test to keep a receiver busy
std::atomic<int> g_busyCalls{0};

void BusyReceiver(const uint8_t*, int, void*) {
  ++g_busyCalls;
  std::lock_guard<std::mutex> wait(g_gate);
}

TEST(CWaveIn, StopDoesNotWaitForeverForABusyReceiver) {
  g_busyCalls = 0;
  const int before = ThreadBaseline();
  std::unique_lock<std::mutex> gate(g_gate);
  auto in = std::make_unique<CWaveIn>(NullAudioBackend());
  in->Start(&BusyReceiver, nullptr);
  ASSERT_TRUE(WaitUntil([] { return g_busyCalls >= 1; }, 1000ms));
  const auto t0 = Clock::now();
  in->Stop();
  const auto took = Clock::now() - t0;
  // The stop waits its whole limit for the receiver (half of it is checked, leaving room for
  // the granularity of the clocks), then leaves the thread to the reaper rather than hanging.
  const auto limit = std::chrono::milliseconds(CWaveIn::kStopChecks * CWaveIn::kStopCheckMillis);
  EXPECT_GE(took, limit / 2);
  EXPECT_LT(took, 10 * limit);
  EXPECT_FALSE(in->threadStarted());
  EXPECT_FALSE(in->deviceOpen());
  in.reset();  // the object goes while its old thread is still inside the receiver
  EXPECT_EQ(CWaveIn::LingeringThreads(), 1);
  gate.unlock();
  EXPECT_TRUE(WaitUntil([] { return CWaveIn::LingeringThreads() == 0; }, 1000ms));
  EXPECT_EQ(g_busyCalls.load(), 1) << "the late thread delivers nothing more";
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before; }, 1000ms));
}

TEST(CWaveIn, RestartsAfterAStopThatGaveUpWaiting) {
  g_busyCalls = 0;
  std::unique_lock<std::mutex> gate(g_gate);
  CWaveIn in(NullAudioBackend());
  in.Start(&BusyReceiver, nullptr);
  ASSERT_TRUE(WaitUntil([] { return g_busyCalls >= 1; }, 1000ms));
  in.Stop();
  gate.unlock();
  Received got;
  g_received = &got;
  in.Start(&Receive, &got);
  ASSERT_TRUE(WaitUntil([&] { return got.count() >= 2; }, 1000ms));
  in.Stop();
  EXPECT_TRUE(WaitUntil([] { return CWaveIn::LingeringThreads() == 0; }, 1000ms));
  std::lock_guard<std::mutex> hold(got.lock);
  EXPECT_EQ(got.contexts[0], &got);
}

// A scripted device: it keeps the buffers it is given, and the test decides how they come back.
struct Scripted {
  static inline std::mutex lock;  // guards added
  static inline std::vector<AudioBuffer*> added;
  static inline AudioInputNotify notify = nullptr;
  static inline void* context = nullptr;

  static int Open(unsigned, const AudioFormat&, AudioInputNotify n, void* c, AudioInput** out) {
    notify = n;
    context = c;
    static int token;
    *out = reinterpret_cast<AudioInput*>(&token);
    return kAudioOk;
  }
  static int Add(AudioInput*, AudioBuffer* b) {
    std::lock_guard<std::mutex> hold(lock);
    added.push_back(b);
    return kAudioOk;
  }
  static int Ok(AudioInput*) { return kAudioOk; }
  static size_t Adds() {
    std::lock_guard<std::mutex> hold(lock);
    return added.size();
  }
};

TEST(CWaveIn, OnlyFullBuffersAreDeliveredAndGivenBack) {
  AudioBackend table = NullAudioBackend();
  table.inputOpen = &Scripted::Open;
  table.inputAddBuffer = &Scripted::Add;
  table.inputStart = &Scripted::Ok;
  table.inputStop = &Scripted::Ok;
  table.inputReset = &Scripted::Ok;
  table.inputClose = &Scripted::Ok;
  Received got;
  g_received = &got;
  CWaveIn in(table);
  in.Start(&Receive, nullptr);
  ASSERT_EQ(Scripted::Adds(), static_cast<size_t>(CWaveIn::kBufferCount));
  std::vector<AudioBuffer*> buffers;
  {
    std::lock_guard<std::mutex> hold(Scripted::lock);
    buffers = Scripted::added;
  }
  buffers[0]->bytesRecorded = kPcmChunkBytes - 1;  // short, as after a stop: kept back
  Scripted::notify(Scripted::context, AudioInputEvent::kData, buffers[0]);
  buffers[1]->bytesRecorded = kPcmChunkBytes;
  Scripted::notify(Scripted::context, AudioInputEvent::kData, buffers[1]);
  ASSERT_TRUE(WaitUntil([&] { return got.count() == 1; }, 1000ms));
  ASSERT_TRUE(WaitUntil([] { return Scripted::Adds() == CWaveIn::kBufferCount + 1; }, 1000ms));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(got.count(), 1u);
  {
    std::lock_guard<std::mutex> hold(Scripted::lock);
    EXPECT_EQ(Scripted::added.size(), static_cast<size_t>(CWaveIn::kBufferCount + 1));
    EXPECT_EQ(Scripted::added.back(), buffers[1]);
  }
  in.Stop();
}

}  // namespace
