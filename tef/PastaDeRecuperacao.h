// The recovery files of the TEF engine and the only code that creates, moves or deletes them.
//
// WHAT THE FILES MEAN
//
// The engine keeps no state in memory that a restart needs: which of these files exist is
// the state. All but the answer live in the backup folder C:\CLIENT\BKPINTPOS\.
//
//   RESP\INTPOS.001    (the answer) The manager's answer to the request in progress, or a copy
//                      of the backup answer put back for finishing. Present without a backup
//                      answer and without stored payments, it is an answer the engine never
//                      kept, so the cloud never saw it approved.
//   INTPOS.001         (the backup answer) An approved answer not yet finished. Present: the
//                      transaction still needs a CNF or an NCN (when 028-000 is above 0, or
//                      cannot be read).
//   TesteCupom.zkt     (the marker) The sale may hold an approval nobody decided on: whatever
//                      is found is undone. Absent: a confirmation or undo began, and what is
//                      found is finished the way it began (confirmed, when no undo is saved).
//   INTPOS.BKP         A CNF or NCN placed and not yet acknowledged; re-sent unchanged.
//   Multi\INTPOS.00n   Payment n of a sale of several payments, approved and not finished.
//   INTPOS.AT1..AT9    An approved answer that arrived after its sale had given up on it (a
//                      very late approval). Always undone.
//   tefsync.lock       Not a recovery file: held open, locked, by the one synchronizer that
//                      works on these folders; its content means nothing.
//   Finalizadas.zkt    The record of finished transactions: one tab-separated line (operation,
//   identifier, coupon, NSU, 027-000, network) per
//                      acknowledged CNF or NCN, the newest last. Never deleted.
//
// TRANSITIONS (who creates and who removes)
//
//   the sale opens            creates the marker, before the sale's first request is placed
//   an answer is kept         copies the answer to the backup answer (flushed)
//   a payment is stored       copies the backup answer to Multi\INTPOS.00n
//   a payment becomes current copies Multi\INTPOS.00n to the backup answer, then to the answer
//   a finish is placed        writes INTPOS.BKP (before the answer files are cleared)
//   the transaction is cleared deletes the answer, then the backup answer
//   a finish is acknowledged  appends to the record, then deletes INTPOS.BKP
//   a payment is done         deletes Multi\INTPOS.00n
//   a late approval is kept   copies the stale answer to INTPOS.ATn (then it leaves RESP\)
//   the sale closes           deletes the marker: at the start of a confirmation, after the
//                             last NCN of an undo is placed, or in a recovery that finds
//                             nothing left to finish
//
// ORDERING RULES (what must be durable before what is deleted)
//
//   1. The marker exists before any request of a sale reaches REQ\, and stays while any
//      request of the sale went unanswered: a late approval is then undone, never confirmed.
//   2. An answer is copied to the backup answer before the request is removed from REQ\ and
//      before anything is reported; a stored payment exists before the backup answer is
//      cleared for the next payment.
//   3. INTPOS.BKP holds the CNF or NCN before the answer files that describe the transaction
//      are cleared; it goes only after the acknowledgment is in the record.
//   4. The answer is cleared before the backup answer, so a cut in between leaves the backup
//      answer (finished again, with the record preventing a second finish).
//   5. A stale approved answer is copied to INTPOS.ATn before it is deleted from RESP\.
//   6. Every file is written whole in the engine's temporary folder and moved in by rename, so
//      a cut leaves either the old file or the new one, and nothing stray in the manager's
//      folders. The staging file has a fixed name ("." + target name + ".tmp"); one a cut left
//      is never needed (the old file is whole) and the recovery deletes it at its start and
//      at its end.
//
// A SALE A CLOUD REQUEST STANDS BEHIND
//
//   The marker alone decides only for sales nobody else decides on (the administrative
//   command). For a sale whose request the cloud saw approved, the cloud decides: the service
//   keeps these files untouched until the decision comes, then confirms by closing the sale
//   (fechaVenda) before the recovery, or undoes through the recovery with the marker in place.
//
// INVARIANT
//
//   Every transaction the manager approved ends confirmed or undone exactly once; it ends
//   confirmed only if the cloud's confirmation had begun.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tef {

