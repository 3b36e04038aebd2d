// The fiscal printer bridge drives no device: every call succeeds at once.
#include <gtest/gtest.h>

#include "fiscal/TfrmTEFSelect.h"
#include "fiscal/uLibFiscal.h"

namespace {

TEST(FiscalBridge, EverySequenceSucceedsWithoutAPrinter) {
  fiscal::TfrmTEFSelect select;
  EXPECT_FALSE(select.temTefSitef);
  EXPECT_EQ(select.PortaCom_ECF, "");
  EXPECT_TRUE(fiscal::ImpressoraEstaAtiva_TEF());
  EXPECT_TRUE(fiscal::InitComm("COM1", 0));
  EXPECT_TRUE(fiscal::ImpressoraEstaAtiva_TEF());
  EXPECT_EQ(fiscal::Fecha_Cupom_Vinculado_TEF(), 0);
  select.InitCom(select.PortaCom_ECF);
  EXPECT_EQ(fiscal::RelatorioECF("", "3"), 0);
  fiscal::EndComm();
  fiscal::EndComm();
  EXPECT_TRUE(fiscal::ImpressoraEstaAtiva_TEF());
}

}  // namespace
