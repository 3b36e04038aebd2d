// Synchronous HTTP(S) client on the calling thread. One client keeps its connection
// open from request to request.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// Transport failure: unreachable host, time-out, TLS refusal. An HTTP error status is
// not one of these: it is an answer.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpResponse {
  long status = 0;
  std::string body;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // method "GET" or "POST"; body sent unchanged.
  virtual HttpResponse send(const std::string& method, const std::string& url,
                            const HttpHeaders& headers, const std::string& body,
                            long timeoutMs) = 0;
};

// The platform's client (libcurl here). caFile: extra trusted CA bundle, empty for the
// system's store.
std::unique_ptr<HttpClient> makeHttpClient(const std::string& caFile = {});

}  // namespace plat
