// The application data holder: profile flags the TEF selection copies at its creation.
// Nothing sets them, so they stay false, zero and empty.
#pragma once

#include <string>

namespace tefsync {

class TdtmAplicativo {
 public:
  bool temTefSitef = false;
  bool temTefDiscado = false;
  bool temTefBanrisul = false;
  int ModeloImpressora = 0;
  std::string NomeImpressora;
};

}  // namespace tefsync
