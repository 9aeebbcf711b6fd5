// The Recorder: 50 samples a second against the clock, the first sample a key frame, the
// continuation files at a change of picture size and at the size and sample limits, and a file
// that survives a killed process.
#include "player/record/recorder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "player/record/ensure_directories.h"
#include "player/video/video_player.h"
#include "tests/fixtures/wait_until.h"
#include "tests/player/fixtures/media_clips.h"

using namespace rovik_test;
using namespace std::chrono_literals;
using rovik::fixtures::WaitUntil;
using rovik::player::Recorder;

namespace {

// Feeds frames at `fps` for as long as they last or `seconds` pass, looping the clip.
void Feed(Recorder& r, const std::vector<Frame>& frames, int fps, double seconds, int width,
          int height) {
  FeedAtPace(frames, fps, seconds, [&](const Frame& f, size_t) {
    r.Push(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, width, height);
    return true;
  });
}

// The bytes of sample `n` of a closed file, through its index.
std::vector<uint8_t> Sample(const std::vector<uint8_t>& d, uint32_t n) {
  const size_t movi = FindChunk(d, "movi");
  const size_t idx = FindChunk(d, "idx1");
  if (movi == SIZE_MAX || idx == SIZE_MAX || ReadLe32(d, idx + 4) / 16 <= n) return {};
  const size_t chunk = movi + ReadLe32(d, idx + 8 + 16 * n + 8);
  const uint32_t size = ReadLe32(d, chunk + 4);
  return std::vector<uint8_t>(d.begin() + static_cast<long>(chunk + 8),
                              d.begin() + static_cast<long>(chunk + 8 + size));
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  }
  ScratchDir dir_;
};

}  // namespace

TEST(RecorderBasics, StartRefusesAndStopIsHarmless) {
  ScratchDir dir;
  Recorder r;
  r.Stop();  // never started
  EXPECT_EQ(r.Start((dir / "a.avi").c_str(), 2), 0);
  EXPECT_EQ(r.Start(nullptr, rovik::player::kRecordH264), 0);
  EXPECT_EQ(r.Start(std::string(300, 'x').c_str(), rovik::player::kRecordH264), 0);
  EXPECT_EQ(r.Start((dir / "a.avi").c_str(), rovik::player::kRecordH264), 1);
  EXPECT_EQ(r.Start((dir / "b.avi").c_str(), rovik::player::kRecordH264), 0);  // already running
  r.Stop();
  r.Stop();
  EXPECT_TRUE(r.ThreadEnded());
  EXPECT_FALSE(FileExists(dir / "a.avi"));  // no frame came, so no file was begun
}

TEST(RecorderBasics, ContinuationNames) {
  EXPECT_EQ(Recorder::ContinuationPath("/r/cam1/a.avi", 1), "/r/cam1/a_1.avi");
  EXPECT_EQ(Recorder::ContinuationPath("/r/cam1/a.avi", 12), "/r/cam1/a_12.avi");
  EXPECT_EQ(Recorder::ContinuationPath("/r/cam.1/a", 2), "/r/cam.1/a_2");
  EXPECT_EQ(Recorder::ContinuationPath("D:\\rec\\a.b.avi", 1), "D:\\rec\\a.b_1.avi");
  EXPECT_EQ(Recorder::ContinuationPath("/r/.avi", 1), "/r/.avi_1");
}

TEST_F(RecorderTest, ThreeSecondsOf25fpsH264Make150KeySamples) {
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 4, 25);
  ASSERT_FALSE(frames.empty());
  const std::string file = dir_ / "h.avi";
  {
    Recorder r;
    ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordH264), 1);
    Feed(r, frames, 25, 3.0, 320, 240);
    r.Stop();
    EXPECT_EQ(r.FilesBegun(), 1);
  }
  auto p = ProbeVideo(file);
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_EQ(p["codec_tag_string"], "h264");
  EXPECT_EQ(p["avg_frame_rate"], "50/1");
  EXPECT_EQ(p["width"], "320");
  EXPECT_EQ(p["height"], "240");
  const int samples = std::atoi(p["nb_frames"].c_str());
  EXPECT_GE(samples, 140);
  EXPECT_LE(samples, 156);
  const int packets = std::atoi(p["packets"].c_str());  // the non-empty ones: every fed frame
  EXPECT_GE(packets, 72);
  EXPECT_LE(packets, 76);
  EXPECT_EQ(p["first_flags"].substr(0, 1), "K");
  // The first sample is the clip's first key frame, byte for byte.
  EXPECT_EQ(Sample(ReadFile(file), 0), frames[0].bytes);
}

