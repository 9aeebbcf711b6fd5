// Reading the replies of the three cloud requests, including the queue's own failure texts.
#include <gtest/gtest.h>

#include "alarm/cloud/cloud_reply.h"
#include "alarm/cloud/http_request.h"

using namespace rovik::alarm;

namespace {

TEST(CloudReply, ErrnoOfServerRepliesAndFailureTexts) {
  EXPECT_EQ(HttpReplyErrno(kHttpReplyException), 1);
  EXPECT_EQ(HttpReplyErrno(HttpStatusReply(500)), 1);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":0}"), 0);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":17,\"msg\":\"bad password\"}"), 17);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":-3}"), -3);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":2.0}"), 2);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":true}"), 1);
  EXPECT_EQ(HttpReplyErrno("{\"errno\":18446744073709551615}"), 1);
  // Missing, of another type, or no object at all: 0.
  for (const char* zero : {"", "{}", "[1]", "3", "not json", "{\"errno\":\"1\"}",
                           "{\"errno\":null}", "{\"errno\":[1]}", "{\"errno\":1"}) {
    EXPECT_EQ(HttpReplyErrno(zero), 0) << zero;
  }
}

TEST(CloudReply, BrokerAddress) {
  EXPECT_EQ(BrokerAddressFromReply("{\"c\":\"tcp://10.0.0.5:1883\"}", false),
            "tcp://10.0.0.5:1883");
  EXPECT_EQ(BrokerAddressFromReply("{\"c\":\"tcp://h:1\",\"errno\":0}", false), "tcp://h:1");
  EXPECT_EQ(BrokerAddressFromReply("{\"c\":5}", false), "5");
  for (const char* none : {"{}", "{\"c\":null}", "{\"c\":[\"x\"]}", "{\"c\":{}}",
                           "{\"c\":\"tcp://h:1\",\"errno\":1}", kHttpReplyException, "[]", "x"}) {
    EXPECT_FALSE(BrokerAddressFromReply(none, false)) << none;
  }
  // Where TLS is required only a TLS broker is taken.
  EXPECT_EQ(BrokerAddressFromReply("{\"c\":\"SSL://h:8883\"}", true), "SSL://h:8883");
  EXPECT_EQ(BrokerAddressFromReply("{\"c\":\"mqtts://h:8883\"}", true), "mqtts://h:8883");
  for (const char* plain : {"{\"c\":\"tcp://h:1\"}", "{\"c\":\"h:1\"}", "{\"c\":\"ws://h:1\"}"}) {
    EXPECT_FALSE(BrokerAddressFromReply(plain, true)) << plain;
  }
}

TEST(CloudReply, DeviceLoginJoinsThePresentMembers) {
  EXPECT_EQ(DeviceLoginFromReply("{\"c\":\"dev-1\",\"u\":\"user\",\"p\":\"pw\"}"), "dev-1~user~pw");
  EXPECT_EQ(DeviceLoginFromReply("{\"p\":\"pw\",\"u\":\"user\",\"c\":\"dev-1\"}"), "dev-1~user~pw");
  EXPECT_EQ(DeviceLoginFromReply("{\"c\":\"dev-1\",\"p\":\"pw\"}"), "dev-1~pw");
  EXPECT_EQ(DeviceLoginFromReply("{\"u\":\"user\",\"c\":null}"), "user~");
  EXPECT_EQ(DeviceLoginFromReply("{\"x\":1}"), "");
  for (const char* none :
       {"{}", "[]", "[1,2]", "{\"c\":\"a\",\"errno\":2}", kHttpReplyException, "{\"c\":\"a\""}) {
    EXPECT_FALSE(DeviceLoginFromReply(none)) << none;
  }
}

TEST(CloudReply, HeartbeatRefusal) {
  EXPECT_TRUE(HeartbeatRefused("{\"errno\":1,\"error\":\"phone not found\"}"));
  EXPECT_TRUE(HeartbeatRefused(kHttpReplyException));
  EXPECT_TRUE(HeartbeatRefused(HttpStatusReply(404)));
  EXPECT_FALSE(HeartbeatRefused("{\"errno\":0}"));
  EXPECT_FALSE(HeartbeatRefused("{}"));
  EXPECT_FALSE(HeartbeatRefused(""));
  EXPECT_FALSE(HeartbeatRefused("garbage"));
}

TEST(CloudReply, DeepNestingIsRefusedNotACrash) {
  std::string deep(100000, '[');
  EXPECT_EQ(HttpReplyErrno(deep), 0);
  std::string obj;
  for (int i = 0; i < 5000; ++i) obj += "{\"c\":";
  EXPECT_FALSE(BrokerAddressFromReply(obj));
}

}  // namespace
