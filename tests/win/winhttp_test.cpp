// The WinHTTP client against the Linux cloud stand-in on loopback. The stand-ins are started
// by tests/e2e/wine_test.sh, which names them in TEFSYNC_TEST_HTTP (plain),
// TEFSYNC_TEST_HTTPS (certificate for 127.0.0.1 from the CA put in the Wine store),
// TEFSYNC_TEST_HTTPS_OTHER_HOST (same CA, certificate for another host) and
// TEFSYNC_TEST_HTTPS_UNTRUSTED (certificate from a CA the store does not know).
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/http.h"

namespace {

using Json = nlohmann::json;

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class WinHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    base = envOr("TEFSYNC_TEST_HTTP");
    if (base.empty()) GTEST_SKIP() << "TEFSYNC_TEST_HTTP not set: run by tests/e2e/wine_test.sh";
    admin("reset", Json::object());
    admin("add", {{"id", 57}, {"empresa_id", 9}});
  }
  // An admin command of the stand-in, through a client of its own.
  Json admin(const std::string& command, const Json& args) {
    auto c = plat::makeHttpClient();
    const auto r = c->send("POST", base + "/admin/" + command, {}, args.dump(), 5000);
    EXPECT_EQ(r.status, 200) << r.body;
    return Json::parse(r.body);
  }
  Json recorded() { return admin("recorded", Json::object()); }
  static std::string header(const Json& rec, const std::string& name) {
    for (const auto& h : rec["headers"])
      if (h[0].get<std::string>() == name) return h[1].get<std::string>();
    return {};
  }

  std::string base;
  std::unique_ptr<plat::HttpClient> client = plat::makeHttpClient();
};

TEST_F(WinHttp, SendsHeadersAndBodyUnchanged) {
  std::string body = " {\"id\":57\r\n,\"status\":4\r\n,\"texto_1\":\"a%20b+c ação\"}\r\n";
  body += std::string(3000, 'x');
  const auto r = client->send(
      "POST", base + "/api/retorno",
      {{"Authorization", "Bearer abc+/= 1"}, {"Content-Type", "application/json"}}, body, 5000);
  EXPECT_EQ(r.status, 400);  // the padding makes the body invalid for the service
  const Json rec = recorded();
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0]["method"], "POST");
  EXPECT_EQ(rec[0]["path"], "/api/retorno");
  EXPECT_EQ(rec[0]["body"], body);
  EXPECT_EQ(header(rec[0], "Authorization"), "Bearer abc+/= 1");
  EXPECT_EQ(header(rec[0], "Content-Type"), "application/json");
  EXPECT_EQ(header(rec[0], "Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(header(rec[0], "Expect"), "");
}

TEST_F(WinHttp, ErrorStatusIsAnAnswerAndRedirectsAreNotFollowed) {
  admin("fault", {{"kind", "http500"}, {"endpoint", "any"}, {"count", 1}});
  auto r = client->send("GET", base + "/api", {}, "", 3000);
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, R"({"code":500,"message":"Erro interno"})");
  r = client->send("GET", base + "/api", {}, "", 3000);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(Json::parse(r.body)["code"], 200) << r.body;
}

TEST_F(WinHttp, KeepsOneConnectionAcrossRequests) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(client->send("GET", base + "/api", {}, "", 3000).status, 200);
    EXPECT_EQ(client->send("POST", base + "/api/verifica", {}, "{\"id\":57}", 3000).status, 200);
  }
  const Json rec = recorded();
  ASSERT_EQ(rec.size(), 16u);
  for (const auto& r : rec) EXPECT_EQ(r["remote_port"], rec[0]["remote_port"]);
}

TEST_F(WinHttp, TimeOutAndTransportFailuresThrowWithoutTheToken) {
  admin("fault", {{"kind", "delay"}, {"endpoint", "any"}, {"count", 1}, {"delay_ms", 3000}});
  const plat::HttpHeaders auth = {{"Authorization", "Bearer SEGREDO"}};
  try {
    client->send("GET", base + "/api", auth, "", 1000);
    FAIL() << "no time-out";
  } catch (const plat::HttpError& e) {
    EXPECT_EQ(std::string(e.what()).find("SEGREDO"), std::string::npos) << e.what();
  }
  // Port 1 on loopback: nothing listens there.
  try {
    client->send("GET", "http://127.0.0.1:1/api", auth, "", 3000);
    FAIL() << "no error";
  } catch (const plat::HttpError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find("SEGREDO"), std::string::npos) << e.what();
  }
  EXPECT_THROW(client->send("GET", "", {}, "", 3000), plat::HttpError);
  EXPECT_THROW(client->send("GET", "ftp://127.0.0.1/x", {}, "", 3000), plat::HttpError);
  EXPECT_THROW(client->send("PUT", base + "/api", {}, "", 3000), plat::HttpError);
  // The same client goes on working after its failures.
  EXPECT_EQ(client->send("GET", base + "/api", {}, "", 3000).status, 200);
}

TEST(WinHttps, TrustsTheStoreAndVerifiesTheHost) {
  const std::string good = envOr("TEFSYNC_TEST_HTTPS");
  if (good.empty()) GTEST_SKIP() << "TEFSYNC_TEST_HTTPS not set: run by tests/e2e/wine_test.sh";
  auto client = plat::makeHttpClient();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(client->send("GET", good + "/api", {}, "", 5000).status, 200);
  for (const char* refused : {"TEFSYNC_TEST_HTTPS_OTHER_HOST", "TEFSYNC_TEST_HTTPS_UNTRUSTED"}) {
    const std::string url = envOr(refused);
    ASSERT_FALSE(url.empty()) << refused;
    EXPECT_THROW(client->send("GET", url + "/api", {}, "", 5000), plat::HttpError) << refused;
  }
  // The refusals leave the client able to reach the trusted service.
  EXPECT_EQ(client->send("GET", good + "/api", {}, "", 5000).status, 200);
}

}  // namespace
