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
  // Like a window timer: ticks missed during a long tick are not made up.
  auto seguinte = [&relogio](int64_t& proximo, int64_t intervalo) {
    const int64_t agora = relogio.monotonicMs();
    do {
      proximo += intervalo;
    } while (proximo <= agora);
  };
  int64_t proximaVez = relogio.monotonicMs();
  int64_t proximoTick = 0;
  while (!tela.encerrado()) {
    if (pedidoDeFim()) {
      frm.sairClick();
      break;
    }
    int64_t agora = relogio.monotonicMs();
    if (!frm.temVez()) {
      if (agora >= proximaVez) {
        if (frm.TomarVez()) {
          frm.FormCreate();
          frm.ChamarOutrosEXE();
          proximoTick = relogio.monotonicMs() + TfrmPrincipal::kIntervaloTimer1Ms;
          continue;
        }
        seguinte(proximaVez, TfrmPrincipal::kIntervaloVezMs);
        agora = relogio.monotonicMs();
      }
      relogio.sleepMs(std::clamp<int64_t>(proximaVez - agora, 1, kPassoMs));
      continue;
    }
    if (frm.Timer1Ativo() && agora >= proximoTick) {
      frm.Timer1Timer();
      seguinte(proximoTick, TfrmPrincipal::kIntervaloTimer1Ms);
      agora = relogio.monotonicMs();
    }
    relogio.sleepMs(frm.Timer1Ativo() ? std::clamp<int64_t>(proximoTick - agora, 1, kPassoMs)
                                      : kPassoMs);
  }
  frm.FormDestroy();
}

}  // namespace procguard
