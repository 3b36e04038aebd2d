#include "tefsync/shell/WindowTexts.h"

#include <cstdio>

namespace tefsync {

std::string logCell(const LogRow& row, int column) {
  const plat::DateTime& d = row.DataHora;
  char buf[32];
  switch (column) {
    case 0:
      return row.Operacao;
    case 1:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day % 100, d.month % 100, d.year);
      return buf;
    case 2:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour % 100, d.minute % 100,
                    d.second % 100);
      return buf;
    case 3:
      return row.Mensagem;
    default:
      return {};
  }
}

}  // namespace tefsync
