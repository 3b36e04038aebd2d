// HTTPS: the server's certificate and host name are verified; one handshake serves many
// requests. A test CA and server certificates are made with openssl at test time.
#include <cstdlib>

#include "service_fixture.h"
#include "tools/cloud-mock/cloud_mock.h"

namespace {

class Tls : public ServiceTest {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("tefsync_tls_" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
    const std::string d = dir_.string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    auto run = [](const std::string& cmd) {
      ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd;
    };
    run("openssl req -x509" + ec + "-keyout " + d + "/ca.key -out " + d +
        "/ca.pem -days 2 -subj /CN=tefsync-test-ca"
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
    for (const std::string name : {"loopback", "elsewhere"}) {
      const std::string san =
          name == "loopback" ? "IP:127.0.0.1,DNS:localhost" : "DNS:cloud.elsewhere.example";
      std::ofstream(d + "/" + name + ".ext")
          << "subjectAltName=" << san
          << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
      run("openssl req" + ec + "-keyout " + d + "/" + name + ".key -out " + d + "/" + name +
          ".csr -subj /CN=" + name);
      run("openssl x509 -req -in " + d + "/" + name + ".csr -CA " + d + "/ca.pem -CAkey " + d +
          "/ca.key -CAcreateserial -days 2 -out " + d + "/" + name + ".pem -extfile " + d + "/" +
          name + ".ext");
    }
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static std::string file(const std::string& name) { return (dir_ / name).string(); }

  void startHttps(const std::string& cert, const std::string& caFile) {
    cloudmock::Options o;
    o.certFile = file(cert + ".pem");
    o.keyFile = file(cert + ".key");
    https = std::make_unique<cloudmock::CloudMock>(o);
    https->start();
    https->addRequest({{"id", 57}, {"empresa_id", 9}, {"status", 1}});
    Settings s;
    s.url = https->baseUrl();
    mock.start();  // unused; keeps the fixture's settings path
    start(s, caFile);
  }
  ~Tls() override {
    svc.reset();
    if (https) https->stop();
  }

  std::unique_ptr<cloudmock::CloudMock> https;
  static fs::path dir_;
};

fs::path Tls::dir_;

TEST_F(Tls, TrustedCertificateWorksOverOneConnection) {
  startHttps("loopback", file("ca.pem"));
  ASSERT_EQ(https->baseUrl().rfind("https://127.0.0.1:", 0), 0u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(svc->get_Status());
    svc->Gravar_status_API("1");
  }
  auto rec = https->recorded();
  ASSERT_EQ(rec.size(), 8u);
  for (const auto& r : rec) EXPECT_EQ(r.remotePort, rec[0].remotePort);
  for (const auto& [op, msg] : log()) EXPECT_NE(op, "Get status erro 2") << msg;
}

TEST_F(Tls, UntrustedCertificateIsRefused) {
  startHttps("loopback", "");
  EXPECT_FALSE(svc->get_Status());
  ASSERT_EQ(log().size(), 1u);
  EXPECT_EQ(log()[0].first, "Get status erro 2");
  EXPECT_NE(log()[0].second.find("certificate"), std::string::npos) << log()[0].second;
  EXPECT_TRUE(https->recorded().empty());
}

TEST_F(Tls, CertificateForAnotherHostIsRefused) {
  startHttps("elsewhere", file("ca.pem"));
  EXPECT_FALSE(svc->get_Status());
  ASSERT_EQ(log().size(), 1u);
  EXPECT_EQ(log()[0].first, "Get status erro 2");
  EXPECT_TRUE(https->recorded().empty());
}

}  // namespace
