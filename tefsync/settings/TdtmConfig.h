// The settings data holder: an in-memory table nothing fills.
#pragma once

#include <cstddef>
#include <string>

namespace tefsync {

class TdtmConfig {
 public:
  struct TblConfig {
    static constexpr std::size_t kLarguraPortaCom = 5;
    // The fiscal printer's serial port; empty in this system.
    std::string porta_com;
  };
  TblConfig tblConfig;
};

}  // namespace tefsync
