#include "tools/cloud-mock/cloud_mock.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace cloudmock {
namespace {

const char* const kJson = "application/json";

// Paths as the service would route them: repeated slashes count as one.
std::string collapseSlashes(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

int64_t idOf(const Json& j) {
  auto it = j.find("id");
  if (it == j.end()) throw std::invalid_argument("missing id");
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_string()) return std::stoll(it->get<std::string>());
  throw std::invalid_argument("bad id");
}

int statusOf(const Json& j) {
  auto it = j.find("status");
  if (it == j.end()) throw std::invalid_argument("missing status");
  if (it->is_number_integer()) return it->get<int>();
  if (it->is_string()) return std::stoi(it->get<std::string>());
  throw std::invalid_argument("bad status");
}

}  // namespace

CloudMock::CloudMock(Options options) : options_(std::move(options)) {
  if (options_.base.empty() || options_.base.front() != '/') options_.base = "/" + options_.base;
  options_.base = collapseSlashes(options_.base);
}

CloudMock::~CloudMock() {
  stop();
}

int CloudMock::start() {
  if (server_) return port_;
  if (!options_.certFile.empty() || !options_.keyFile.empty()) {
    auto ssl =
        std::make_unique<httplib::SSLServer>(options_.certFile.c_str(), options_.keyFile.c_str());
    if (!ssl->is_valid()) throw std::runtime_error("cloud-mock: cannot load certificate or key");
    server_ = std::move(ssl);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  server_->set_keep_alive_max_count(100000);
  server_->set_keep_alive_timeout(300);
  server_->set_tcp_nodelay(true);
  auto route = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
  server_->Get(".*", route);
  server_->Post(".*", route);

  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else {
    port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    server_.reset();
    throw std::runtime_error("cloud-mock: cannot bind " + options_.host + ":" +
                             std::to_string(options_.port));
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only works on a running server, so do not hand out the port before it runs.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port_;
}

void CloudMock::stop() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

std::string CloudMock::baseUrl() const {
  std::string scheme = options_.certFile.empty() ? "http" : "https";
  return scheme + "://" + options_.host + ":" + std::to_string(port_) + options_.base + "/";
}

int64_t CloudMock::addRequest(Json record) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!record.is_object()) throw std::invalid_argument("a request is a JSON object");
  Json full = Json::object();
  if (!record.contains("id")) full["id"] = nextId_;
  for (auto& [key, value] : record.items()) full[key] = value;
  if (!full.contains("status")) full["status"] = 1;
  int64_t id = full["id"].is_number_integer() ? full["id"].get<int64_t>() : nextId_;
  nextId_ = std::max(nextId_, id + 1);
  stored_.push_back(Stored{full, 0, 0, Json::object()});
  return id;
}

void CloudMock::setDecision(int64_t id, int decision, int after) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stored* s = find(id);
  if (s == nullptr) throw std::invalid_argument("no request " + std::to_string(id));
  s->decision = decision;
  s->decisionAfter = after;
}

void CloudMock::addFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(fault);
}

void CloudMock::clearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

void CloudMock::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  stored_.clear();
  faults_.clear();
  recorded_.clear();
  nextId_ = 1;
}

Json CloudMock::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Json out = Json::array();
  for (const Stored& s : stored_) {
    Json r = s.record;
    r["decision"] = s.decision;
    r["texts"] = s.texts;
    out.push_back(r);
  }
  return out;
}

std::vector<RecordedRequest> CloudMock::recorded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return recorded_;
}

std::vector<std::string> CloudMock::bodies(const std::string& endpoint) const {
  std::vector<std::string> out;
  for (const RecordedRequest& r : recorded()) {
    if (endpointOf(r.method, r.path) == endpoint) out.push_back(r.body);
  }
  return out;
}

CloudMock::Stored* CloudMock::find(int64_t id) {
  for (Stored& s : stored_) {
    if (s.record.contains("id") && s.record["id"].is_number_integer() &&
        s.record["id"].get<int64_t>() == id)
      return &s;
  }
  return nullptr;
}

std::string CloudMock::endpointOf(const std::string& method, const std::string& path) const {
  std::string p = collapseSlashes(path);
  if (method == "GET" && p == options_.base) return "get";
  if (method != "POST") return {};
  for (const char* name : {"status", "retorno", "verifica"}) {
    if (p == options_.base + "/" + name) return name;
  }
  return {};
}

bool CloudMock::takeFault(const std::string& endpoint, Fault& out) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->endpoint != "any" && it->endpoint != endpoint) continue;
    // Decision-only faults wait for a decision query.
    if (it->kind == "third_member" && endpoint != "verifica") continue;
    out = *it;
    if (it->count > 0 && --it->count == 0) faults_.erase(it);
    return true;
  }
  return false;
}

