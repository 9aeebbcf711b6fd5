// Closing the output against a device that stalls with a chunk in its own thread's hands (a
// sound server that stopped reading): the close ends in bounded time, and when the device's
// thread takes up its chunk again later, everything it touches is still there (run under ASan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "player/audio/audio.h"
#include "tests/player/audio/audio_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A device whose thread takes the first queued chunk and then stalls until Release: only then
// does it read the chunk's bytes and complete it. Reset returns what is queued but not the chunk
// in its thread's hands, and close is refused while the thread holds one.
struct Staller {
  struct Device : AudioOutput {
    AudioOutputDone done = nullptr;
    void* context = nullptr;
    std::thread thread;  // joined by a close that is taken

    std::mutex lock;  // guards queue, current, quit
    std::condition_variable changed;
    std::deque<AudioBuffer*> queue;
    AudioBuffer* current = nullptr;
    bool quit = false;

    void Run() {
      std::unique_lock<std::mutex> hold(lock);
      for (;;) {
        changed.wait(hold, [this] { return quit || !queue.empty(); });
        if (quit) return;
        current = queue.front();
        queue.pop_front();
        hold.unlock();
        holding = true;
        {
          std::unique_lock<std::mutex> gate(gateLock);
          gateOpen.wait(gate, [] { return released; });
        }
        // The stalled write goes on: the chunk is read, then completed.
        unsigned sum = 0;
        for (uint32_t i = 0; i < current->length; ++i) sum += current->data[i];
        checksum = sum;
        bytesRead += current->length;
        hold.lock();
        AudioBuffer* b = current;
        current = nullptr;
        b->flags &= ~kAudioBufferQueued;
        hold.unlock();
        done(context, b);
        hold.lock();
      }
    }
  };

  static inline std::mutex gateLock;  // guards released
  static inline std::condition_variable gateOpen;
  static inline bool released = false;
  static inline std::atomic<bool> holding{false};
  static inline std::atomic<uint64_t> bytesRead{0};
  static inline std::atomic<unsigned> checksum{0};
  static inline std::atomic<int> refusedCloses{0};
  static inline std::atomic<int> closes{0};

  static void Reset() {
    released = false;
    holding = false;
    bytesRead = 0;
    refusedCloses = 0;
    closes = 0;
  }
  static void Release() {
    {
      std::lock_guard<std::mutex> hold(gateLock);
      released = true;
    }
    gateOpen.notify_all();
  }

  static int Open(const AudioFormat&, AudioOutputDone done, void* context, AudioOutput** out) {
    auto* device = new Device;
    device->done = done;
    device->context = context;
    device->thread = std::thread(&Device::Run, device);
    *out = device;
    return kAudioOk;
  }
  static int Write(AudioOutput* handle, AudioBuffer* b) {
    auto* device = static_cast<Device*>(handle);
    std::lock_guard<std::mutex> hold(device->lock);
    b->flags |= kAudioBufferQueued;
    device->queue.push_back(b);
    device->changed.notify_all();
    return kAudioOk;
  }
  static int ResetDevice(AudioOutput* handle) {
    auto* device = static_cast<Device*>(handle);
    std::deque<AudioBuffer*> back;
    {
      std::lock_guard<std::mutex> hold(device->lock);
      back.swap(device->queue);
    }
    for (AudioBuffer* b : back) {
      b->flags &= ~kAudioBufferQueued;
      device->done(device->context, b);
    }
    return kAudioOk;
  }
  static int Close(AudioOutput* handle) {
    auto* device = static_cast<Device*>(handle);
    {
      std::lock_guard<std::mutex> hold(device->lock);
      if (device->current != nullptr || !device->queue.empty()) {
        ++refusedCloses;
        return kAudioStillPlaying;
      }
      device->quit = true;
      device->changed.notify_all();
    }
    device->thread.join();
    delete device;
    ++closes;
    return kAudioOk;
  }
  static AudioBackend Table() {
    AudioBackend t = NullAudioBackend();
    t.name = "staller";
    t.outputOpen = &Staller::Open;
    t.outputWrite = &Staller::Write;
    t.outputReset = &Staller::ResetDevice;
    t.outputClose = &Staller::Close;
    return t;
  }
};

std::vector<uint8_t> Chunks(int count) {
  std::vector<uint8_t> pcm(static_cast<size_t>(count) * kPcmChunkBytes);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 7);
  return pcm;
}

TEST(StalledDevice, ClosingThePlayerFreesNothingTheDeviceThreadStillUses) {
  Staller::Reset();
  const auto start = Clock::now();
  {
    const AudioBackend table = Staller::Table();  // gone before the device lets go
    auto player = std::make_unique<AudioPlayer>(table);
    ASSERT_EQ(player->Start(), 1);
    const auto pcm = Chunks(6);
    ASSERT_EQ(player->Append(pcm.data(), static_cast<int>(pcm.size())),
              static_cast<int>(pcm.size()));
    ASSERT_TRUE(WaitUntil([] { return Staller::holding.load(); }, 2000ms));
    player.reset();  // waits for the buffers, resets, and its close is refused
  }
  EXPECT_LT(Clock::now() - start, 5000ms) << "a stalled device does not hold the close";
  EXPECT_GE(Staller::refusedCloses.load(), 1);
  EXPECT_EQ(CWavOut::StalledDevices(), 1);

  // The device's thread takes up its chunk: it reads the bytes and completes the buffer into
  // the free list and lock of the output that was closed long ago.
  Staller::Release();
  EXPECT_TRUE(WaitUntil([] { return Staller::bytesRead.load() == kPcmChunkBytes; }, 2000ms));
  EXPECT_TRUE(WaitUntil([] { return CWavOut::StalledDevices() == 0; }, 2000ms));
  EXPECT_EQ(Staller::closes.load(), 1) << "the device is closed once it let go";
}

TEST(StalledDevice, AnOutputWhoseDeviceStalledOpensAgainOnFreshBuffers) {
  Staller::Reset();
  const AudioBackend table = Staller::Table();
  CWavOut out(table);
  ASSERT_EQ(out.Open(), 1);
  const auto pcm = Chunks(3);
  for (int i = 0; i < 3; ++i) out.Write(pcm.data() + i * kPcmChunkBytes);
  ASSERT_TRUE(WaitUntil([] { return Staller::holding.load(); }, 2000ms));
  out.Close();
  EXPECT_FALSE(out.isOpen());
  EXPECT_EQ(CWavOut::StalledDevices(), 1);

  // The next device plays; the stalled one is closed as soon as it has let go.
  Staller::Release();
  ASSERT_EQ(out.Open(), 1);
  EXPECT_EQ(out.writtenChunks(), 3) << "the counts go on";
  for (int i = 0; i < 3; ++i) out.Write(pcm.data() + i * kPcmChunkBytes);
  EXPECT_TRUE(WaitUntil([&] { return out.freeCount() == CWavOut::kBufferCount; }, 2000ms));
  EXPECT_EQ(out.writtenChunks(), 6);
  EXPECT_TRUE(WaitUntil([] { return CWavOut::StalledDevices() == 0; }, 2000ms));
  out.Close();
  EXPECT_EQ(Staller::closes.load(), 2);
}

}  // namespace
