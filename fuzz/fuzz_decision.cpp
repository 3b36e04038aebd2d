// The decision answer: any body reads as 6 or 7, 4 or 8 (closed without a decision) or 1
// (none), and a well-formed answer of two members (code 200, then the status) gives exactly
// the status it carries. Nesting of any depth is refused as not JSON, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "tefsync/core/cloud_api.h"

namespace {

using Json = nlohmann::ordered_json;

bool plainName(const std::string& n) {
  if (n.empty()) return false;
  for (char c : n)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// A value the reader's text cuts cannot reshape: a number, or a text of plain characters.
bool plainValue(const Json& v) {
  if (v.is_number()) return true;
  if (!v.is_string()) return false;
  for (char c : v.get<std::string>())
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' ||
          c == '.' || c == '-' || c == '_'))
      return false;
  return true;
}

// The decision a well-formed answer carries: two members with plain names, the code 200
// first and the status second, each a number or a text; 0 when the answer is not of that form.
int expectedDecision(const std::string& compact) {
  const Json doc = Json::parse(compact);
  if (!doc.is_object() || doc.size() != 2) return 0;
  auto it = doc.begin();
  const std::string n1 = it.key();
  const Json v1 = it.value();
  ++it;
  const std::string n2 = it.key();
  const Json v2 = it.value();
  if (!plainName(n1) || !plainName(n2) || !plainValue(v1) || !plainValue(v2)) return 0;
  const bool ok = (v1.is_number_integer() && v1 == 200) || (v1.is_string() && v1 == "200");
  if (!ok) return 1;
  for (int d : {6, 7, 4, 8})
    if ((v2.is_number_integer() && v2 == d) || (v2.is_string() && v2 == std::to_string(d)))
      return d;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const auto known = [](int d) { return d == 1 || d == 6 || d == 7 || d == 4 || d == 8; };
  const int rawDecision = tefsync::readDecision(body);
  FUZZ_CHECK(known(rawDecision), "decision " + std::to_string(rawDecision));
  try {
    const std::string compact = tefsync::compactJson(body);
    const int d = tefsync::readDecision(compact);
    FUZZ_CHECK(known(d), "decision " + std::to_string(d));
    const int expected = expectedDecision(compact);
    if (expected != 0) FUZZ_CHECK(d == expected, "read " + std::to_string(d) + " from " + compact);
  } catch (const tefsync::CloudError&) {
  }
  return 0;
}
