// The identifier checks on the acknowledgment (text compare) and the answer (number compare):
// any file gives 0 or 1, or a TefError for an identifier that is not a number. Input: one
// byte for the identifier's length, the identifier, then the file bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fiscal/TfrmTEFSelect.h"
#include "fuzz_support.h"
#include "platform/fs.h"
#include "tef/TfrmTEFSitef.h"
#include "tef/TfrmTefSitef_XE.h"

namespace {

struct Engine {
  fiscal::TfrmTEFSelect select;
  tef::TfrmTefSitef_XE xe;
  tef::TfrmTEFSitef sitef{xe, select};
};

Engine* engine = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::makeDriveC("identifier");
  engine = new Engine;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t idLen = std::min<size_t>(data[0] % 16, size - 1);
  const std::string id(reinterpret_cast<const char*>(data + 1), idLen);
  const std::string file(reinterpret_cast<const char*>(data + 1 + idLen), size - 1 - idLen);
  tef::TfrmTEFSitef& s = engine->sitef;

  plat::writeBytes(s.ArqStatus(), file);
  const int sts = s.IntPos_STS_Igual_Enviado(id);
  FUZZ_CHECK(sts == 0 || sts == 1, "acknowledgment check gave " + std::to_string(sts));

  plat::writeBytes(s.ArqResposta(), file);
  try {
    const int ans = s.IntPos_001_Igual_Enviado(id);
    FUZZ_CHECK(ans == 0 || ans == 1, "answer check gave " + std::to_string(ans));
    // The acknowledgment that matches as text also matches as a number.
    if (sts == 0) FUZZ_CHECK(ans == 0, "text match but number mismatch for id " + id);
  } catch (const tef::TefError&) {
    // An identifier that is not a number is a clear error.
  }
  return 0;
}
