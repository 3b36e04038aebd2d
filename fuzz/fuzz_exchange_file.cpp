// The exchange-file loader and the field lookups on whatever the manager may leave in
// RESP\INTPOS.001: every line becomes one row cut by position, a lookup finds the first row
// of its code and sequence, and a bad count is a TefError, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fiscal/TfrmTEFSelect.h"
#include "fuzz_support.h"
#include "platform/encoding.h"
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

size_t codePoints(const std::string& s) {
  return plat::toU32(s).size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::makeDriveC("exchange");
  engine = new Engine;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  tef::TfrmTEFSitef& s = engine->sitef;
  plat::writeBytes(s.ArqResposta(), bytes);
  s.Coletar_Todos_os_dados_do_INTPOS001();

  const auto& rows = engine->xe.tblTEF;
  size_t lineBreaks = 0;
  for (char c : bytes)
    if (c == '\r' || c == '\n') ++lineBreaks;
  FUZZ_CHECK(rows.size() <= lineBreaks + 1, "more rows than lines");
  for (const auto& r : rows) {
    FUZZ_CHECK(codePoints(r.codigo) <= 3, "code longer than 3: " + r.codigo);
    FUZZ_CHECK(codePoints(r.campo2) <= 3, "sequence longer than 3: " + r.campo2);
    FUZZ_CHECK(codePoints(r.Dados_linha) <= tef::TfrmTefSitef_XE::kTamanhoDados,
               "value longer than 80: " + r.Dados_linha);
    // The lookup gives the first row of that code and sequence.
    const tef::TLinhaTEF* found = engine->xe.Localizar(r.codigo, r.campo2);
    FUZZ_CHECK(found != nullptr, "row not found by its own code");
    FUZZ_CHECK(found <= &r, "lookup skipped an earlier row");
  }
  for (const char* code : {"000", "001", "009", "010", "012", "027", "028", "030", "999"})
    (void)s.Coleta_Valor_Da_Transacao(code, "000");
  try {
    const int cupom = s.Tem_Cupom_para_Imprimir_28();
    FUZZ_CHECK(cupom == 0 || cupom == 1, "receipt check out of range");
  } catch (const tef::TefError&) {
    // A count that is not a number is reported, as it should be.
  }
  // The positional cuts of single lines, straight from the bytes.
  const std::string utf8 = plat::cp1252ToUtf8(bytes);
  (void)tef::TfrmTEFSitef::Tipo_De_Campo(utf8, "1");
  (void)tef::TfrmTEFSitef::Tipo_De_Campo(utf8, "2");
  (void)tef::TfrmTEFSitef::Dados_Do_Campo(utf8);
  return 0;
}
