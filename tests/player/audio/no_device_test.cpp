// A machine without a sound device: run with ROVIK_AUDIO naming an ALSA PCM that does not exist.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "player/audio/audio.h"
#include "tests/player/audio/audio_test_support.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_delivered{0};
void Count(const uint8_t*, int, void*) { ++g_delivered; }

TEST(NoDevice, CaptureReportsTheThreeLinesAndDeliversNothing) {
  ASSERT_STREQ(CurrentAudioBackend().name, "alsa");
  ASSERT_NE(std::strcmp(AlsaDeviceName(), "default"), 0) << "run with ROVIK_AUDIO=alsa:<missing>";
  const int before = ThreadBaseline();
  CWaveIn in;
  testing::internal::CaptureStderr();
  in.Start(&Count, nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  const size_t three = err.find("wavin ini 3 err\n");
  const size_t four = err.find("wavin ini 4 err\n");
  const size_t ok = err.find("wavin ok \n");
  ASSERT_NE(three, std::string::npos) << err;
  ASSERT_NE(four, std::string::npos) << err;
  ASSERT_NE(ok, std::string::npos) << err;
  EXPECT_LT(three, four);
  EXPECT_LT(four, ok);
  EXPECT_EQ(err.find("MM_WIM"), std::string::npos) << "no device was opened: " << err;
  EXPECT_EQ(err.find("ALSA"), std::string::npos) << "ALSA's own complaints stay quiet: " << err;
  EXPECT_FALSE(in.deviceOpen());
  EXPECT_FALSE(in.capturing());
  EXPECT_FALSE(in.threadStarted()) << "the failed open stops the message thread";
  EXPECT_TRUE(in.startRequested());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_delivered.load(), 0);
  in.Stop();  // closes nothing that was not opened
  EXPECT_EQ(ThreadCount(), before);
}

TEST(NoDevice, PlaybackDropsEverythingQuietly) {
  AudioPlayer player;
  EXPECT_EQ(player.Start(), 0);
  std::vector<uint8_t> pcm(4 * kPcmChunkBytes, 0x11);
  EXPECT_EQ(player.Append(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
  EXPECT_TRUE(WaitUntil([&] { return player.output().droppedChunks() == 4; }, 1500ms));
  EXPECT_EQ(player.output().writtenChunks(), 0);
}

}  // namespace
