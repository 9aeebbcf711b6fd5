// Splitting request URLs: ports, defaults and what is refused before anything is sent.
#include <gtest/gtest.h>

#include "alarm/cloud/http_request.h"
#include "alarm/cloud/http_url.h"

using namespace rovik::alarm;

namespace {

TEST(SplitHttpUrl, ExplicitPortAndDefaultPorts) {
  auto p = SplitHttpUrl("http://push.example:9999");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->scheme, "http");
  EXPECT_EQ(p->host, "push.example");
  EXPECT_EQ(p->port, 9999);
  EXPECT_EQ(p->path, "/");

  p = SplitHttpUrl("http://host/api/client/ipc/windows_heart");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->port, 80);
  EXPECT_EQ(p->path, "/api/client/ipc/windows_heart");

  p = SplitHttpUrl("HTTPS://Host:8383/device/reg/?x=1");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->scheme, "https");
  EXPECT_EQ(p->port, 8383);
  EXPECT_EQ(p->path, "/device/reg/?x=1");
  EXPECT_EQ(SplitHttpUrl("https://h")->port, 443);
  EXPECT_EQ(SplitHttpUrl("http://h?q")->path, "/?q");
}

TEST(SplitHttpUrl, Ipv6Host) {
  auto p = SplitHttpUrl("http://[::1]:8080/x");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->host, "::1");
  EXPECT_EQ(p->port, 8080);
}

TEST(SplitHttpUrl, RefusesWhatIsNoUsableUrl) {
  for (const char* bad :
       {"", "host:80/x", "://host", "http:///api/client/ipc/windows_heart", "http://:8000/x",
        "http://host:0/", "http://host:65536/", "http://host:80x/", "http://host:123456/",
        "http://user:pw@host/", "http://ho st/", "http://host/a b", "http://host/a\r\nX: y",
        "ftp://host/", "http://[::1/x"}) {
    EXPECT_FALSE(SplitHttpUrl(bad)) << bad;
  }
}

TEST(HttpRequestForm, FieldsAppendUnescapedAndKeepTheLength) {
  HttpRequest r;
  EXPECT_EQ(r.bodyLength, 0);
  EXPECT_EQ(r.isJson, 0);
  EXPECT_EQ(r.events, nullptr);
  AddFormField(r, "phone", "138 00&=x");
  AddLastFormField(r, "phone_list", "a,b");
  EXPECT_EQ(r.body, "phone=138 00&=x&phone_list=a,b");
  EXPECT_EQ(r.bodyLength, static_cast<int>(r.body.size()));
  EXPECT_EQ(HttpStatusReply(404), "{\"errno\":1,\"error\":\"404\"}");
}

TEST(HttpUrl, PlainHttpToAnotherMachineIsTheOnlyPlaceForNoSecrets) {
  for (const char* clear :
       {"http://cloud.rovik.example/x", "http://10.0.0.5:8000", "http://127.0.0.1.example/",
        "http://[2001:db8::1]:80/", "HTTP://198.51.100.1"}) {
    EXPECT_TRUE(PlainHttpToAnotherMachine(clear)) << clear;
  }
  for (const char* kept :
       {"https://cloud.rovik.example/x", "http://127.0.0.1:8000/", "http://127.8.9.10/",
        "http://LocalHost:1", "http://[::1]:80/", "/api/client/ipc/windows_heart"}) {
    EXPECT_FALSE(PlainHttpToAnotherMachine(kept)) << kept;
  }
}

}  // namespace
