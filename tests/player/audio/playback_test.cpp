// Playback: the output device's 16 buffers, dropping when they are all queued, the feeder, and
// closing against devices that keep buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "player/audio/audio.h"
#include "tests/player/audio/audio_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The null device, watched: how many buffers it holds now and at most.
struct Watch {
  static inline std::atomic<int> queued{0};
  static inline std::atomic<int> maxQueued{0};
  static inline std::atomic<int> completed{0};
  static inline std::atomic<int> queuedAtReset{-1};  // buffers still held when it was reset
  static inline AudioOutputDone done = nullptr;
  static inline void* context = nullptr;

  static void Reset() {
    queued = 0;
    maxQueued = 0;
    completed = 0;
    queuedAtReset = -1;
  }
  static void OnDone(void*, AudioBuffer* b) {
    --queued;
    ++completed;
    done(context, b);
  }
  static int Open(const AudioFormat& f, AudioOutputDone d, void* c, AudioOutput** out) {
    done = d;
    context = c;
    return NullAudioBackend().outputOpen(f, &Watch::OnDone, nullptr, out);
  }
  static int Write(AudioOutput* dev, AudioBuffer* b) {
    int now = ++queued;
    int seen = maxQueued.load();
    while (now > seen && !maxQueued.compare_exchange_weak(seen, now)) {
    }
    int r = NullAudioBackend().outputWrite(dev, b);
    if (r != kAudioOk) --queued;
    return r;
  }
  static int ResetDevice(AudioOutput* dev) {
    queuedAtReset = queued.load();
    return NullAudioBackend().outputReset(dev);
  }
  static AudioBackend Table() {
    AudioBackend t = NullAudioBackend();
    t.name = "watched-null";
    t.outputOpen = &Watch::Open;
    t.outputWrite = &Watch::Write;
    t.outputReset = &Watch::ResetDevice;
    return t;
  }
};

// A device that takes buffers and never gives them back until it is reset.
struct Hoarder {
  static inline std::mutex lock;  // guards held, done, context, resets, closes
  static inline std::vector<AudioBuffer*> held;
  static inline AudioOutputDone done = nullptr;
  static inline void* context = nullptr;
  static inline int resets = 0;
  static inline int closes = 0;

  static int Open(const AudioFormat&, AudioOutputDone d, void* c, AudioOutput** out) {
    std::lock_guard<std::mutex> hold(lock);
    done = d;
    context = c;
    held.clear();
    resets = closes = 0;
    static int token;
    *out = reinterpret_cast<AudioOutput*>(&token);
    return kAudioOk;
  }
  static int Write(AudioOutput*, AudioBuffer* b) {
    std::lock_guard<std::mutex> hold(lock);
    b->flags |= kAudioBufferQueued;
    held.push_back(b);
    return kAudioOk;
  }
  static int Reset(AudioOutput*) {
    std::vector<AudioBuffer*> back;
    {
      std::lock_guard<std::mutex> hold(lock);
      back.swap(held);
      ++resets;
    }
    for (AudioBuffer* b : back) {
      b->flags &= ~kAudioBufferQueued;
      done(context, b);
    }
    return kAudioOk;
  }
  static int Close(AudioOutput*) {
    std::lock_guard<std::mutex> hold(lock);
    ++closes;
    return held.empty() ? kAudioOk : kAudioStillPlaying;
  }
  static AudioBackend Table() {
    AudioBackend t = NullAudioBackend();
    t.name = "hoarder";
    t.outputOpen = &Hoarder::Open;
    t.outputWrite = &Hoarder::Write;
    t.outputReset = &Hoarder::Reset;
    t.outputClose = &Hoarder::Close;
    return t;
  }
};

int FailOpen(const AudioFormat&, AudioOutputDone, void*, AudioOutput**) { return kAudioBadDevice; }

std::vector<uint8_t> Tone(int bytes) {
  std::vector<uint8_t> v(static_cast<size_t>(bytes));
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 13);
  return v;
}

TEST(AudioPlayer, PlaysOnlyWholeChunks) {
  AudioPlayer player(NullAudioBackend());
  ASSERT_EQ(player.Start(), 1);
  auto pcm = Tone(kPcmChunkBytes);
  EXPECT_EQ(player.Append(pcm.data(), 639), 639);
  std::this_thread::sleep_for(300ms);  // three feeder rounds
  EXPECT_EQ(player.output().writtenChunks(), 0);
  EXPECT_EQ(player.Append(pcm.data() + 639, 1), 1);
  EXPECT_TRUE(WaitUntil([&] { return player.output().writtenChunks() == 1; }, 1000ms));
  EXPECT_EQ(player.ring().fill(), 0);
}

