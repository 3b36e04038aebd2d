// The stand-in in this process, on a free loopback port of its own for each test.
#include "cloud_stand_in.h"
#include "tools/cloud-mock/cloud_mock.h"

namespace cloudtest {

namespace {

class LocalCloud final : public CloudStandIn {
 public:
  void start() override { mock_.start(); }
  bool started() const override { return mock_.port() > 0; }
  std::string baseUrl() const override { return mock_.baseUrl(); }
  std::string rootUrl() const override {
    return "http://127.0.0.1:" + std::to_string(mock_.port());  // the mock's default host
  }

  int64_t addRequest(const Json& record) override { return mock_.addRequest(record); }
  void setDecision(int64_t id, int decision, int after) override {
    mock_.setDecision(id, decision, after);
  }
  void addFault(const Fault& fault) override { mock_.addFault(fault); }
  void clearFaults() override { mock_.clearFaults(); }
  void reset() override { mock_.reset(); }

  Json requests() const override { return mock_.requests(); }
  std::vector<RecordedRequest> recorded() const override { return mock_.recorded(); }
  std::vector<std::string> bodies(const std::string& endpoint) const override {
    return mock_.bodies(endpoint);
  }

 private:
  cloudmock::CloudMock mock_;
};

}  // namespace

std::unique_ptr<CloudStandIn> makeLocalCloud() {
  return std::make_unique<LocalCloud>();
}

}  // namespace cloudtest
