// cloud-mock: serves the cloud API on loopback for tests and demos until it is ended.
//   cloud-mock [--host H] [--port N] [--cert FILE --key FILE] [--token T] [--base /api]
#include <cstdlib>
#include <future>
#include <iostream>
#include <string>

#include "tools/cloud-mock/cloud_mock.h"

int main(int argc, char** argv) {
  cloudmock::Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "cloud-mock: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--host") {
      options.host = value();
    } else if (arg == "--port") {
      std::string v = value();
      char* end = nullptr;
      long port = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "cloud-mock: bad port " << v << "\n";
        return 2;
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--cert") {
      options.certFile = value();
    } else if (arg == "--key") {
      options.keyFile = value();
    } else if (arg == "--token") {
      options.token = value();
    } else if (arg == "--base") {
      options.base = value();
    } else {
      std::cerr << "usage: cloud-mock [--host H] [--port N] [--cert FILE --key FILE] "
                   "[--token T] [--base /api]\n";
      return 2;
    }
  }
  if (options.certFile.empty() != options.keyFile.empty()) {
    std::cerr << "cloud-mock: --cert and --key go together\n";
    return 2;
  }
  try {
    cloudmock::CloudMock mock(options);
    mock.start();
    std::cout << "cloud-mock listening on " << mock.baseUrl() << std::endl;
    std::promise<void>().get_future().wait();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
