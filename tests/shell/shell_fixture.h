// What the tests of tefsync's window shells (the shared logic, the Qt window, the Win32
// window) start from: the day whose access code they type, and a network that is never there.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/http.h"

namespace shelltest {

// 5 March 2024: the prompt ends with 05/03/24 and the code of the day is
// 05, 05+03, 03, 05+03+24, 24.
inline const plat::DateTime kToday{2024, 3, 5, 10, 20, 30, 0};
inline const char* const kCodeOfTheDay = "0508033224";

// Something no handler of the service expects: it reaches the standard error box.
struct UnexpectedFault {};

// Every request fails as with no network; once *unexpected is set (when given), it throws
// UnexpectedFault instead.
class NoNetwork final : public plat::HttpClient {
 public:
  explicit NoNetwork(const bool* unexpected = nullptr) : unexpected_(unexpected) {}
  plat::HttpResponse send(const std::string&, const std::string&, const plat::HttpHeaders&,
                          const std::string&, long) override {
    if (unexpected_ != nullptr && *unexpected_) throw UnexpectedFault{};
    throw plat::HttpError("sem rede");
  }

 private:
  const bool* unexpected_;
};

}  // namespace shelltest
