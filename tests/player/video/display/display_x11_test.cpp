// The X11 back end on real windows (run under Xvfb): pictures read back with XGetImage, the
// client area followed when the window is resized, large pictures shown whole, and the pixel
// layout of a 16-bit server.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "tests/fixtures/test_window.h"
#include "tests/player/fixtures/player_test_util.h"

#include <X11/Xlib.h>

extern char** environ;

using namespace rovik::player;
using namespace player_test;
using rovik::fixtures::Near;
using rovik::fixtures::Rgb;
using rovik::fixtures::TestWindow;

namespace {

const Rgb kClipBlue{0x20, 0x80, 0xE0};

void Feed(CVideoPlayer& player, const std::vector<ClipFrame>& frames) {
  for (const ClipFrame& f : frames) {
    player.InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
  }
}

// The pixel once it reaches the colour (the server draws asynchronously), else its last value.
Rgb PixelSoon(const TestWindow& window, int x, int y, const Rgb& want, int tolerance) {
  Rgb got;
  WaitFor(
      [&] {
        got = window.PixelAt(x, y);
        return Near(got, want, tolerance);
      },
      std::chrono::seconds(5));
  return got;
}

// A clip's first picture as libavcodec decodes it, reduced by libswscale's bilinear scaler to
// width x height, as red, green, blue bytes.
std::vector<uint8_t> SwscaleReduced(const ClipFrame& first, int width, int height) {
  std::vector<uint8_t> rgb;
  AVCodecContext* context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> padded = first.bytes;
  padded.resize(first.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  packet->data = padded.data();
  packet->size = static_cast<int>(first.bytes.size());
  if (avcodec_open2(context, context->codec, nullptr) == 0 &&
      avcodec_send_packet(context, packet) == 0 && avcodec_send_packet(context, nullptr) == 0 &&
      avcodec_receive_frame(context, frame) == 0) {
    SwsContext* sws =
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                       width, height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    rgb.resize(static_cast<size_t>(width) * height * 3);
    uint8_t* dst[1] = {rgb.data()};
    const int dstStride[1] = {width * 3};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
  }
  av_frame_free(&frame);
  packet->data = nullptr;
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return rgb;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.empty() || a.size() != b.size()) {
    return 0;
  }
  double squares = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    squares += d * d;
  }
  const double mse = squares / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// An X server starts over whenever its last client leaves, and refuses connections while it
// does: a connection held for the whole run keeps a window of one test from falling into the
// gap another test left. The display may itself be in such a gap when the
// run starts, so it is given a few seconds.
class HeldDisplay : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      return;
    }
    WaitFor([&] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, std::chrono::seconds(5));
  }
  void TearDown() override {
    if (display_ != nullptr) {
      XCloseDisplay(display_);
      display_ = nullptr;
    }
  }

 private:
  Display* display_ = nullptr;
};
[[maybe_unused]] const ::testing::Environment* const kHeldDisplay =
    ::testing::AddGlobalTestEnvironment(new HeldDisplay);

#define SKIP_WITHOUT_X(window)                                                      \
  if (!(window).Valid()) {                                                          \
    GTEST_SKIP() << "no X display ($DISPLAY unset or refused): run under xvfb-run"; \
  }

}  // namespace

TEST(DisplayX11, SolidClipShowsItsColourInTheWindow) {
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  TestWindow window(320, 240);
  SKIP_WITHOUT_X(window);
  CH264Player player(window.Id());
  ASSERT_NE(player.Display()->Format(), kPixelFormatNone);
  player.Start();
  Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 5));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 5; }));
  for (auto [x, y] : {std::pair{0, 0}, {160, 120}, {319, 239}}) {
    const Rgb got = PixelSoon(window, x, y, kClipBlue, 10);
    EXPECT_TRUE(Near(got, kClipBlue, 10))
        << x << "," << y << ": " << got.r << " " << got.g << " " << got.b;
  }
}

TEST(DisplayX11, ResizedWindowIsFilledByTheNextPicture) {
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  TestWindow window(320, 240);
  SKIP_WITHOUT_X(window);
  CH264Player player(window.Id());
  player.Start();
  Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 3));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 3; }));
  window.Resize(600, 450);
  Feed(player, std::vector<ClipFrame>(clip.begin() + 3, clip.begin() + 5));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 5; }));
  for (auto [x, y] : {std::pair{599, 449}, {450, 300}, {5, 440}}) {
    const Rgb got = PixelSoon(window, x, y, kClipBlue, 10);
    EXPECT_TRUE(Near(got, kClipBlue, 10))
        << x << "," << y << ": " << got.r << " " << got.g << " " << got.b;
  }
  // Smaller than the picture: shrunk to fit.
  window.Resize(100, 80);
  player.Refresh();
  EXPECT_TRUE(Near(PixelSoon(window, 99, 79, kClipBlue, 10), kClipBlue, 10));
}

