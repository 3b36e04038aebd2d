// What the service tests ask of the cloud stand-in: requests to offer, decisions and faults
// to give, what it received, and where it serves. In this process where its HTTP library
// exists (Linux); else a running Linux cloud-mock driven through its admin routes with the
// program's own HTTP client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/cloud-mock/cloud_records.h"

namespace cloudtest {

using cloudmock::Fault;
using cloudmock::Json;
using cloudmock::RecordedRequest;

class CloudStandIn {
 public:
  virtual ~CloudStandIn() = default;

  // Empty when the stand-in is there; else why it is not (the tests that need it skip).
  virtual std::string unavailable() const { return {}; }

  // Serves from now on; nothing when it already does.
  virtual void start() = 0;
  virtual bool started() const = 0;
  // Base URL of the service, e.g. "http://127.0.0.1:4711/api/".
  virtual std::string baseUrl() const = 0;
  // Where it serves, e.g. "http://127.0.0.1:4711": for kCloudVariable.
  virtual std::string rootUrl() const = 0;

  // A payment request ("id" and "status" filled in when missing); returns its id.
  virtual int64_t addRequest(const Json& record) = 0;
  // Decision for a request: 6, 7, or 0 for none yet, after `after` "no decision" answers.
  virtual void setDecision(int64_t id, int decision, int after = 0) = 0;
  virtual void addFault(const Fault& fault) = 0;
  virtual void clearFaults() = 0;
  // No requests, faults or records: the state every test starts from.
  virtual void reset() = 0;

  // The stored requests with their status, decision and texts.
  virtual Json requests() const = 0;
  virtual std::vector<RecordedRequest> recorded() const = 0;
  // The bodies received on one endpoint ("status", "retorno", "verifica").
  virtual std::vector<std::string> bodies(const std::string& endpoint) const = 0;
};

// Names a running cloud-mock by its root URL, e.g. "http://127.0.0.1:4711" (its status query
// on /api). Where no stand-in can run in this process, the tests that need one skip without it.
inline const char* const kCloudVariable = "TEFSYNC_TEST_CLOUD";

// The stand-in named by kCloudVariable when set, else one in this process where there can be
// one, else one that only says why there is none. The named one is reset on creation.
std::unique_ptr<CloudStandIn> makeCloudStandIn();

}  // namespace cloudtest
