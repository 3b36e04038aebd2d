// The TEF selection: which TEF profile is active and where the fiscal printer sits.
// One object for the whole process, created at start-up and never shown.
#pragma once

#include <string>

namespace fiscal {

class TfrmTEFSelect {
 public:
  // The application's data holders carry nothing in this system: all flags start false.
  bool temTefSitef = false;
  std::string PortaCom_ECF;

  // Opens the printer port through the bridge; the result does not matter.
  void InitCom(const std::string& portaIn);
};

}  // namespace fiscal
