// QXDll over days of use, on its exports with the camera simulator: a camera that freezes is
// reported lost and comes back after a reconnect; a recording asked for is kept through the
// stream's start and a restart of the video; a disk that fills up leaves a file that decodes
// cleanly and an earlier file whole; paths too long are refused; an odd audio block does not
// spoil the sound after it. The video goes to the null display (window 1), the sound to ALSA's
// file PCM (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"
#include "p2p/protocol/p2p_wire.h"
#include "tests/camsession/scripted_camera.h"
#include "tests/fixtures/camsim_process.h"
#include "tests/fixtures/recording_window.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/player/fixtures/media_clips.h"

namespace {

using namespace rovik::p2p;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rovik::fixtures::CamsimProcess;
using rovik::fixtures::WaitUntil;
using Message = std::array<intptr_t, 4>;  // index, value1, value2, value3

constexpr uintptr_t kWindow = 1;  // any window: the null display draws nowhere

std::mutex g_lock;  // guards g_messages
std::vector<Message> g_messages;
std::atomic<int> g_frames{0};

void OnMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_messages.push_back({index, v1, v2, v3});
}

void OnAV(int32_t, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (kind != 0) ++g_frames;
}

bool Seen(const Message& m) {
  std::lock_guard<std::mutex> hold(g_lock);
  for (const Message& s : g_messages) {
    if (s == m) return true;
  }
  return false;
}

class LongUse : public testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> hold(g_lock);
      g_messages.clear();
    }
    g_frames = 0;
    ASSERT_EQ(QXAPI_Initial(0), 0);
    QXAPI_SetMessageCallBack(&OnMessage, 0);
    QXAPI_SetAVDataCallBack(&OnAV, 0);
    ASSERT_EQ(QXAPI_CreateInstance(&index_), 0);
  }
  void TearDown() override {
    QXAPI_DestroyAllInstance();
    QXAPI_DeInitial();
    QXAPI_SetMessageCallBack(nullptr, 0);
    QXAPI_SetAVDataCallBack(nullptr, 0);
  }
  int32_t Start(const std::string& address) {
    static const char* const kAdmin = "admin";
    return QXAPI_Start(index_, reinterpret_cast<intptr_t>(address.c_str()),
                       reinterpret_cast<intptr_t>(kAdmin), reinterpret_cast<intptr_t>(kAdmin));
  }
  // The frames seen so far, once `more` have arrived after the call (false when they did not).
  bool MoreFrames(int more, std::chrono::milliseconds limit) {
    const int from = g_frames;
    return WaitUntil([&] { return g_frames >= from + more; }, limit);
  }

  // Connects to a fresh camsim and starts its video.
  void Watch() {
    ASSERT_TRUE(cam_.Start());
    ASSERT_EQ(Start(cam_.address()), 0);
    ASSERT_EQ(QXAPI_StartVideo(index_, kWindow, 0), 0);
  }

  int32_t index_ = -1;
  rovik::fixtures::TempDir dir_;
  CamsimProcess cam_;
};

TEST_F(LongUse, AFrozenCameraIsReportedLostAndReconnects) {
  ASSERT_NO_FATAL_FAILURE(Watch());
  ASSERT_TRUE(MoreFrames(25, 10s));

  ASSERT_TRUE(cam_.child().Signal(SIGSTOP));
  const auto frozen = Clock::now();
  EXPECT_TRUE(WaitUntil([&] { return Seen({index_, 1, 3, 0}); }, 20s)) << "no lost report";
  std::printf("lost reported %lld ms after the camera froze\n",
              static_cast<long long>((Clock::now() - frozen) / 1ms));
  // While it is frozen a connect cannot log in, and says so.
  EXPECT_EQ(Start(cam_.address()), -6);
  EXPECT_TRUE(Seen({index_, 1, 2, -2}));

  ASSERT_TRUE(cam_.child().Signal(SIGCONT));
  EXPECT_TRUE(WaitUntil([&] { return Start(cam_.address()) == 0; }, 10s));
  ASSERT_EQ(QXAPI_StartVideo(index_, kWindow, 0), 0);
  EXPECT_TRUE(MoreFrames(25, 10s)) << "pictures again after the reconnect";
}

TEST_F(LongUse, ARecordingIsKeptFromTheFirstFrameAndAcrossARestart) {
  const std::string first = (dir_ / "rec/cam.avi").string();
  const std::string second = (dir_ / "rec/cam_1.avi").string();
  ASSERT_NO_FATAL_FAILURE(Watch());
  ASSERT_EQ(QXAPI_StartRecord(index_, first.c_str(), 0, 0), 0);  // before the first frame
  std::this_thread::sleep_for(3s);
  ASSERT_EQ(QXAPI_StartVideo(index_, kWindow, 0), 0);  // a second window, or a reconnect
  ASSERT_TRUE(MoreFrames(1, 5s));
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(QXAPI_StopRecord(index_), 0);

  // Both sides of the restart, each beginning at a key frame (the camera sends one a second).
  for (const auto& [file, seconds] : {std::pair{first, 2.5}, std::pair{second, 1.5}}) {
    auto p = rovik_test::ProbeVideo(file);
    EXPECT_GE(std::atoi(p["nb_frames"].c_str()), seconds * 50) << file;
    EXPECT_GE(std::atoi(p["packets"].c_str()) - std::atoi(p["zero_size"].c_str()), seconds * 20)
        << file << ": pictures, not only empty samples";
    EXPECT_EQ(p["first_flags"].substr(0, 1), "K") << file;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "rec/cam_2.avi")) << "StopRecord ended it";
}