TEST(AudioPlayer, BurstKeepsAtMostSixteenChunksQueued) {
  const AudioBackend table = Watch::Table();
  Watch::Reset();
  AudioPlayer player(table);
  ASSERT_EQ(player.Start(), 1);
  auto pcm = Tone(2 * kPcmBytesPerSecond);  // 2 s = 50 chunks, appended at once
  ASSERT_EQ(player.Append(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
  ASSERT_TRUE(WaitUntil([&] { return player.ring().fill() == 0; }, 2000ms));
  const int64_t written = player.output().writtenChunks();
  const int64_t dropped = player.output().droppedChunks();
  EXPECT_EQ(written + dropped, 50);
  EXPECT_GE(written, CWavOut::kBufferCount);
  EXPECT_GE(dropped, 50 - CWavOut::kBufferCount - 5) << "the rest is dropped chunk by chunk";
  // The queued chunks play out at real-time pace and come back.
  EXPECT_TRUE(
      WaitUntil([&] { return player.output().freeCount() == CWavOut::kBufferCount; }, 2000ms));
  EXPECT_LE(Watch::maxQueued.load(), CWavOut::kBufferCount);
  EXPECT_EQ(Watch::completed.load(), written);
}

TEST(AudioPlayer, SteadyStreamPlaysEveryChunk) {
  AudioPlayer player(NullAudioBackend());
  ASSERT_EQ(player.Start(), 1);
  auto pcm = Tone(kPcmChunkBytes);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(player.Append(pcm.data(), kPcmChunkBytes), kPcmChunkBytes);
    std::this_thread::sleep_for(40ms);
  }
  EXPECT_TRUE(WaitUntil([&] { return player.output().writtenChunks() == 10; }, 1500ms));
  EXPECT_EQ(player.output().droppedChunks(), 0);
}

TEST(AudioPlayer, WithoutADeviceTheRingStillDrains) {
  AudioBackend table = NullAudioBackend();
  table.outputOpen = &FailOpen;
  AudioPlayer player(table);
  EXPECT_EQ(player.Start(), 0);
  EXPECT_FALSE(player.output().isOpen());
  auto pcm = Tone(5 * kPcmChunkBytes);
  EXPECT_EQ(player.Append(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
  EXPECT_TRUE(WaitUntil([&] { return player.output().droppedChunks() == 5; }, 1500ms));
  EXPECT_EQ(player.output().writtenChunks(), 0);
}

TEST(AudioPlayer, StartEmptiesTheRingAndDestructionJoinsTheFeeder) {
  const int before = ThreadBaseline();
  {
    AudioPlayer player(NullAudioBackend());
    ASSERT_EQ(player.Start(), 1);
    auto pcm = Tone(1000);  // one chunk and 360 bytes
    player.Append(pcm.data(), 1000);
    player.Start();                  // a second start empties the ring and keeps the one feeder
    player.Append(pcm.data(), 280);  // would complete a chunk with the 360 left before
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(player.ring().fill(), 280);
    EXPECT_EQ(ThreadCount(), before + 2) << "one feeder and the null device's thread";
  }
  const auto t0 = Clock::now();
  {
    AudioPlayer idle(NullAudioBackend());
    idle.Start();
  }
  EXPECT_LT(Clock::now() - t0, 5000ms) << "the stop of an idle feeder does not hang";
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before; }, 1000ms));
}

TEST(CWavOut, CloseWaitsForQueuedChunks) {
  const AudioBackend table = Watch::Table();
  Watch::Reset();
  CWavOut out(table);
  ASSERT_EQ(out.Open(), 1);
  EXPECT_EQ(out.Open(), 1) << "open twice is open";
  auto pcm = Tone(kPcmChunkBytes);
  for (int i = 0; i < 5; ++i) out.Write(pcm.data());
  EXPECT_EQ(out.freeCount(), CWavOut::kBufferCount - 5);
  out.Close();
  // The five chunks (200 ms of sound) were played out before the device was reset.
  EXPECT_EQ(Watch::queuedAtReset.load(), 0) << "the close reset a device still playing";
  EXPECT_EQ(Watch::completed.load(), 5);
  EXPECT_FALSE(out.isOpen());
  out.Write(pcm.data());  // closed: dropped, nothing touched
  EXPECT_EQ(out.droppedChunks(), 1);
  ASSERT_EQ(out.Open(), 1) << "a closed device opens again";
  EXPECT_EQ(out.freeCount(), CWavOut::kBufferCount);
}

TEST(CWavOut, CloseGivesUpOnADeviceThatKeepsBuffers) {
  const AudioBackend table = Hoarder::Table();
  CWavOut out(table);
  ASSERT_EQ(out.Open(), 1);
  auto pcm = Tone(kPcmChunkBytes);
  for (int i = 0; i < 20; ++i) out.Write(pcm.data());
  EXPECT_EQ(out.writtenChunks(), CWavOut::kBufferCount);
  EXPECT_EQ(out.droppedChunks(), 4);
  EXPECT_EQ(out.freeCount(), 0);
  const auto t0 = Clock::now();
  out.Close();
  const auto took = Clock::now() - t0;
  // The close gives the device its whole wait before taking the buffers back (half of it is
  // checked, leaving room for the granularity of the clocks), and then does not hang.
  const auto wait = std::chrono::milliseconds(CWavOut::kCloseWaitMillis);
  EXPECT_GE(took, wait / 2);
  EXPECT_LT(took, 5 * wait);
  std::lock_guard<std::mutex> hold(Hoarder::lock);
  EXPECT_EQ(Hoarder::resets, 1);
  EXPECT_EQ(Hoarder::closes, 1);
  EXPECT_TRUE(Hoarder::held.empty());
  EXPECT_FALSE(out.isOpen());
}

}  // namespace
