// The WinHTTP client against the Linux cloud stand-in on loopback. The stand-ins are started
// by tests/e2e/wine_test.sh, which names them in TEFSYNC_TEST_HTTP (plain),
// TEFSYNC_TEST_HTTPS (https://localhost:N, certificate for localhost and 127.0.0.1 from the CA
// put in the Wine store), TEFSYNC_TEST_HTTPS_OTHER_HOST (same CA, certificate for another
// host) and TEFSYNC_TEST_HTTPS_UNTRUSTED (certificate from a CA the store does not know).
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/http.h"
#include "platform/win32/http_winhttp.h"

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
    EXPECT_NE(std::string(e.what()).find("timed out after 1000 milliseconds"), std::string::npos)
        << e.what();
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
  const plat::HttpHeaders auth = {{"Authorization", "Bearer SEGREDO-TLS"}};
  auto client = plat::makeHttpClient();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(client->send("GET", good + "/api", auth, "", 5000).status, 200);
  for (const char* refused : {"TEFSYNC_TEST_HTTPS_OTHER_HOST", "TEFSYNC_TEST_HTTPS_UNTRUSTED"}) {
    const std::string url = envOr(refused);
    ASSERT_FALSE(url.empty()) << refused;
    try {
      client->send("GET", url + "/api", auth, "", 5000);
      ADD_FAILURE() << refused << ": the certificate was accepted";
    } catch (const plat::HttpError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind("SSL", 0), 0u) << refused << ": " << text;
      EXPECT_NE(text.find("certificate"), std::string::npos) << refused << ": " << text;
      EXPECT_EQ(text.find("SEGREDO"), std::string::npos) << refused << ": " << text;
    }
  }
  // The refusals leave the client able to reach the trusted service.
  EXPECT_EQ(client->send("GET", good + "/api", auth, "", 5000).status, 200);
}

// WinHTTP says why it refused a certificate by its error or by the status callback's flags
// (Wine gives neither: only the secure channel error); each comes out in the Linux client's words.
TEST(WinHttpFailureText, NamesTheReasonAndTheHost) {
  // The numbers Windows gives (winhttp.h, winsock2.h), written out: the test stays free of
  // the system's headers, and a changed value in the client's own table would show here.
  enum : unsigned long {
    ERROR_WINHTTP_TIMEOUT = 12002,
    ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007,
    ERROR_WINHTTP_SECURE_CERT_CN_INVALID = 12038,
    ERROR_WINHTTP_SECURE_INVALID_CA = 12045,
    ERROR_WINHTTP_SECURE_CHANNEL_ERROR = 12157,
    ERROR_WINHTTP_SECURE_CERT_REVOKED = 12170,
    ERROR_WINHTTP_SECURE_FAILURE = 12175,
    WSAETIMEDOUT = 10060,
    WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA = 0x08,
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID = 0x10,
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID = 0x20,
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE = 0x40,
  };
  struct Case {
    unsigned long err;
    unsigned long flags;
    const char* text;
  };
  const Case cases[] = {
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA,
       "SSL certificate problem: unable to get local issuer certificate (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_INVALID_CA, 0,
       "SSL certificate problem: unable to get local issuer certificate (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID,
       "SSL: no alternative certificate subject name matches target host name 'nuvem.example'"},
      {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, 0,
       "SSL: no alternative certificate subject name matches target host name 'nuvem.example'"},
      // An unknown CA is named before the other faults of the same certificate.
      {ERROR_WINHTTP_SECURE_FAILURE,
       WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
           WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
       "SSL certificate problem: unable to get local issuer certificate (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
       "SSL certificate problem: certificate has expired (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_CERT_REVOKED, 0,
       "SSL certificate problem: certificate revoked (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE,
       "SSL certificate problem: unsupported certificate purpose (nuvem.example port 443)"},
      {ERROR_WINHTTP_SECURE_FAILURE, 0,
       "SSL certificate problem with nuvem.example port 443 (WinHTTP error 12175)"},
      {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, 0,
       "SSL connect error with nuvem.example port 443: the handshake failed or the certificate "
       "was refused (WinHTTP error 12157)"},
      {ERROR_WINHTTP_TIMEOUT, 0,
       "Operation timed out after 2500 milliseconds (nuvem.example port 443)"},
      {WSAETIMEDOUT, 0, "Operation timed out after 2500 milliseconds (nuvem.example port 443)"},
      {ERROR_WINHTTP_NAME_NOT_RESOLVED, 0, "Could not resolve host: nuvem.example"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plat::win::describeHttpFailure(c.err, c.flags, "nuvem.example", 443, 2500), c.text)
        << c.err << " " << c.flags;
}

}  // namespace