// A file, field or conversion fault inside the engine; names the file, field and value.
class TefError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One acknowledged finish as the record keeps it: the fields a CNF or NCN copies from its
// answer, which together name the transaction.
struct Finalizacao {
  std::string operacao;  // CNF or NCN
  std::string id;        // 001-000 of the answer (of the request, for a re-sent one)
  std::string cupom;     // 002-000
  std::string nsu;       // 012-000
  std::string final;     // 027-000
  std::string rede;      // 010-000
  // The same transaction: the same coupon, network, NSU and 027-000, and, when the NSU is
  // empty, the same identifier.
  bool mesmaTransacao(const Finalizacao& outra) const {
    return cupom == outra.cupom && rede == outra.rede && nsu == outra.nsu && final == outra.final &&
           (!nsu.empty() || id == outra.id);
  }
};

class PastaDeRecuperacao {
 public:
  static constexpr int kVagasAtrasadas = 9;
  // The record keeps this many of the newest finishes.
  static constexpr size_t kFinalizacoesGuardadas = 1000;

  // pastaBackup, pastaResposta, pastaTemporaria: Windows paths ending in "\".
  PastaDeRecuperacao(std::string pastaBackup, std::string pastaResposta,
                     std::string pastaTemporaria);

  // ---- the files ----
  std::string Resposta() const { return pastaResposta_ + "INTPOS.001"; }
  std::string RespostaGuardada() const { return pastaBackup_ + "INTPOS.001"; }
  std::string FinalizacaoSalva() const { return pastaBackup_ + "INTPOS.BKP"; }
  std::string Marcador() const { return pastaBackup_ + "TesteCupom.zkt"; }
  std::string Pagamento(const std::string& n) const {
    return pastaBackup_ + "Multi\\INTPOS.00" + n;
  }
  std::string Atrasada(int n) const { return pastaBackup_ + "INTPOS.AT" + std::to_string(n); }
  std::string Registro() const { return pastaBackup_ + "Finalizadas.zkt"; }

  // ---- what is there ----
  bool temResposta() const;
  bool temRespostaGuardada() const;
  bool temMarcador() const;
  bool temPagamento(const std::string& n) const;
  bool temPagamentoGuardado() const;
  // INTPOS.BKP holds a CNF or NCN (anything else is left where it is, and blocks nothing).
  bool temFinalizacaoSalva() const;
  bool temAtrasada() const;
  // Something that a new request would overwrite or that still needs a CNF or NCN.
  bool temTrabalhoPorFinalizar() const;

  // ---- transitions ----
  void abreVenda();
  void guardaResposta();
  void guardaPagamento(const std::string& n);
  void tornaCorrente(const std::string& n);
  void descartaPagamento(const std::string& n);
  void restauraResposta();
  void salvaFinalizacao(const std::string& bytes);
  // The answer, then the backup answer. False when the answer could not be deleted.
  bool limpaTransacao();
  void finalizacaoReconhecida(const Finalizacao& f);
  void fechaVenda();
  void guardaAtrasada();
  void descartaAtrasada(int n);
  // Removes the staging files a cut between a write and its rename left behind.
  void limpaStaging();
  // Deletes a file of the folder when present; true when it was there and is gone.
  bool apaga(const std::string& arquivo);

  // The bytes of a recovery file; TefError when it cannot be read.
  std::string le(const std::string& arquivo) const;
  // The transactions of the answers kept for finishing: the backup answer, the answer and
  // the stored payments (operacao empty). What links a pending sale to its cloud request.
  std::vector<Finalizacao> transacoesPendentes() const;
  // The acknowledged finish of this transaction, if any (its operacao is not compared).
  std::optional<Finalizacao> finalizadaComo(const Finalizacao& transacao) const;

 private:
  void copia(const std::string& de, const std::string& para);
  void grava(const std::string& arquivo, const std::string& bytes);
  std::vector<Finalizacao> registro() const;
  std::string staging() const;

  std::string pastaBackup_, pastaResposta_, pastaTemporaria_;
};

// The lines of an exchange file's text; CR LF, CR or LF ends a line.
std::vector<std::string> linhasDoTexto(const std::string& texto);
// The value of field code-seq in an exchange file's text (empty when absent).
std::string campoDoTexto(const std::string& texto, const std::string& codigo,
                         const std::string& seq = "000");
// An answer counts only once its last line is the terminator 999-999.
bool respostaCompleta(const std::string& texto);
// The answer's 028-000 is above 0, or cannot be read as a number (then finishing it is the
// safe side: a finish the manager does not need is harmless).
bool precisaFinalizar(const std::string& texto);

}  // namespace tef
