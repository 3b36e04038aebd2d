#include "procguard/SemTela.h"

#include <algorithm>

#include "platform/clock.h"

namespace procguard {

namespace {
// A reader that went away loses the line, never the guardian.
void escrever(std::ostream& os, const std::string& linha) {
  os << linha << std::endl;
  os.clear();
}
}  // namespace

void TelaTexto::Mensagem(const std::string& texto) {
  escrever(saida_, texto);
}
void TelaTexto::Erro(const std::string& texto) {
  escrever(erros_, "Erro: " + texto);
}
void TelaTexto::RegistroRestart(const std::string& linha) {
  escrever(saida_, linha);
}
void TelaTexto::Registro(const std::string& linha) {
  escrever(saida_, linha);
}

void ExecutarSemTela(TfrmPrincipal& frm, TelaTexto& tela,
                     const std::function<bool()>& pedidoDeFim) {
  constexpr int64_t kPassoMs = 200;  // how soon a termination request is seen
  auto& relogio = plat::clock();
  frm.FormCreate();
  frm.ChamarOutrosEXE();
  int64_t proximoTick = relogio.monotonicMs() + TfrmPrincipal::kIntervaloTimer1Ms;
  while (!tela.encerrado()) {
    if (pedidoDeFim()) {
      frm.sairClick();
      break;
    }
    int64_t agora = relogio.monotonicMs();
    if (frm.Timer1Ativo() && agora >= proximoTick) {
      frm.Timer1Timer();
      // Like a window timer: ticks missed during a long tick are not made up.
      agora = relogio.monotonicMs();
      do {
        proximoTick += TfrmPrincipal::kIntervaloTimer1Ms;
      } while (proximoTick <= agora);
    }
    relogio.sleepMs(frm.Timer1Ativo() ? std::clamp<int64_t>(proximoTick - agora, 1, kPassoMs)
                                      : kPassoMs);
  }
  frm.FormDestroy();
}

}  // namespace procguard
