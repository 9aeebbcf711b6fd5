// rovik-send, run as a user would: one copy listening, another sending.
#include <gtest/gtest.h>

#include <thread>

#include "platform/window_link.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/program_folder.h"
#include "tools/rovik-send/send_text.h"

using namespace rovik::fixtures;
using namespace std::chrono_literals;

namespace {

TEST(SendText, EscapesDecodeAndShow) {
  auto b = rovik::tools::DecodeEscapes("4~\\x00\\x7f\\\\\\n\\x4");
  ASSERT_TRUE(b);
  EXPECT_EQ(*b, (std::vector<uint8_t>{'4', '~', 0, 0x7f, '\\', '\n', 4}));
  EXPECT_FALSE(rovik::tools::DecodeEscapes("a\\"));
  EXPECT_FALSE(rovik::tools::DecodeEscapes("\\q"));
  EXPECT_FALSE(rovik::tools::DecodeEscapes("\\xg"));
  EXPECT_EQ(rovik::tools::ShowBytes(b->data(), b->size()), "4~\\x00\\x7F\\x5C\\x0A\\x04");
  EXPECT_EQ(rovik::tools::ParseNumber("0x10"), 16u);
  EXPECT_EQ(rovik::tools::ParseNumber("18446744073709551615"), UINT64_MAX);
  EXPECT_FALSE(rovik::tools::ParseNumber("18446744073709551616"));
  EXPECT_FALSE(rovik::tools::ParseNumber("12a"));
  EXPECT_FALSE(rovik::tools::ParseNumber(""));
}

TEST(RovikSend, ListenerPrintsMessagesAndSenderPrintsReply) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.Copy("rovik-send"));
  ChildProcess listener;
  ASSERT_TRUE(folder.Start(listener, "rovik-send", {"--listen", "RovikClient", "--reply", "-7"}));
  auto env = folder.ApplyToThisProcess();
  for (int i = 0; i < 250 && !rovik::platform::FindWindowByTitle("RovikClient"); ++i) {
    std::this_thread::sleep_for(20ms);
  }

  auto r = RunProgram(folder.Program("rovik-send"), {"--dwdata", "3", "RovikClient", "6~12\\x00"},
                      15s, folder.Options());
  EXPECT_TRUE(r.status.Success()) << r.err;
  EXPECT_EQ(r.out, "-7\n");
  r = RunProgram(folder.Program("rovik-send"), {"--wparam", "0x10", "RovikClient", ""}, 15s,
                 folder.Options());
  EXPECT_EQ(r.out, "-7\n");
  auto lines = listener.WaitForLines(2, 10s);
  ASSERT_EQ(lines.size(), 2u) << listener.Stdout();
  EXPECT_EQ(lines[0], "dwData=3 cbData=5 data=6~12\\x00");
  EXPECT_EQ(lines[1], "dwData=0 cbData=0 data=");

  r = RunProgram(folder.Program("rovik-send"), {"NoSuchWindow", "0~"}, 15s, folder.Options());
  EXPECT_TRUE(r.status.exited);
  EXPECT_EQ(r.status.code, 2);
  EXPECT_EQ(r.out, "0\n");

  r = RunProgram(folder.Program("rovik-send"), {"RovikClient", "bad\\"}, 15s, folder.Options());
  EXPECT_EQ(r.status.code, 1);

  listener.Signal(SIGTERM);
  auto st = listener.Wait(10s);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->Success());
  EXPECT_FALSE(rovik::platform::FindWindowByTitle("RovikClient"));
}

}  // namespace
