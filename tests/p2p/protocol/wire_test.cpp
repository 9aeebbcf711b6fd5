// The wire reader and the frame-header reader: what a peer sends is taken apart only within its
// bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/tcp_socket.h"
#include "p2p/protocol/video_frame.h"

namespace {

using namespace rovik::p2p;

TEST(WireStream, ReassemblesFramesFedByteByByte) {
  std::vector<uint8_t> bytes = EncodeMessage(1, -2, 3);
  const auto second = EncodeWireFrame(kWireAudioData, "abcd", 4);
  bytes.insert(bytes.end(), second.begin(), second.end());
  WireStream s;
  std::vector<uint16_t> types;
  std::string audio;
  for (uint8_t b : bytes) {
    ASSERT_TRUE(s.Feed(&b, 1));
    WireFrame f;
    while (s.Next(&f)) {
      types.push_back(f.type);
      if (f.type == kWireMessage) {
        int64_t v[3];
        ASSERT_TRUE(ParseMessage(f.payload, f.length, v));
        EXPECT_EQ(v[0], 1);
        EXPECT_EQ(v[1], -2);
        EXPECT_EQ(v[2], 3);
      } else {
        audio.assign(reinterpret_cast<const char*>(f.payload), f.length);
      }
    }
  }
  EXPECT_EQ(types, (std::vector<uint16_t>{kWireMessage, kWireAudioData}));
  EXPECT_EQ(audio, "abcd");
  EXPECT_EQ(s.buffered(), 0u);
}

TEST(WireStream, BreaksOnBadMagicReservedBitsOrOversizedLength) {
  auto frame = EncodeWireFrame(kWireTalkData, "x", 1);
  {
    auto bad = frame;
    bad[0] ^= 0xff;
    WireStream s;
    EXPECT_FALSE(s.Feed(bad.data(), bad.size()));
    WireFrame f;
    EXPECT_FALSE(s.Next(&f));
    EXPECT_TRUE(s.broken());
  }
  {
    auto bad = frame;
    bad[6] = 1;
    WireStream s;
    EXPECT_FALSE(s.Feed(bad.data(), bad.size()));
  }
  {
    // A header announcing 1 GiB is refused as soon as the header is in, not after waiting.
    auto bad = EncodeWireFrame(kWireVideoFrame, nullptr, 0);
    const uint32_t huge = 1u << 30;
    std::memcpy(bad.data() + 8, &huge, 4);
    WireStream s;
    EXPECT_FALSE(s.Feed(bad.data(), bad.size()));
    EXPECT_EQ(s.buffered(), bad.size()) << "nothing was reserved for the announced length";
  }
  {
    WireStream s(16);
    auto big = EncodeWireFrame(kWireAudioData, std::string(17, 'a').data(), 17);
    EXPECT_FALSE(s.Feed(big.data(), big.size()));
  }
}

TEST(WirePayloads, OnlyExactShapesParse) {
  std::string user, password;
  auto login = EncodeLogin("admin", "secret");
  EXPECT_TRUE(ParseLogin(login.data() + kWireHeaderBytes, login.size() - kWireHeaderBytes, &user,
                         &password));
  EXPECT_EQ(user, "admin");
  EXPECT_EQ(password, "secret");
  // One byte short, one byte long, and a length byte pointing past the end.
  EXPECT_FALSE(ParseLogin(login.data() + kWireHeaderBytes, login.size() - kWireHeaderBytes - 1,
                          &user, &password));
  std::vector<uint8_t> longer(login.begin() + kWireHeaderBytes, login.end());
  longer.push_back(0);
  EXPECT_FALSE(ParseLogin(longer.data(), longer.size(), &user, &password));
  const uint8_t lying[] = {200, 'a'};
  EXPECT_FALSE(ParseLogin(lying, sizeof lying, &user, &password));
  int32_t v = 0;
  EXPECT_FALSE(ParseInt32(lying, 2, &v));
  uint16_t request = 0;
  auto reply = EncodeStartReply(kWireStartAudio, -6);
  ASSERT_TRUE(ParseStartReply(reply.data() + kWireHeaderBytes, 6, &request, &v));
  EXPECT_EQ(request, kWireStartAudio);
  EXPECT_EQ(v, -6);
  int64_t m[3];
  EXPECT_FALSE(ParseMessage(reply.data(), 23, m));
}

TEST(VideoFrame, HeaderRoundTripAndBounds) {
  uint8_t frame[40] = {};
  WriteVideoFrameHeader(frame, VideoFrameHeader{2, 0xA1B2C3D4u, 8});
  VideoFrameHeader h;
  ASSERT_TRUE(ParseVideoFrame(frame, 40, &h));
  EXPECT_EQ(h.frameType, 2);
  EXPECT_EQ(h.frameValue, 0xA1B2C3D4u);
  EXPECT_EQ(h.payloadLength, 8u);
  EXPECT_FALSE(ParseVideoFrame(frame, 39, &h)) << "payload runs past the data";
  EXPECT_FALSE(ParseVideoFrame(frame, 10, &h)) << "shorter than the header";
  EXPECT_FALSE(ParseVideoFrame(frame, -1, &h));
  WriteVideoFrameHeader(frame, VideoFrameHeader{0, 1, 0x40000000u});
  EXPECT_FALSE(ParseVideoFrame(frame, 40, &h)) << "1 GiB announced";
}

TEST(TcpSocket, AddressesAreCheckedBeforeUse) {
  std::string host;
  uint16_t port = 0;
  EXPECT_TRUE(SplitHostPort("127.0.0.1:8554", &host, &port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8554);
  for (const char* bad :
       {"", "127.0.0.1", ":80", "host:", "host:0", "host:65536", "host:8x", "host:123456"}) {
    EXPECT_FALSE(SplitHostPort(bad, &host, &port)) << bad;
  }
  EXPECT_EQ(TcpConnect("nonsense", 100), -1);
}

}  // namespace
