// A stand-in for the cloud point-of-sale service: the status query, the three reports,
// an admin interface, fault injection and a record of every request received.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/cloud-mock/cloud_records.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace cloudmock {

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;          // 0: any free port
  std::string certFile;  // both set: HTTPS
  std::string keyFile;
  std::string token;          // non-empty: requests without "Bearer <token>" get 401
  std::string base = "/api";  // path of the status query; reports below it
};

class CloudMock {
 public:
  explicit CloudMock(Options options = {});
  ~CloudMock();
  CloudMock(const CloudMock&) = delete;
  CloudMock& operator=(const CloudMock&) = delete;

  // Binds and serves on a thread of its own; returns the port. Throws when it cannot bind.
  int start();
  void stop();
  int port() const { return port_; }
  // Base URL of the service, e.g. "http://127.0.0.1:4711/api/".
  std::string baseUrl() const;

  // Adds a payment request (members in the order given; "id" and "status" filled in when
  // missing). Returns its id.
  int64_t addRequest(Json record);
  // Decision for a request: 6, 7, or 0 for none yet, given once the request is at 5. `after`
  // decision queries at 5 are answered "no decision" first.
  void setDecision(int64_t id, int decision, int after = 0);
  void addFault(const Fault& fault);
  void clearFaults();
  void reset();

  // Snapshot of the stored requests (with their status and texts).
  Json requests() const;
  std::vector<RecordedRequest> recorded() const;
  // The bodies of the reports received on one endpoint ("status", "retorno", "verifica").
  std::vector<std::string> bodies(const std::string& endpoint) const;

  // Handles the admin interface's JSON commands; also used by the HTTP routes.
  Json admin(const std::string& command, const Json& args);

 private:
  struct Stored {
    Json record;
    int decision = 0;
    int decisionAfter = 0;
    Json texts = Json::object();
  };

  void handle(const httplib::Request& req, httplib::Response& res);
  void handleAdmin(const httplib::Request& req, httplib::Response& res);
  // The endpoint named by a path below the base, or empty when it is not one.
  std::string endpointOf(const std::string& method, const std::string& path) const;
  bool takeFault(const std::string& endpoint, Fault& out);
  Json answer(const std::string& endpoint, const std::string& body, int& httpStatus);
  Stored* find(int64_t id);

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;

  mutable std::mutex mutex_;
  std::vector<Stored> stored_;
  std::vector<Fault> faults_;
  std::vector<RecordedRequest> recorded_;
  int64_t nextId_ = 1;
};

}  // namespace cloudmock
