// The tefsync service object: the state, event log, text buffers and timers that the
// payment request cycle, the cloud client and the heartbeat work on. No window: a shell
// (the Qt window or the headless runner) drives its timers and commands.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fiscal/TfrmTEFSelect.h"
#include "platform/clock.h"
#include "platform/http.h"
#include "platform/lock.h"
#include "tef/TfrmTEFSitef.h"
#include "tef/TfrmTefSitef_XE.h"
#include "tefsync/core/TakenRequests.h"
#include "tefsync/settings/TdtmAplicativo.h"
#include "tefsync/settings/TdtmConfig.h"
#include "tefsync/settings/TfrmConfig.h"

namespace tefsync {

// One row of the event log.
struct LogRow {
  std::string Operacao;
  plat::DateTime DataHora;  // the Data and Hora columns
  std::string Mensagem;
};

// "DD/MM/AAAA HH:MM:SS | Operacao | Mensagem", control characters inside a field escaped.
std::string formatLogLine(const LogRow& row);

// A timer the shell runs: it calls the tick every Interval ms while Enabled. Each switch
// from off to on (or change of interval) starts the interval over; `armed` counts them.
struct TimerState {
  bool Enabled = false;
  int Interval = 0;
  uint64_t armed = 0;

  void setEnabled(bool on);
  void setInterval(int ms);
};

// What the service asks of the shell that runs it (a window shell, the headless runner, a
// test). Every method must be given: a shell that forgets one does not compile.
class Shell {
 public:
  virtual ~Shell() = default;
  // A row was appended to the event log.
  virtual void logRowAdded(const LogRow& row) = 0;
  // The log, buffers, title or timers changed: repaint ("repaint the grid").
  virtual void stateChanged() = 0;
  // The standard error box for an error that ended a tick or a command. A window shell
  // shows it once the tick has ended, so the heartbeat keeps ticking while it is open.
  virtual void showError(const std::string& message) = 0;
  // "Fecha sincronizador", "Sair do sistema", or an end honoured inside a tick: leave the
  // message loop.
  virtual void endProgram() = 0;
  // Asked during the long waits inside a tick: has the program been asked to end (a stop
  // signal)?
  virtual bool endPending() = 0;
};

// Thrown inside a tick when the program is asked to end during the decision wait, which has
// no limit: the approved sale keeps its pending marker and the next pending recovery
// undoes it.
class ProgramEnding : public std::runtime_error {
 public:
  ProgramEnding() : std::runtime_error("Programa encerrado") {}
};

// Another synchronizer holds the TEF manager's folders on this computer: this one touches
// none of them and ends.
class SincronizadorEmExecucao : public std::runtime_error {
 public:
  static constexpr const char* kTexto = "O sincronizador já está em execução neste computador.";
  SincronizadorEmExecucao() : std::runtime_error(kTexto) {}
};

class TfrmPrincipal {
 public:
  static constexpr const char* kTitulo = "API de Integracao TEF x Velantra - Versão 2021.801";
  static constexpr int kStatusTimeoutMs = 3000;
  // The reports' time-out: bounded, so a cloud that never answers cannot stop the program.
  static constexpr int kReportTimeoutMs = 60000;
  static constexpr int kDecisionPauseMs = 5000;
  // The heartbeat is answered during one wait on the manager (the customer at the PIN pad,
  // a PIX paid on the phone) for this long at most; past it the guardian restarts the
  // program and the pending recovery finishes the sale.
  static constexpr int64_t kPingDuringManagerWaitMs = 10 * 60 * 1000;
  // An end asked for during a wait on the manager gives the manager this long to answer;
  // then the program ends at once, as a power cut would.
  static constexpr int64_t kEndDuringManagerWaitMs = 20 * 1000;

  struct Environment {
    std::string exeDir;        // with a trailing separator; empty: Path_Do_Executavel
    std::string configFile;    // empty: configAPI_TEF.ini in exeDir
    std::string computerName;  // empty: Nome_do_pc
    std::string caFile;        // extra trusted CA for HTTPS; empty: the system's store
    std::function<std::unique_ptr<plat::HttpClient>(const std::string& caFile)> makeHttp;
    // Ends the process at once, without unwinding; empty: plat::exitNow.
    std::function<void(int code)> exitNow;
  };

