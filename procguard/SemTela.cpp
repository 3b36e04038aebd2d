#include "procguard/SemTela.h"

#include <algorithm>

#include "platform/clock.h"

namespace procguard {

void TelaTexto::Mensagem(const std::string& texto) {
  saida_ << texto << std::endl;
}
void TelaTexto::Erro(const std::string& texto) {
  erros_ << "Erro: " << texto << std::endl;
}
void TelaTexto::RegistroRestart(const std::string& linha) {
  saida_ << linha << std::endl;
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