TEST_F(RecorderTest, JpegFramesMakeAnMjpegFile) {
  std::vector<Frame> frames;
  for (int i = 0; i < 10; ++i) frames.push_back({MakeJpeg(320, 240, i), 1});
  const std::string file = dir_ / "j.avi";
  Recorder r;
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordJpeg), 1);
  Feed(r, frames, 25, 2.0, 320, 240);
  r.Stop();
  auto p = ProbeVideo(file);
  EXPECT_EQ(p["codec_name"], "mjpeg");
  EXPECT_EQ(p["avg_frame_rate"], "50/1");
  const int samples = std::atoi(p["nb_frames"].c_str());
  EXPECT_GE(samples, 92);
  EXPECT_LE(samples, 104);
  EXPECT_EQ(Sample(ReadFile(file), 0), frames[0].bytes);
}

TEST_F(RecorderTest, FramesBeforeTheFirstKeyFrameNeverReachTheFile) {
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 2, 10);
  ASSERT_GE(frames.size(), 20u);
  const std::string file = dir_ / "k.avi";
  Recorder r;
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordH264), 1);
  // Starting mid-group: frames 1..9 depend on frame 0 and must be left out.
  std::vector<Frame> tail(frames.begin() + 1, frames.end());
  Feed(r, tail, 25, 0.7, 320, 240);
  r.Stop();
  const std::vector<uint8_t> d = ReadFile(file);
  EXPECT_EQ(Sample(d, 0), frames[10].bytes);
  EXPECT_EQ(ProbeVideo(file)["first_flags"].substr(0, 1), "K");
}

TEST_F(RecorderTest, SlowFramesAreHeldByEmptySamples) {
  std::vector<Frame> frames;
  for (int i = 0; i < 5; ++i) frames.push_back({MakeJpeg(160, 120, i), 1});
  const std::string file = dir_ / "slow.avi";
  Recorder r;
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordJpeg), 1);
  Feed(r, frames, 5, 2.0, 160, 120);   // one frame every 200 ms: ten ticks each
  std::this_thread::sleep_for(100ms);  // the last frame's tick
  r.Stop();
  auto p = ProbeVideo(file);
  const int samples = std::atoi(p["nb_frames"].c_str());
  EXPECT_GE(samples, 90);
  EXPECT_EQ(p["packets"], "10");
  const std::vector<uint8_t> d = ReadFile(file);
  EXPECT_EQ(Sample(d, 0), frames[0].bytes);
  EXPECT_TRUE(Sample(d, 1).empty());
}

TEST_F(RecorderTest, AChangeOfPictureSizeGoesOnInTheNextFile) {
  std::vector<Frame> small{{MakeJpeg(320, 240, 1), 1}};
  std::vector<Frame> big{{MakeJpeg(640, 480, 2), 1}};
  const std::string file = dir_ / "size.avi";
  const std::string next = dir_ / "size_1.avi";
  Recorder r;
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordJpeg), 1);
  Feed(r, small, 25, 0.5, 320, 240);
  Feed(r, big, 25, 0.5, 640, 480);
  ASSERT_TRUE(WaitUntil([&] { return r.FilesBegun() == 2; }, 2s));
  r.Stop();
  EXPECT_FALSE(r.Failed());
  auto first = ProbeVideo(file);
  EXPECT_EQ(first["width"], "320");
  EXPECT_GE(std::atoi(first["packets"].c_str()), 10);
  auto second = ProbeVideo(next);
  EXPECT_EQ(second["width"], "640");
  EXPECT_GE(std::atoi(second["packets"].c_str()), 5);
}

TEST_F(RecorderTest, EmptySamplesReachTheFileLimitToo) {
  // A camera that sends one picture and then nothing: its file still ends at the sample limit.
  const std::vector<Frame> one{{MakeJpeg(160, 120, 4), 1}};
  const std::string file = dir_ / "quiet.avi";
  Recorder r;
  r.SetSampleLimit(25);
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordJpeg), 1);
  Feed(r, one, 25, 0.04, 160, 120);
  std::this_thread::sleep_for(1500ms);  // 75 ticks
  const std::vector<uint8_t> ended = ReadFile(file);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(ReadFile(file), ended) << "the file was closed at its limit";
  r.Stop();
  EXPECT_EQ(ProbeVideo(file)["nb_frames"], "25");
  EXPECT_EQ(r.FilesBegun(), 1) << "the next file waits for the next picture";
}

TEST_F(RecorderTest, FramesWithoutAPictureSizeAreLeftOut) {
  // A JPEG that did not decode comes with size 0: it neither starts nor ends the recording.
  const Frame good{MakeJpeg(160, 120, 3), 1};
  const uint8_t junk[5] = {1, 2, 3, 4, 5};
  const std::string file = dir_ / "junk.avi";
  Recorder r;
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordJpeg), 1);
  r.Push(junk, 5, 1, 0, 0);
  std::this_thread::sleep_for(100ms);
  r.Push(good.bytes.data(), static_cast<int32_t>(good.bytes.size()), 1, 160, 120);
  std::this_thread::sleep_for(100ms);
  r.Push(junk, 5, 1, 0, 0);
  std::this_thread::sleep_for(100ms);
  r.Push(good.bytes.data(), static_cast<int32_t>(good.bytes.size()), 1, 160, 120);
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(r.ThreadEnded());
  r.Stop();
  const std::vector<uint8_t> d = ReadFile(file);
  EXPECT_EQ(Sample(d, 0), good.bytes);
  EXPECT_EQ(ProbeVideo(file)["packets"], "2");
}

