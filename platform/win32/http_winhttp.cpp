// The HTTP client on WinHTTP: the system's certificate store and proxy settings. One
// session and one connection per client, kept from request to request.
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "platform/detail.h"
#include "platform/http.h"
#include "platform/win32/http_winhttp.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

// A WinHTTP handle, closed on every path out.
class Internet {
 public:
  Internet() = default;
  explicit Internet(HINTERNET h) : h_(h) {}
  ~Internet() {
    if (h_) ::WinHttpCloseHandle(h_);
  }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  Internet& operator=(Internet&& other) noexcept {
    if (this != &other) {
      if (h_) ::WinHttpCloseHandle(h_);
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_ = nullptr;
};

struct Target {
  bool https = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring pathAndQuery;
};

Target crack(const std::string& url) {
  const std::wstring w = win::widen(url);
  URL_COMPONENTS uc{};
  uc.dwStructSize = sizeof uc;
  uc.dwSchemeLength = static_cast<DWORD>(-1);
  uc.dwHostNameLength = static_cast<DWORD>(-1);
  uc.dwUrlPathLength = static_cast<DWORD>(-1);
  uc.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(w.c_str(), static_cast<DWORD>(w.size()), 0, &uc))
    throw HttpError("URL rejected: " + url.substr(0, url.find('?')));
  if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)
    throw HttpError("Protocol not supported in " + url.substr(0, url.find(':')));
  Target t;
  t.https = uc.nScheme == INTERNET_SCHEME_HTTPS;
  t.host.assign(uc.lpszHostName, uc.dwHostNameLength);
  t.port = uc.nPort;
  t.pathAndQuery.assign(uc.lpszUrlPath, uc.dwUrlPathLength);
  t.pathAndQuery.append(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  if (t.pathAndQuery.empty()) t.pathAndQuery = L"/";
  return t;
}

// WinHTTP names a refused certificate either by its error or, for a synchronous request, only
// through the status callback's flags: both come to the same flags here.
DWORD certificateFlags(DWORD err) {
  switch (err) {
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED;
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED;
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
      return WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT;
    default:
      return 0;
  }
}

}  // namespace

namespace win {

std::string describeHttpFailure(unsigned long err, unsigned long secureFlags,
                                const std::string& host, unsigned short port, long timeoutMs) {
  const std::string where = host + " port " + std::to_string(port);
  const std::string code = " (WinHTTP error " + std::to_string(err) + ")";
  // A certificate refused for several reasons is named by the first an operator can mend.
  const DWORD flags = secureFlags | certificateFlags(err);
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
    return "SSL certificate problem: unable to get local issuer certificate (" + where + ")";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
    return "SSL: no alternative certificate subject name matches target host name '" + host + "'";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
    return "SSL certificate problem: certificate has expired (" + where + ")";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED)
    return "SSL certificate problem: certificate revoked (" + where + ")";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE)
    return "SSL certificate problem: unsupported certificate purpose (" + where + ")";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT)
    return "SSL certificate problem: invalid certificate (" + where + ")";
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED)
    return "SSL certificate problem: revocation status unknown (" + where + ")";
  switch (err) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // Wine's word for a response that did not come in time
      return "Operation timed out after " + std::to_string(timeoutMs) + " milliseconds (" + where +
             ")";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "Failed to connect to " + where + ": Connection refused";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "Could not resolve host: " + host;
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "Connection to " + where + " was reset";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "SSL certificate problem with " + where + code;
    // Wine reports every refused certificate this way, whatever the reason.
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return "SSL connect error with " + where +
             ": the handshake failed or the certificate was refused" + code;
    default:
      return "HTTP request to " + where + " failed" + code;
  }
}

}  // namespace win

namespace {

// WinHTTP says why it refused a certificate only through the status callback; the request's
// context points at the flags of the send in progress.
void CALLBACK noteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD infoLength) {
  if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || context == 0 || info == nullptr ||
      infoLength < sizeof(DWORD))
    return;
  *reinterpret_cast<DWORD*>(context) |= *static_cast<const DWORD*>(info);
}

class WinHttpClient final : public HttpClient {
 public:
  WinHttpClient() {
    session_ = Internet(::WinHttpOpen(L"tefsync", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) throw HttpError("Could not create the HTTP client");
    ::WinHttpSetStatusCallback(session_.get(), &noteSecureFailure,
                               WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  }

  HttpResponse send(const std::string& method, const std::string& url, const HttpHeaders& headers,
                    const std::string& body, long timeoutMs) override {
    detail::checkRequest(method, url);
    const Target t = crack(url);
    DWORD secureFlags = 0;
    const auto fail = [&]() -> void {
      throw HttpError(win::describeHttpFailure(::GetLastError(), secureFlags, win::narrow(t.host),
                                               t.port, timeoutMs));
    };

    // The connection is kept while the host stays the same; WinHTTP pools its sockets.
    if (!connection_ || t.host != host_ || t.port != port_) {
      connection_ = Internet(::WinHttpConnect(session_.get(), t.host.c_str(), t.port, 0));
      if (!connection_) fail();
      host_ = t.host;
      port_ = t.port;
    }
    Internet request(::WinHttpOpenRequest(
        connection_.get(), win::widen(method).c_str(), t.pathAndQuery.c_str(), nullptr,
        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, t.https ? WINHTTP_FLAG_SECURE : 0));
    if (!request) fail();
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secureFlags);
    if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
      fail();

    const int ms = static_cast<int>(timeoutMs);
    if (!::WinHttpSetTimeouts(request.get(), ms, ms, ms, ms)) fail();
    // Wine does not apply the receive time-out of WinHttpSetTimeouts to the headers.
    DWORD headerTimeout = static_cast<DWORD>(ms);
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeout,
                       sizeof headerTimeout);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
      fail();

    std::wstring headerBlock;
    for (const auto& [name, value] : headers)
      headerBlock += win::widen(name + ": " + value + "\r\n");
    if (!headerBlock.empty() &&
        !::WinHttpAddRequestHeaders(request.get(), headerBlock.c_str(),
                                    static_cast<DWORD>(headerBlock.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      fail();

    const DWORD length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              length ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA,
                              length, length, 0))
      fail();
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) fail();

    HttpResponse response;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX))
      fail();
    response.status = static_cast<long>(status);
    for (;;) {
      DWORD available = 0;
      if (!::WinHttpQueryDataAvailable(request.get(), &available)) fail();
      if (available == 0) break;
      std::vector<char> buf(available);
      DWORD got = 0;
      if (!::WinHttpReadData(request.get(), buf.data(), available, &got)) fail();
      if (got == 0) break;
      response.body.append(buf.data(), got);
    }
    return response;
  }

 private:
  Internet session_;
  Internet connection_;
  std::wstring host_;
  INTERNET_PORT port_ = 0;
};

}  // namespace

// caFile is a Linux facility: on Windows a private CA goes into the system's store.
std::unique_ptr<HttpClient> makeHttpClient(const std::string& /*caFile*/) {
  return std::make_unique<WinHttpClient>();
}

}  // namespace plat