TEST(DisplayX11, PicturesInQuickSuccessionEndWithTheLastOneShown) {
  // Two shared pictures take turns while the server copies: whatever the timing, the window
  // ends with the last picture drawn, and stays so.
  TestWindow window(640, 360);
  SKIP_WITHOUT_X(window);
  DisplaySurface surface(window.Id());
  ASSERT_EQ(surface.SetUp(), 1);
  const int w = 640;
  const int h = 360;
  struct Colour {
    uint8_t y, u, v;
  };
  const Colour colours[2] = {{81, 90, 240}, {41, 240, 110}};
  std::vector<std::vector<uint8_t>> planes;
  for (const Colour& c : colours) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3 / 2, c.y);
    std::fill(p.begin() + w * h, p.begin() + w * h * 5 / 4, c.u);
    std::fill(p.begin() + w * h * 5 / 4, p.end(), c.v);
    planes.push_back(std::move(p));
  }
  const auto draw = [&](int which) {
    const uint8_t* p = planes[which].data();
    return surface.Draw(p, p + w * h, p + w * h * 5 / 4, w, h);
  };
  for (int i = 0; i < 41; ++i) {
    ASSERT_EQ(draw(i % 2), 1);
  }
  // 41 pictures: the last one is the first colour, Y 81, U 90, V 240: red 254, green 0, blue 0.
  const Rgb red{254, 0, 0};
  for (auto [x, y] : {std::pair{0, 0}, {320, 180}, {639, 359}}) {
    const Rgb got = PixelSoon(window, x, y, red, 2);
    EXPECT_TRUE(Near(got, red, 2))
        << x << "," << y << ": " << got.r << " " << got.g << " " << got.b;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(Near(window.PixelAt(320, 180), red, 2)) << "an older picture came back";
}

TEST(DisplayX11, LargePicturesAreShownWhole) {
  // The window is smaller than the pictures (and fits on the screen, so it can be read back):
  // the whole picture is shrunk into it, its right and bottom edges included. A picture cut at
  // the initial 1280 x 720 surface would show something else there.
  for (const char* name : {"solid_1920x1080.h264", "solid_1282x722.h264"}) {
    const auto clip = ReadH264Clip(name);
    SKIP_WITHOUT(clip, name);
    TestWindow window(640, 360);
    SKIP_WITHOUT_X(window);
    CH264Player player(window.Id());
    player.Start();
    Feed(player, clip);
    ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == clip.size(); }));
    int32_t w = 0;
    int32_t h = 0;
    player.StoredSize(&w, &h);
    EXPECT_GT(w, 1280);
    EXPECT_GT(h, 720);
    for (auto [x, y] : {std::pair{639, 359}, {639, 0}, {0, 359}, {500, 300}}) {
      const Rgb got = PixelSoon(window, x, y, kClipBlue, 10);
      EXPECT_TRUE(Near(got, kClipBlue, 10))
          << name << " " << x << "," << y << ": " << got.r << " " << got.g << " " << got.b;
    }
  }
}

// How close the first picture of `clip`, played into a width x height window, comes to
// libswscale's bilinear reduction of it (PSNR in dB; 0, with the reason added as a failure,
// when nothing could be compared).
static double ShownAgainstSwscale(const std::vector<ClipFrame>& clip, int width, int height) {
  TestWindow window(width, height);
  if (!window.Valid()) {
    ADD_FAILURE() << "no window";
    return 0;
  }
  const std::vector<uint8_t> want = SwscaleReduced(clip[0], width, height);
  CH264Player player(window.Id());
  player.Start();
  Feed(player, {clip[0]});
  if (!WaitFor([&] { return player.PicturesShown() == 1; })) {
    ADD_FAILURE() << "the picture was not shown";
    return 0;
  }
  double psnr = 0;
  std::vector<uint8_t> got;
  WaitFor(
      [&] {
        got = window.RgbImage(width, height);
        psnr = Psnr(got, want);
        return psnr >= 30.0;
      },
      std::chrono::seconds(3));
  if (got.size() != want.size()) {
    ADD_FAILURE() << "read back " << got.size() << " bytes, " << want.size() << " wanted";
  }
  return psnr;
}

TEST(DisplayX11, WindowsSmallerThanThePictureShowItReducedAsSwscaleWould) {
  // 2:1, 4:1, and the odd ratios of a 16-camera wall's tiles (1.76 across, 2.56 down).
  struct Case {
    const char* clip;
    int width, height;
  };
  {
    TestWindow probe(16, 16);
    SKIP_WITHOUT_X(probe);
  }
  for (const Case& c : {Case{"bench_720p.h264", 640, 360}, Case{"bench_720p.h264", 320, 180},
                        Case{"bench_576p.h264", 400, 225}}) {
    const auto clip = ReadH264Clip(c.clip);
    SKIP_WITHOUT(clip, c.clip);
    EXPECT_GE(ShownAgainstSwscale(clip, c.width, c.height), 35.0)
        << c.clip << " into " << c.width << "x" << c.height;
  }
}