TEST_F(RecorderTest, TheSizeLimitContinuesInANewFileBesideTheFirst) {
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 3, 25);
  ASSERT_FALSE(frames.empty());
  size_t second = 0;
  for (const Frame& f : frames) second += f.bytes.size();
  const std::string file = dir_ / "cont" + "/part.avi";
  const std::string next = dir_ / "cont" + "/part_1.avi";
  Recorder r;
  r.SetSizeLimit(second / 3);  // about one second of frames per file
  ASSERT_EQ(r.Start(file.c_str(), rovik::player::kRecordH264), 1);
  std::vector<uint8_t> firstWhenClosed;
  std::thread feeder([&] { Feed(r, frames, 25, 3.0, 320, 240); });
  ASSERT_TRUE(WaitUntil([&] { return r.FilesBegun() >= 2; }, 5s));
  firstWhenClosed = ReadFile(file);
  feeder.join();
  r.Stop();
  EXPECT_EQ(ReadFile(file), firstWhenClosed);
  ASSERT_TRUE(FileExists(next));
  for (const std::string& f : {file, next}) {
    auto p = ProbeVideo(f);
    EXPECT_EQ(p["codec_name"], "h264") << f;
    EXPECT_EQ(p["first_flags"].substr(0, 1), "K") << f;
    EXPECT_GT(std::atoi(p["packets"].c_str()), 10) << f;
  }
  // Each file holds about its share: the byte count started again for the second.
  EXPECT_GE(r.FilesBegun(), 2);
  EXPECT_LE(r.FilesBegun(), 4);
}

TEST_F(RecorderTest, MissingFoldersOfEitherSeparatorAreCreated) {
  std::vector<Frame> frames{{MakeJpeg(160, 120, 1), 1}};
  const std::string path = dir_.path() + "/rec\\cam1/sub\\a.avi";
  Recorder r;
  ASSERT_EQ(r.Start(path.c_str(), rovik::player::kRecordJpeg), 1);
  Feed(r, frames, 25, 0.3, 160, 120);
  r.Stop();
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "rec"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "rec/cam1/sub"));
  EXPECT_TRUE(FileExists(dir_ / "rec/cam1/sub/a.avi"));
}

TEST_F(RecorderTest, AKilledRecordingLeavesAReadableFile) {
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 2, 25);
  ASSERT_FALSE(frames.empty());
  const std::string file = dir_ / "killed.avi";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Recorder r;
    r.Start(file.c_str(), rovik::player::kRecordH264);
    Feed(r, frames, 25, 60.0, 320, 240);
    _exit(0);
  }
  // Wait until more than two seconds of samples are in the file, then kill it without warning.
  std::this_thread::sleep_for(2500ms);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  auto p = ProbeVideo(file);
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_GE(std::atoi(p["nb_frames"].c_str()), 50);
  EXPECT_GE(std::atoi(p["packets"].c_str()), 40);
  EXPECT_EQ(p["first_flags"].substr(0, 1), "K");
}

TEST_F(RecorderTest, PlayerLetsGoOfARecordingThatEndedAndFeedsItNoMore) {
  // A JPEG player records into a file that cannot be made (its folder is a file), which ends the
  // recording as failed. The player then releases the recorder instead of copying every frame
  // into its queue for good.
  rovik::player::PlayerHooks hooks;
  hooks.displayBackend = "null";
  hooks.makeRecorder = &Recorder::Make;
  rovik::player::CJPEGPlayer player(1, hooks);
  player.Start();
  std::ofstream(dir_ / "plain") << "a file, not a folder";
  auto chain = std::make_shared<rovik::player::RecordChain>(dir_ / "plain/ended.avi");
  ASSERT_EQ(player.ContinueRecord(chain), 1);
  const auto small = MakeJpeg(320, 240, 1);
  EXPECT_TRUE(WaitUntil(
      [&] {
        player.InputFrame(small.data(), static_cast<int32_t>(small.size()), 1, 0);
        std::this_thread::sleep_for(30ms);
        return !player.Recording();
      },
      5000ms))
      << "a recorder whose thread ended is released";
  EXPECT_TRUE(chain->failed) << "the recording asked for was not written";
  const uint64_t shown = player.PicturesShown();
  player.InputFrame(small.data(), static_cast<int32_t>(small.size()), 1, 0);
  EXPECT_TRUE(WaitUntil([&] { return player.PicturesShown() > shown; }, 5000ms));
}