Json CloudMock::answer(const std::string& endpoint, const std::string& body, int& httpStatus) {
  httpStatus = 200;
  if (endpoint == "get") {
    Json list = Json::array();
    for (const Stored& s : stored_) list.push_back(s.record);
    Json out = Json::object();
    out["code"] = 200;
    out["data"] = list;
    return out;
  }
  Json in = Json::parse(body, nullptr, false);
  if (in.is_discarded() || !in.is_object()) {
    httpStatus = 400;
    return Json{{"code", 400}, {"message", "corpo invalido"}};
  }
  Stored* s = nullptr;
  try {
    s = find(idOf(in));
  } catch (const std::exception&) {
    httpStatus = 400;
    return Json{{"code", 400}, {"message", "id invalido"}};
  }
  if (s == nullptr) {
    httpStatus = 404;
    return Json{{"code", 404}, {"message", "requisicao nao encontrada"}};
  }
  if (endpoint == "verifica") {
    // The cloud decides only on a sale it was told was carried out.
    if (s->decision != 0 && s->record["status"] == 5) {
      if (s->decisionAfter > 0) {
        --s->decisionAfter;
      } else {
        s->record["status"] = s->decision;
      }
    }
    Json out = Json::object();
    out["code"] = 200;
    out["status"] = s->record["status"];
    return out;
  }
  try {
    s->record["status"] = statusOf(in);
  } catch (const std::exception&) {
    httpStatus = 400;
    return Json{{"code", 400}, {"message", "status invalido"}};
  }
  if (endpoint == "retorno") {
    for (const char* key : {"texto_1", "texto_2", "texto_3"}) {
      if (in.contains(key)) s->texts[key] = in[key];
    }
  }
  return Json{{"code", 200}, {"message", "ok"}};
}

void CloudMock::handle(const httplib::Request& req, httplib::Response& res) {
  if (req.path.rfind("/admin/", 0) == 0) {
    handleAdmin(req, res);
    return;
  }
  RecordedRequest rec;
  rec.method = req.method;
  rec.path = req.path;
  for (const auto& [name, value] : req.headers) {
    // Bookkeeping headers httplib adds itself are not part of what was sent.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT")
      continue;
    rec.headers.emplace_back(name, value);
  }
  rec.body = req.body;
  rec.remotePort = req.remote_port;

  std::string endpoint = endpointOf(req.method, req.path);
  Fault fault;
  bool faulty = false;
  Json out;
  int status = 200;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recorded_.push_back(rec);
    if (endpoint.empty()) {
      res.status = 404;
      res.set_content(R"({"code":404,"message":"rota desconhecida"})", kJson);
      return;
    }
    if (!options_.token.empty() &&
        req.get_header_value("Authorization") != "Bearer " + options_.token) {
      res.status = 401;
      res.set_content(R"({"code":401,"message":"nao autorizado"})", kJson);
      return;
    }
    faulty = takeFault(endpoint, fault);
    if (!faulty || fault.kind == "delay" || fault.kind == "code_as_text" ||
        fault.kind == "third_member")
      out = answer(endpoint, req.body, status);
  }
  if (faulty && fault.kind == "delay") {
    std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
  } else if (faulty && fault.kind == "http500") {
    res.status = 500;
    res.set_content(fault.body.empty() ? R"({"code":500,"message":"Erro interno"})" : fault.body,
                    kJson);
    return;
  } else if (faulty && fault.kind == "notjson") {
    res.status = 200;
    res.set_content(fault.body.empty() ? "<html><body>Bad Gateway</body></html>" : fault.body,
                    "text/html");
    return;
  } else if (faulty && fault.kind == "code_as_text" && out.contains("code")) {
    out["code"] = std::to_string(out["code"].get<int>());
  } else if (faulty && fault.kind == "third_member") {
    out["message"] = "ok";
  }
  res.status = status;
  res.set_content(dump(out), kJson);
}

Json CloudMock::admin(const std::string& command, const Json& args) {
  if (command == "add") return Json{{"id", addRequest(args)}};
  if (command == "decision") {
    setDecision(args.at("id").get<int64_t>(), args.at("decision").get<int>(),
                args.value("after", 0));
    return Json{{"ok", true}};
  }
  if (command == "fault") {
    addFault(faultFromJson(args));
    return Json{{"ok", true}};
  }
  if (command == "clear_faults") {
    clearFaults();
    return Json{{"ok", true}};
  }
  if (command == "reset") {
    reset();
    return Json{{"ok", true}};
  }
  if (command == "requests") return requests();
  if (command == "recorded") {
    Json out = Json::array();
    for (const RecordedRequest& r : recorded()) out.push_back(toJson(r));
    return out;
  }
  if (command == "bodies") {
    Json out = Json::array();
    for (const std::string& b : bodies(args.at("endpoint").get<std::string>())) out.push_back(b);
    return out;
  }
  throw std::invalid_argument("unknown admin command " + command);
}

void CloudMock::handleAdmin(const httplib::Request& req, httplib::Response& res) {
  std::string command = req.path.substr(std::string("/admin/").size());
  try {
    Json args = req.body.empty() ? Json::object() : Json::parse(req.body);
    res.set_content(dump(admin(command, args)), kJson);
  } catch (const std::exception& e) {
    res.status = 400;
    res.set_content(dump(Json{{"error", e.what()}}), kJson);
  }
}

}  // namespace cloudmock
