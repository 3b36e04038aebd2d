// The platform's HTTP client (libcurl, WinHTTP) against the cloud stand-in.
#include <gtest/gtest.h>

#include "cloud_stand_in.h"
#include "platform/http.h"

namespace {

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = mock.unavailable(); !why.empty()) GTEST_SKIP() << why;
    mock.start();
    mock.addRequest({{"id", 57}, {"empresa_id", 9}});
  }
  std::string url(const std::string& path) { return mock.rootUrl() + path; }

  std::unique_ptr<cloudtest::CloudStandIn> cloud_ = cloudtest::makeCloudStandIn();
  cloudtest::CloudStandIn& mock = *cloud_;
  std::unique_ptr<plat::HttpClient> client = plat::makeHttpClient();
};

TEST_F(HttpClientTest, SendsHeadersAndBodyUnchanged) {
  std::string body = " {\"id\":57\r\n,\"status\":4\r\n,\"texto_1\":\"a%20b+c\"}\r\n";
  body += std::string(3000, 'x');  // long enough that curl would otherwise ask to continue
  plat::HttpResponse r = client->send(
      "POST", url("/api/retorno"),
      {{"Authorization", "Bearer abc+/= 1"}, {"Content-Type", "application/json"}}, body, 5000);
  EXPECT_EQ(r.status, 400);  // the padding makes the body invalid for the service
  auto rec = mock.recorded();
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0].method, "POST");
  EXPECT_EQ(rec[0].path, "/api/retorno");
  EXPECT_EQ(rec[0].body, body);
  EXPECT_EQ(rec[0].header("Authorization"), "Bearer abc+/= 1");
  EXPECT_EQ(rec[0].header("Content-Type"), "application/json");
  EXPECT_EQ(rec[0].header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(rec[0].header("Expect"), "");
}

TEST_F(HttpClientTest, ErrorStatusIsAnAnswer) {
  mock.addFault({"http500", "any", 1, 0});
  plat::HttpResponse r = client->send("GET", url("/api"), {}, "", 3000);
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, R"({"code":500,"message":"Erro interno"})");
}

TEST_F(HttpClientTest, KeepsOneConnectionAcrossRequests) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(client->send("GET", url("/api"), {}, "", 3000).status, 200);
    EXPECT_EQ(client->send("POST", url("/api/verifica"), {}, "{\"id\":57}", 3000).status, 200);
  }
  auto rec = mock.recorded();
  ASSERT_EQ(rec.size(), 16u);
  for (const auto& r : rec) EXPECT_EQ(r.remotePort, rec[0].remotePort);
}

TEST_F(HttpClientTest, TransportFailuresThrow) {
  // Nothing listens on port 1.
  EXPECT_THROW(client->send("GET", "http://127.0.0.1:1/api", {}, "", 3000), plat::HttpError);
  EXPECT_THROW(client->send("GET", "", {}, "", 3000), plat::HttpError);
  EXPECT_THROW(client->send("GET", "ftp://127.0.0.1/x", {}, "", 3000), plat::HttpError);
  EXPECT_THROW(client->send("PUT", "http://127.0.0.1/x", {}, "", 3000), plat::HttpError);
}

}  // namespace
