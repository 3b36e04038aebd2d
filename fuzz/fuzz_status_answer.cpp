// The status query's answer: compact form, list parsing and the selection of a request.
// Bad answers end as a CloudError (nesting of any depth too, never a crash); a selected
// request carries whole operation codes and amounts and never a "PIX" operation; the log
// row naming records passed over is one line. Input: two bytes of rules, then the body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/encoding.h"
#include "tefsync/core/cloud_api.h"
#include "tefsync/core/safe_text.h"

namespace {

size_t codePoints(const std::string& s) {
  return plat::toU32(s).size();
}

void checkSelection(const tefsync::Selection& sel, const std::array<std::string, 6>& before) {
  if (!sel.selected) {
    for (size_t i = 0; i < 6; i += 2)
      if (before[i] != "PIX")
        FUZZ_CHECK(sel.mat[i] == before[i], "matrix changed without a selection");
  }
  for (size_t i = 0; i < 6; i += 2) {
    FUZZ_CHECK(sel.mat[i] != "PIX", "PIX left as an operation");
    if (sel.selected) {
      FUZZ_CHECK(codePoints(sel.mat[i]) <= 5 || sel.mat[i] == "CARTDIGI",
                 "operation cut wrong: " + sel.mat[i]);
      FUZZ_CHECK(codePoints(sel.mat[i + 1]) <= 15, "amount cut wrong: " + sel.mat[i + 1]);
      FUZZ_CHECK(sel.mat[i + 1].find('.') == std::string::npos,
                 "amount keeps a point: " + sel.mat[i + 1]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  tefsync::SelectionRules rules;
  rules.idVelantra = data[0] & 0x0F;
  rules.idCaixa = (data[0] >> 4) & 0x07;
  rules.testComputer = (data[0] & 0x80) != 0;
  const bool raw = (data[1] & 1) != 0;
  const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::array<std::string, 6> before{"CRT", "1,00", "", "", "", ""};

  try {
    (void)tefsync::JsonToDataset(body);
  } catch (const tefsync::CloudError&) {
  }
  try {
    // The service hands over the compact form; the raw body checks the reader alone.
    const std::string compact = raw ? body : tefsync::compactJson(body);
    const tefsync::Selection sel = tefsync::parseStatusAnswer(compact, rules, before);
    checkSelection(sel, before);
    const std::string row = tefsync::safeText(tefsync::skippedRecordsText(sel.skipped));
    for (unsigned char c : row) FUZZ_CHECK(c >= 0x20 && c != 0x7f, "control in a log row");
    if (sel.selected) {
      for (size_t i = 1; i < 6; i += 2) {
        try {
          const double v = tefsync::convertAmount(sel.mat[i]);
          FUZZ_CHECK(v >= 0, "negative amount");
        } catch (const std::invalid_argument&) {
        }
      }
      (void)tefsync::operationList(sel.mat);
    }
  } catch (const tefsync::CloudError&) {
  }
  return 0;
}
