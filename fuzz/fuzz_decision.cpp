// The decision answer: any body reads as 6, 7 or 1 (none); only a compact answer whose code
// is 200 and whose decision member is exactly 6 or 7 gives a decision.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "tefsync/core/cloud_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const int rawDecision = tefsync::readDecision(body);
  FUZZ_CHECK(rawDecision == 1 || rawDecision == 6 || rawDecision == 7,
             "decision " + std::to_string(rawDecision));
  try {
    const std::string compact = tefsync::compactJson(body);
    const int d = tefsync::readDecision(compact);
    FUZZ_CHECK(d == 1 || d == 6 || d == 7, "decision " + std::to_string(d));
    // A decision needs the digit itself in the answer.
    if (d != 1) FUZZ_CHECK(compact.find(std::to_string(d)) != std::string::npos, compact);
  } catch (const tefsync::CloudError&) {
  }
  return 0;
}