TEST(DisplayX11, JpegPlayerDrawsPictureTextAndClock) {
  const auto jpeg = ReadFileBytes(ClipPath("solid_320x240.jpg"));
  SKIP_WITHOUT(jpeg, "solid_320x240.jpg");
  TestWindow window(400, 300);
  SKIP_WITHOUT_X(window);
  CJPEGPlayer player(window.Id());
  player.SetOSDText("Porch");
  player.Start();
  player.InputFrame(jpeg.data(), static_cast<int32_t>(jpeg.size()), 1, 0);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  // Stretched over the 400 x 300 client area; the text box at (5, 280), the clock at (225, 5).
  EXPECT_TRUE(Near(PixelSoon(window, 399, 150, kClipBlue, 10), kClipBlue, 10));
  EXPECT_TRUE(Near(PixelSoon(window, 5, 281, {0xDC, 0xDC, 0xDC}, 12), {0xDC, 0xDC, 0xDC}, 12));
  EXPECT_TRUE(Near(PixelSoon(window, 225, 6, {0xDC, 0xDC, 0xDC}, 12), {0xDC, 0xDC, 0xDC}, 12));
  int dark = 0;
  for (int x = 225; x < 400; ++x) {
    for (int y = 5; y < 22; ++y) {
      dark += Near(window.PixelAt(x, y), {0x32, 0x32, 0x32}, 30) ? 1 : 0;
    }
  }
  EXPECT_GT(dark, 40);
}

TEST(DisplayX11, WindowWithAnAlphaChannelGetsOpaquePixels) {
  // Under a compositor a 32-bit window's top byte is alpha: pictures, the text and the black of
  // a frame that does not decode must all come out opaque.
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  const auto jpeg = ReadFileBytes(ClipPath("solid_320x240.jpg"));
  SKIP_WITHOUT(jpeg, "solid_320x240.jpg");
  TestWindow window(320, 240, true);
  if (!window.Valid()) {
    GTEST_SKIP() << "no X display, or no 32-bit visual on it";
  }
  {
    CH264Player player(window.Id());
    ASSERT_EQ(player.Display()->Format(), kPixelFormatRgb32);
    player.Start();
    Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 3));
    EXPECT_TRUE(Near(PixelSoon(window, 160, 120, kClipBlue, 10), kClipBlue, 10));
    EXPECT_EQ(window.RawPixelAt(160, 120) >> 24, 0xFFu);
    EXPECT_EQ(window.RawPixelAt(319, 239) >> 24, 0xFFu);
  }
  window.Resize(400, 300);  // stretched through the back picture, with text and clock on top
  CJPEGPlayer player(window.Id());
  player.SetOSDText("Porch");
  player.Start();
  player.InputFrame(jpeg.data(), static_cast<int32_t>(jpeg.size()), 1, 0);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  EXPECT_TRUE(Near(PixelSoon(window, 200, 150, kClipBlue, 10), kClipBlue, 10));
  for (auto [x, y] : {std::pair{200, 150}, {399, 299}, {6, 282}, {226, 6}}) {
    EXPECT_EQ(window.RawPixelAt(x, y) >> 24, 0xFFu) << x << "," << y;
  }
  const uint8_t damaged[] = {0xFF, 0xD8, 0xFF, 0x00};
  player.InputFrame(damaged, sizeof damaged, 1, 0);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 2; }));
  EXPECT_TRUE(Near(PixelSoon(window, 200, 150, {0, 0, 0}, 4), {0, 0, 0}, 4));
  EXPECT_EQ(window.RawPixelAt(200, 150) >> 24, 0xFFu);
}

TEST(DisplayX11, WindowThatDoesNotExistShowsNothingAndDecodingGoesOn) {
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  TestWindow probe(16, 16);
  SKIP_WITHOUT_X(probe);
  CH264Player player(0x7FFFFF0);  // no such window
  EXPECT_EQ(player.Display()->Format(), kPixelFormatNone);
  player.Start();
  Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 3));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 3; }));
}

TEST(DisplayX11, WindowDestroyedWhilePlayingIsSurvived) {
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  auto window = std::make_unique<TestWindow>(320, 240);
  SKIP_WITHOUT_X(*window);
  CH264Player player(window->Id());
  player.Start();
  Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 3));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 3; }));
  window.reset();
  Feed(player, std::vector<ClipFrame>(clip.begin() + 3, clip.begin() + 10));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 10; }));
}