  // The shell outlives the service.
  explicit TfrmPrincipal(Shell& shell, Environment env = {});
  ~TfrmPrincipal();
  TfrmPrincipal(const TfrmPrincipal&) = delete;
  TfrmPrincipal& operator=(const TfrmPrincipal&) = delete;

  // Start-up: the settings, data holders, TEF selection, the dial-up window's folders, the
  // engine, then Habilita_inicial and the "ping" folder.
  void FormCreate();

  // ---- state (zero or empty at creation) ----
  // The schedules run on monotonic seconds (timerSeconds): setting the computer's clock
  // back or forward moves neither. 0 means due at once.
  int64_t uGetAPI = 0;  // when the next poll is due
  std::string urlBase;
  std::string token_de_acesso;
  std::array<std::string, 6> MatProcesso{};
  int64_t contaPing = 0;  // when the last heartbeat check ran
  int32_t Status_6_7 = 0;
  int32_t nroCupom_in = 0;
  int32_t id_do_processo = 0;

  // ---- event log ----
  std::vector<LogRow> tblList;
  bool tblListAberta = false;
  void addList(const std::string& OperIn, const std::string& MensagemIn = {});

  // ---- text buffers ----
  std::string mmoDados, memoTef1, memoTef2, memoTef3, mmoRequest, mmoResult;

  // ---- window state ----
  std::string Caption = "API de integração TEF x Velantra";
  bool btnguiaTesteVisible = false;
  bool pageVisible = false;
  bool endRequested = false;

  // ---- timers ----
  TimerState timerApi;
  TimerState timerPing;
  void habilTimer(const std::string& qualIn, bool HabilitaIn);
  void Habilita_inicial();

  // Timer ticks and commands as the shell calls them: an error not handled inside ends
  // the tick and goes to the shell's error box; it never escapes.
  void timerApiTimer();
  void timerPingTimer();
  void SpeedButton1Click();
  void btnCloseClick();
  void sairClick();
  void btnguiaTesteClick();

  // The standard error box (onErrorBox), or the event log without one; the text masked and
  // escaped as the log's are.
  void showError(const std::string& message);

  // ---- cloud client ----
  bool get_Status();
  void Post_Enviar_Dados(const std::string& qualEnvio, const std::string& Valor1);
  void Gravar_status_API(const std::string& StatusIn);
  // 6 or 7; 4 or 8 when the cloud closed the request without a decision; else 1.
  int coleta_retorno_API_6_7();

  // ---- heartbeat ----
  void Testar_Ping();
  std::string pingFolder() const;
  // Whole seconds of the monotonic clock, never 0.
  static int64_t timerSeconds();

  // ---- parts created at start-up ----
  TfrmConfig& frmConfig() { return *frmConfig_; }
  fiscal::TfrmTEFSelect& frmTEFSelect() { return *frmTEFSelect_; }
  tef::TfrmTEFSitef& frmTEFSitef() { return *frmTEFSitef_; }
  // The requests taken to a sale, beside the settings file.
  TakenRequests& takenRequests() { return *taken_; }
  const std::string& exeDir() const { return env_.exeDir; }
  const std::string& computerName() const { return env_.computerName; }

  // Held for the program's life: one synchronizer per TEF manager, whatever folder it was
  // installed in, whichever user started it.
  static constexpr const char* kPedidoAberto =
      "Existe pedido da nuvem nao finalizado. Comando nao realizado.";
  static constexpr const char* kRegistroIndisponivel =
      "Venda nao realizada: registro indisponivel: ";
  static constexpr const char* kVendaInterrompida =
      "Venda interrompida pelo encerramento do programa antes da aprovacao ser informada";
  static constexpr const char* kArqExclusivo = "C:\\CLIENT\\BKPINTPOS\\tefsync.lock";

