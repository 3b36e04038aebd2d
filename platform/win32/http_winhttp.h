// The WinHTTP client's failures in words: the host and the reason, never the request's headers.
#pragma once

#include <string>

namespace plat::win {

// err is WinHTTP's error; secureFlags the WINHTTP_CALLBACK_STATUS_FLAG_* bits its status
// callback gave for a refused certificate (0 when none came).
std::string describeHttpFailure(unsigned long err, unsigned long secureFlags,
                                const std::string& host, unsigned short port, long timeoutMs);

}  // namespace plat::win
