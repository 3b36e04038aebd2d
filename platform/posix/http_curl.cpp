// The HTTP client on libcurl: one easy handle per client, so the connection and the TLS
// session stay open from one request to the next.
#include <curl/curl.h>

#include <mutex>
#include <string>

#include "platform/detail.h"
#include "platform/http.h"

namespace plat {
namespace {

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Drops the header callback's lines: only the status code is read, from curl itself.
size_t ignoreHeader(char*, size_t size, size_t count, void*) {
  return size * count;
}

class CurlSlist {
 public:
  ~CurlSlist() { curl_slist_free_all(list_); }
  void add(const std::string& line) {
    curl_slist* next = curl_slist_append(list_, line.c_str());
    if (next == nullptr) throw HttpError("Out of memory building the request headers");
    list_ = next;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

class CurlClient final : public HttpClient {
 public:
  explicit CurlClient(std::string caFile) : caFile_(std::move(caFile)) {
    globalInit();
    handle_ = curl_easy_init();
    if (handle_ == nullptr) throw HttpError("Could not create the HTTP client");
  }
  ~CurlClient() override { curl_easy_cleanup(handle_); }
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  HttpResponse send(const std::string& method, const std::string& url, const HttpHeaders& headers,
                    const std::string& body, long timeoutMs) override {
    detail::checkRequest(method, url);

    CurlSlist headerList;
    for (const auto& [name, value] : headers) headerList.add(name + ": " + value);
    // Bodies go out at once: no "Expect: 100-continue" round trip for long receipts.
    headerList.add("Expect:");

    HttpResponse response;
    // The same handle keeps its connection cache; only per-request options change.
    curl_easy_reset(handle_);
    errorBuffer_[0] = '\0';
    setopt(CURLOPT_ERRORBUFFER, errorBuffer_);
    setopt(CURLOPT_URL, url.c_str());
    setopt(CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(CURLOPT_NOSIGNAL, 1L);
    setopt(CURLOPT_SSL_VERIFYPEER, 1L);
    setopt(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile_.empty()) setopt(CURLOPT_CAINFO, caFile_.c_str());
    setopt(CURLOPT_TIMEOUT_MS, timeoutMs);
    setopt(CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    setopt(CURLOPT_FOLLOWLOCATION, 0L);
    setopt(CURLOPT_HTTPHEADER, headerList.get());
    setopt(CURLOPT_WRITEFUNCTION, &collect);
    setopt(CURLOPT_WRITEDATA, &response.body);
    setopt(CURLOPT_HEADERFUNCTION, &ignoreHeader);
    if (method == "POST") {
      setopt(CURLOPT_POST, 1L);
      setopt(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      setopt(CURLOPT_POSTFIELDS, body.data());
    } else {
      setopt(CURLOPT_HTTPGET, 1L);
    }

    CURLcode rc = curl_easy_perform(handle_);
    if (rc != CURLE_OK) {
      // The error text names the host and the failure, never the request's headers.
      std::string text = errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(rc);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      throw HttpError(text);
    }
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
  }

 private:
  template <typename T>
  void setopt(CURLoption option, T value) {
    CURLcode rc = curl_easy_setopt(handle_, option, value);
    if (rc != CURLE_OK)
      throw HttpError(std::string("HTTP client option: ") + curl_easy_strerror(rc));
  }

  std::string caFile_;
  CURL* handle_ = nullptr;
  // Kept with the handle: curl may write to it until the next reset.
  char errorBuffer_[CURL_ERROR_SIZE] = {0};
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const std::string& caFile) {
  return std::make_unique<CurlClient>(caFile);
}

}  // namespace plat