  // The answer files the cycle reads after an approved sale.
  static constexpr const char* kArqRetorno = "C:\\Client\\BKPINTPOS\\INTPOS.001";
  static constexpr const char* kArqMulti = "C:\\Client\\BKPINTPOS\\Multi\\INTPOS.00";

 private:
  void timerApiTimerBody();
  // Finishes what the backup folder holds to finish (a sale cut before the cloud saw it, a
  // late approval, an unacknowledged confirmation or undo), when no request the cloud decides
  // on is open; the log gets one row per change of state.
  void finalizaPendencias(const char* quando);
  void carryOutRequest();
  // Waits for the cloud's decision on the request in id_do_processo and applies it; resumed
  // after a restart it finishes the stored sale through the recovery.
  void waitDecision(bool resumed, bool saleHeld);
  void applyDecision(bool confirm, bool resumed, bool saleHeld, const std::string& why);
  // Ends the requests a sale went out for before the program stopped; false while one is
  // still open (the manager inactive, or an error): nothing new is taken meanwhile.
  bool resumeOpenRequests();
  // The pending sale in the backup folder is the sale of this entry.
  bool saleOf(const TakenRequests::Entry& e);
  // Records the request's entry at status; false with the reason when it cannot be written.
  bool record(int status, std::string& why, bool entregue = false);
  void checkEnd();
  // Every pass of every wait of the engine.
  void whileManagerWaits();
  bool settingsError();
  bool resendTakenOutcome();
  void recordOutcome(int status, bool entregue);
  // The status's entry recorded, then its report; once the cloud answered, the entry says so.
  void reportFinal(int status);
  std::vector<std::string> saleNsus() const;
  template <typename Fn>
  void guarded(bool exclusive, Fn&& fn);
  plat::HttpResponse send(const std::string& method, const std::string& url,
                          const std::string& body, long timeoutMs);
  // The token never reaches the log, standard output or standard error, and a text never
  // adds a line there.
  std::string scrub(const std::string& message) const;
  // A warning row when the URL sends the token unencrypted to another computer.
  void avisaUrlSemCriptografia();
  bool testComputer() const { return env_.computerName == "QUADRIX"; }

  Shell& shell_;
  Environment env_;
  std::unique_ptr<plat::HttpClient> http_;
  std::unique_ptr<TfrmConfig> frmConfig_;
  std::unique_ptr<TdtmAplicativo> dtmAplicativo_;
  std::unique_ptr<TdtmConfig> dtmConfig_;
  std::unique_ptr<fiscal::TfrmTEFSelect> frmTEFSelect_;
  std::unique_ptr<tef::TfrmTefSitef_XE> frmTefSitef_XE_;
  std::unique_ptr<tef::TfrmTEFSitef> frmTEFSitef_;
  std::unique_ptr<TakenRequests> taken_;
  std::unique_ptr<plat::FileLock> exclusivo_;
  bool inTick_ = false;
  // Work left in the backup folder is finished at the first poll tick and at every poll
  // while idle, not hours later with the next cloud request.
  bool inicio_ = true;
  enum class Recuperacao { Nada, GerenciadorInativo, NaoFinalizada, Erro };
  Recuperacao recuperacao_ = Recuperacao::Nada;
  bool retomadaAvisada_ = false;        // the open request waiting on the manager was logged
  int statusNaNuvem_ = 0;               // the request's status in the last decision answer
  bool envioOk_ = false;                // the last report got the cloud's answer
  std::vector<std::string> nsusVenda_;  // NSUs of the approved payments of the sale
  // The wait on the manager in progress: one request identifier.
  struct ManagerWait {
    bool active = false;
    std::string id;
    int64_t sinceMs = 0;
    bool pingRefused = false;
  } managerWait_;
  int64_t endSeenMs_ = -1;  // when an end was first seen during a wait on the manager
  mutable std::vector<std::string> tokensVistos_;
  bool saleRunning_ = false;
  bool approvalSeen_ = false;
  std::string settingsErrorShown_;  // the settings error the box last showed
  std::string deferredBox_;         // shown once the tick has ended
};

}  // namespace tefsync
