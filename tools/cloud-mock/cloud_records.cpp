#include "tools/cloud-mock/cloud_records.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace cloudmock {
namespace {

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
  std::string wanted = lower(name);
  for (const auto& [n, v] : headers) {
    if (lower(n) == wanted) return v;
  }
  return {};
}

Json toJson(const RecordedRequest& r) {
  Json headers = Json::array();
  for (const auto& [n, v] : r.headers) headers.push_back(Json::array({n, v}));
  return Json{{"method", r.method},
              {"path", r.path},
              {"headers", headers},
              {"body", r.body},
              {"remote_port", r.remotePort}};
}

RecordedRequest recordedFromJson(const Json& j) {
  RecordedRequest r;
  r.method = j.at("method").get<std::string>();
  r.path = j.at("path").get<std::string>();
  for (const Json& h : j.at("headers"))
    r.headers.emplace_back(h.at(0).get<std::string>(), h.at(1).get<std::string>());
  r.body = j.at("body").get<std::string>();
  r.remotePort = j.at("remote_port").get<int>();
  return r;
}

Json toJson(const Fault& f) {
  return Json{{"kind", f.kind},
              {"endpoint", f.endpoint},
              {"count", f.count},
              {"delay_ms", f.delayMs},
              {"body", f.body}};
}

Fault faultFromJson(const Json& j) {
  Fault f;
  f.kind = j.at("kind").get<std::string>();
  f.endpoint = j.value("endpoint", std::string("any"));
  f.count = j.value("count", 1);
  f.delayMs = j.value("delay_ms", 5000);
  f.body = j.value("body", std::string());
  static const char* const kinds[] = {"delay", "http500", "notjson", "code_as_text",
                                      "third_member"};
  if (std::find(std::begin(kinds), std::end(kinds), f.kind) == std::end(kinds))
    throw std::invalid_argument("unknown fault " + f.kind);
  return f;
}

}  // namespace cloudmock
