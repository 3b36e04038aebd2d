#include "fiscal/TfrmTEFSelect.h"

#include "fiscal/uLibFiscal.h"

namespace fiscal {

void TfrmTEFSelect::InitCom(const std::string& portaIn) {
  InitComm(portaIn, 0);
}

}  // namespace fiscal