// An Xvfb of our own at depth 16: the layout code is 2 (5-6-5) and the colours still right.
namespace {

// An Xvfb server of this test's own, ended (and waited for) when it goes out of scope, so that
// a failing check cannot leave it running.
class OwnServer {
 public:
  ~OwnServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Starts a server of that depth on a free display number and waits until it answers. Other
  // servers may be started on this machine at the same moment: a server that ends at once (its
  // number was taken meanwhile) or a display that is not ours is passed over for the next
  // number.
  bool Start(int depth) {
    for (int n = 90 + getpid() % 300, tries = 0; n < 1000 && tries < 5; n += 7) {
      if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0 ||
          access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) {
        continue;
      }
      ++tries;
      const std::string name = ":" + std::to_string(n);
      const std::string screen = "640x480x" + std::to_string(depth);
      // -noreset: the server otherwise starts over when its last client (the probe below)
      // leaves, and refuses the test's next connection while it does.
      const char* argv[] = {"Xvfb",      name.c_str(), "-screen",  "0",    screen.c_str(),
                            "-nolisten", "tcp",        "-noreset", nullptr};
      pid_t pid = -1;
      if (posix_spawn(&pid, "/usr/bin/Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) !=
          0) {
        continue;
      }
      bool gone = false;
      const bool up = WaitFor(
          [&] {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
              gone = true;
              return true;
            }
            Display* d = XOpenDisplay(name.c_str());
            if (d == nullptr) {
              return false;
            }
            const bool ours = DefaultDepth(d, DefaultScreen(d)) == depth;
            XCloseDisplay(d);
            return ours;
          },
          std::chrono::seconds(20));
      if (up && !gone) {
        pid_ = pid;
        name_ = name;
        return true;
      }
      if (!gone) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
    }
    return false;
  }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// DISPLAY set for the scope, restored after it.
class DisplayNamed {
 public:
  explicit DisplayNamed(const std::string& name) {
    const char* saved = std::getenv("DISPLAY");
    had_ = saved != nullptr;
    previous_ = had_ ? saved : "";
    setenv("DISPLAY", name.c_str(), 1);
  }
  ~DisplayNamed() {
    if (had_) {
      setenv("DISPLAY", previous_.c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }

 private:
  bool had_ = false;
  std::string previous_;
};

}  // namespace

TEST(DisplayX11, PicturesNarrowerThanTheSurfaceKeepTheirRowsAtEveryDepth) {
  // A picture narrower than the off-screen surface is laid out in rows of its own width, padded
  // as the server pads them: odd widths, and 16-bit pixels (322 bytes a row, padded to 324),
  // must come out unsheared; rows out of step fall to about 3 dB.
  const auto clip = ReadH264Clip("bench_576p.h264");
  SKIP_WITHOUT(clip, "bench_576p.h264");
  {
    TestWindow probe(16, 16);
    SKIP_WITHOUT_X(probe);
  }
  EXPECT_GE(ShownAgainstSwscale(clip, 161, 97), 35.0);
  if (access("/usr/bin/Xvfb", X_OK) != 0) {
    GTEST_SKIP() << "Xvfb is not installed";
  }
  OwnServer server;
  ASSERT_TRUE(server.Start(16)) << "no depth-16 Xvfb of this test's own came up";
  DisplayNamed display(server.Name());
  for (auto [w, h] : {std::pair{161, 97}, {400, 225}}) {
    EXPECT_GE(ShownAgainstSwscale(clip, w, h), 20.0) << w << "x" << h << " at depth 16";
  }
}

TEST(DisplayX11, SixteenBitServerGivesCodeTwo) {
  const auto clip = ReadH264Clip("solid_320x240.h264");
  SKIP_WITHOUT(clip, "solid_320x240.h264");
  if (access("/usr/bin/Xvfb", X_OK) != 0) {
    GTEST_SKIP() << "Xvfb is not installed";
  }
  OwnServer server;
  ASSERT_TRUE(server.Start(16)) << "no depth-16 Xvfb of this test's own came up";
  DisplayNamed display(server.Name());
  TestWindow window(320, 240);
  SKIP_WITHOUT_X(window);
  EXPECT_EQ(window.Depth(), 16);
  CH264Player player(window.Id());
  EXPECT_EQ(player.Display()->Format(), kPixelFormatRgb565);
  player.Start();
  Feed(player, std::vector<ClipFrame>(clip.begin(), clip.begin() + 3));
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 3; }));
  const Rgb got = PixelSoon(window, 160, 120, kClipBlue, 14);
  // Five and six bits per channel.
  EXPECT_TRUE(Near(got, kClipBlue, 14)) << got.r << " " << got.g << " " << got.b;
}
