#include "cloud_stand_in.h"

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "platform/http.h"

namespace cloudtest {

#ifdef TEFSYNC_TEST_LOCAL_CLOUD
std::unique_ptr<CloudStandIn> makeLocalCloud();  // cloud_stand_in_local.cpp
#endif

namespace {

// A cloud-mock program, shared by every test that runs: each test starts by resetting it, so
// the tests that use it must not run at the same time (ctest: one resource lock).
class RemoteCloud final : public CloudStandIn {
 public:
  explicit RemoteCloud(std::string root) : root_(std::move(root)) {
    while (!root_.empty() && root_.back() == '/') root_.pop_back();
    reset();
  }
  ~RemoteCloud() override {
    try {
      reset();  // leaves nothing of this test to the next user
    } catch (const std::exception&) {
    }
  }

  void start() override { started_ = true; }
  bool started() const override { return started_; }
  std::string baseUrl() const override { return root_ + "/api/"; }
  std::string rootUrl() const override { return root_; }

  int64_t addRequest(const Json& record) override {
    return admin("add", record).at("id").get<int64_t>();
  }
  void setDecision(int64_t id, int decision, int after) override {
    admin("decision", {{"id", id}, {"decision", decision}, {"after", after}});
  }
  void addFault(const Fault& fault) override { admin("fault", cloudmock::toJson(fault)); }
  void clearFaults() override { admin("clear_faults"); }
  void reset() override { admin("reset"); }

  Json requests() const override { return admin("requests"); }
  std::vector<RecordedRequest> recorded() const override {
    std::vector<RecordedRequest> out;
    for (const Json& r : admin("recorded")) out.push_back(cloudmock::recordedFromJson(r));
    return out;
  }
  std::vector<std::string> bodies(const std::string& endpoint) const override {
    return admin("bodies", {{"endpoint", endpoint}}).get<std::vector<std::string>>();
  }

 private:
  Json admin(const std::string& command, const Json& args = Json::object()) const {
    const std::string url = root_ + "/admin/" + command;
    plat::HttpResponse r;
    try {
      r = http_->send("POST", url, {{"Content-Type", "application/json"}}, args.dump(), 10000);
    } catch (const plat::HttpError& e) {
      throw std::runtime_error(std::string("no cloud stand-in answers at ") + root_ + " (" +
                               kCloudVariable + "): " + e.what());
    }
    if (r.status != 200)
      throw std::runtime_error(url + " answered " + std::to_string(r.status) + ": " + r.body);
    return Json::parse(r.body);
  }

  std::string root_;
  std::unique_ptr<plat::HttpClient> http_ = plat::makeHttpClient();
  bool started_ = false;
};

class NoCloud final : public CloudStandIn {
 public:
  std::string unavailable() const override {
    return std::string(kCloudVariable) +
           " not set: these tests need a running cloud-mock (tools/cloud-mock, a Linux program) "
           "named by its root URL, as scripts/test-windows does";
  }
  void start() override {}  // a service may start without a cloud while it never asks it
  bool started() const override { return false; }
  std::string baseUrl() const override { fail(); }
  std::string rootUrl() const override { fail(); }
  int64_t addRequest(const Json&) override { fail(); }
  void setDecision(int64_t, int, int) override { fail(); }
  void addFault(const Fault&) override { fail(); }
  void clearFaults() override { fail(); }
  void reset() override { fail(); }
  Json requests() const override { fail(); }
  std::vector<RecordedRequest> recorded() const override { fail(); }
  std::vector<std::string> bodies(const std::string&) const override { fail(); }

 private:
  [[noreturn]] void fail() const { throw std::logic_error(unavailable()); }
};

}  // namespace

std::unique_ptr<CloudStandIn> makeCloudStandIn() {
  if (const char* root = std::getenv(kCloudVariable); root && *root)
    return std::make_unique<RemoteCloud>(root);
#ifdef TEFSYNC_TEST_LOCAL_CLOUD
  return makeLocalCloud();
#else
  return std::make_unique<NoCloud>();
#endif
}

}  // namespace cloudtest
