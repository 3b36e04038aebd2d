// What the cloud stand-in records and the faults it injects, and their JSON form on its admin
// routes. Built on both systems: tests on Windows drive a Linux cloud-mock through them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace cloudmock {

using Json = nlohmann::ordered_json;

struct RecordedRequest {
  std::string method;
  std::string path;  // as received, before any normalising
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int remotePort = -1;

  // First value of a header, names without regard to case; empty when absent.
  std::string header(const std::string& name) const;
};

// One fault, applied to the next `count` matching requests (-1: until cleared).
struct Fault {
  Fault(std::string kind_ = {}, std::string endpoint_ = "any", int count_ = 1, int delayMs_ = 5000,
        std::string body_ = {})
      : kind(std::move(kind_)),
        endpoint(std::move(endpoint_)),
        count(count_),
        delayMs(delayMs_),
        body(std::move(body_)) {}

  std::string kind;      // "delay", "http500", "notjson", "code_as_text", "third_member"
  std::string endpoint;  // "get", "status", "retorno", "verifica" or "any"
  int count;
  int delayMs;
  std::string body;  // "http500" and "notjson": this body instead of the usual one
};

// The admin routes' JSON. Reading throws std::invalid_argument (or nlohmann's errors) on
// anything else, an unknown fault kind included.
Json toJson(const RecordedRequest& r);
RecordedRequest recordedFromJson(const Json& j);
Json toJson(const Fault& f);
Fault faultFromJson(const Json& j);

}  // namespace cloudmock
