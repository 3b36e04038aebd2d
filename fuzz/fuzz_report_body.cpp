// The manager's texts sent in the "retorno" report: whatever the answer file holds, the
// cleaned texts keep the body valid JSON; a text without backslashes arrives as sent, less
// the quotes; and wherever the plain cleaning (quotes dropped, CR and LF written as \r and
// \n) already gives valid JSON that reads back as the text, the cleaned text is exactly that.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_support.h"
#include "platform/encoding.h"
#include "tefsync/core/cloud_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The texts come from Windows-1252 files, so they are valid UTF-8 here.
  const std::string text =
      plat::cp1252ToUtf8(std::string(reinterpret_cast<const char*>(data), size));
  const std::string clean = tefsync::cleanTefText(text);
  std::string expected, plain;
  for (char c : text) {
    if (c == '"') continue;
    expected += c;
    plain += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  const auto plainDoc = nlohmann::ordered_json::parse("\"" + plain + "\"", nullptr, false);
  if (!plainDoc.is_discarded() && plainDoc.get<std::string>() == expected)
    FUZZ_CHECK(clean == plain, "changed a text that was sent right as it was");
  for (const char* status : {"4", "5"}) {
    const std::string body = tefsync::buildRetornoBody(123456, status, clean, clean, clean);
    nlohmann::ordered_json doc;
    try {
      doc = nlohmann::ordered_json::parse(body);
    } catch (const nlohmann::json::exception& e) {
      fuzzsupport::finding(std::string("report body is not JSON: ") + e.what());
    }
    if (expected.find('\\') == std::string::npos)
      FUZZ_CHECK(doc["texto_1"].get<std::string>() == expected, "text changed on the way");
    FUZZ_CHECK(doc["id"] == 123456, "id changed");
  }
  return 0;
}
