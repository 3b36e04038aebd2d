#include "platform/http.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A request the client cannot send is refused, in the same words on every system, before
// anything goes out (the address here would not answer).
TEST(HttpClient, RefusesARequestItCannotSend) {
  struct Case {
    const char* method;
    const char* url;
    const char* error;
  };
  const Case cases[] = {
      {"PUT", "http://127.0.0.1:9/x", "Unsupported HTTP method PUT"},
      {"get", "http://127.0.0.1:9/x", "Unsupported HTTP method get"},
      {"", "http://127.0.0.1:9/x", "Unsupported HTTP method "},
      {"GET", "", "Empty URL"},
      {"POST", "", "Empty URL"},
  };
  const auto client = plat::makeHttpClient();
  for (const auto& c : cases) {
    try {
      client->send(c.method, c.url, {}, "body", 1000);
      ADD_FAILURE() << c.method << " " << c.url << " was sent";
    } catch (const plat::HttpError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.method << " " << c.url;
    }
  }
}

}  // namespace