TEST_F(LongUse, AFullDiskLeavesACleanFileAndAnEarlierOneWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk (tmpfs) needs root";
  if (!rovik_test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const auto disk = dir_ / "disk";
  std::filesystem::create_directory(disk);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk.string()};
  const std::string earlier = (disk / "earlier.avi").string();
  ASSERT_TRUE(rovik::fixtures::WriteWholeFile(earlier, std::string(4096, 'e')));
  // Room for a few seconds of the camera's pictures.
  ASSERT_TRUE(rovik::fixtures::WriteWholeFile(disk / "filler", std::string(880 << 10, 'f')));

  ASSERT_NO_FATAL_FAILURE(Watch());
  const std::string file = (disk / "full.avi").string();
  ASSERT_EQ(QXAPI_StartRecord(index_, file.c_str(), 0, 0), 0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Seen({index_, 1, 4, 0});
      },
      60s))
      << "no report of the full disk";
  EXPECT_EQ(QXAPI_StopRecord(index_), -5);
  // Every sample decoded, each frame passed on with the file's own time. Frames that waited go
  // out one a sample, closer than the rate ffmpeg guesses from the file; in that guessed time base
  // two of them would share a time, so the check keeps the file's time base.
  int status = -1;
  const std::string errors = rovik_test::RunCommand(
      "ffmpeg -v error -i '" + file + "' -fps_mode passthrough -enc_time_base -1 -f null - 2>&1",
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(errors, "") << "the file decodes without an error";
  EXPECT_GE(std::atoi(rovik_test::ProbeVideo(file)["packets"].c_str()), 25);

  // With the disk full, a recording at the earlier file's path fails without emptying it.
  rovik::fixtures::WriteWholeFile(disk / "filler2", std::string(1 << 20, 'f'));
  ASSERT_EQ(QXAPI_StartRecord(index_, earlier.c_str(), 0, 0), 0);
  ASSERT_TRUE(MoreFrames(30, 5s));
  EXPECT_EQ(QXAPI_StopRecord(index_), -5);
  EXPECT_EQ(rovik::fixtures::ReadWholeFile(earlier), std::string(4096, 'e'));
}

TEST_F(LongUse, PathsTooLongAreRefusedAndNothingIsWritten) {
  ASSERT_NO_FATAL_FAILURE(Watch());
  ASSERT_TRUE(MoreFrames(5, 10s));
  const std::string base = (dir_ / "").string();
  const std::string tooLong = base + std::string(300 - base.size(), 's');
  EXPECT_EQ(QXAPI_SnapShot(index_, tooLong.c_str()), -2);
  EXPECT_EQ(QXAPI_StartRecord(index_, tooLong.c_str(), 0, 0), -2);
  const std::string whole = base + std::string(250 - base.size(), 'w');
  EXPECT_EQ(QXAPI_SnapShot(index_, whole.c_str()), 0);
  std::this_thread::sleep_for(500ms);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path())) {
    names.push_back(e.path().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{whole}) << "written whole, or not at all";
}

// 8000 Hz samples of a 500 Hz tone of peak 8000, little-endian.
std::vector<uint8_t> Tone(size_t bytes, int from) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const auto s = static_cast<int16_t>(8000 * std::sin((from + i / 2) * 2 * M_PI / 16));
    out[i] = static_cast<uint8_t>(s & 0xFF);
    out[i + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
  }
  if (bytes % 2 == 1) out.back() = 0x7F;
  return out;
}

TEST_F(LongUse, AnOddAudioBlockLeavesTheSoundAfterItClean) {
  const char* played = std::getenv("ROVIK_LONG_USE_PLAYED");
  ASSERT_NE(played, nullptr);
  std::filesystem::remove(played);
  // One block of 641 bytes, then clean 640-byte blocks every 40 ms.
  ScriptedCamera camera([](int round, const ScriptedCamera::Send& send) {
    if (round % 2 != 0) return;
    const auto pcm = Tone(round == 0 ? 641 : 640, round * 160);
    send(EncodeWireFrame(kWireAudioData, pcm.data(), pcm.size()));
  });
  ASSERT_EQ(Start(camera.address()), 0);
  ASSERT_EQ(QXAPI_StartAudio(index_), 0);
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(played, ec) >= 25 * 640 && !ec;
      },
      10s));
  const std::string pcm = rovik::fixtures::ReadWholeFile(played);
  int peak = 0;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    const auto s =
        static_cast<int16_t>(static_cast<uint8_t>(pcm[i]) | static_cast<uint8_t>(pcm[i + 1]) << 8);
    peak = std::max(peak, std::abs(static_cast<int>(s)));
  }
  EXPECT_GE(peak, 7000) << "the tone plays";
  EXPECT_LE(peak, 8000) << "no misaligned sample after the odd block";
}

}  // namespace
