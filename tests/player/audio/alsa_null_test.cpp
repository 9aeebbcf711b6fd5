// The ALSA back end against ALSA's own "null" PCM (run with ROVIK_AUDIO=alsa:null): the real
// open, configure, write and read paths without a sound card.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "player/audio/audio.h"
#include "tests/player/audio/audio_test_support.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_delivered{0};
std::atomic<int> g_badLength{0};
void Count(const uint8_t*, int length, void*) {
  if (length != kPcmChunkBytes) ++g_badLength;
  ++g_delivered;
}

class AlsaNull : public testing::Test {
 protected:
  void SetUp() override {
    if (std::strcmp(AlsaDeviceName(), "null") != 0) GTEST_SKIP() << "needs ROVIK_AUDIO=alsa:null";
  }
};

TEST_F(AlsaNull, PlaybackCompletesEveryChunk) {
  CWavOut out(AlsaAudioBackend());
  ASSERT_EQ(out.Open(), 1);
  std::vector<uint8_t> chunk(kPcmChunkBytes, 0x22);
  for (int i = 0; i < 40; ++i) {
    out.Write(chunk.data());
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_TRUE(WaitUntil([&] { return out.freeCount() == CWavOut::kBufferCount; }, 2000ms));
  EXPECT_GT(out.writtenChunks(), 0);
  out.Close();
  EXPECT_FALSE(out.isOpen());
}

TEST_F(AlsaNull, CaptureDeliversChunksAndStops) {
  g_delivered = 0;
  const int before = ThreadBaseline();
  {
    CWaveIn in(AlsaAudioBackend());
    in.Start(&Count, nullptr);
    ASSERT_TRUE(in.capturing());
    EXPECT_TRUE(WaitUntil([] { return g_delivered >= 3; }, 2000ms));
    in.Stop();
    const int after = g_delivered;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_delivered.load(), after);
  }
  EXPECT_EQ(g_badLength.load(), 0);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before; }, 1000ms));
}

}  // namespace
