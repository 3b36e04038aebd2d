// A stand-in for the Sitef manager ("Gerenciador Padrão"): takes each request out of REQ\,
// acknowledges it in RESP\INTPOS.STS and answers transaction requests in RESP\INTPOS.001,
// as a script says. It keeps a durable journal of every request and of each approved
// transaction, so tests can tell a transaction confirmed, undone, pending or both.
//
// Behaviour script: one rule per line, '#' starts a comment.
//
//   <KIND> <action> [key=value | flag] ...
//
//   KIND    ATV, CNF, NCN, CRT, CARTDIGI, ADM, PRE, PGV, PCB, CEL; "*" for any transaction
//           request (not ATV, CNF, NCN); "ALL" for every request.
//   action  approve   acknowledge and answer approved (transactions; others just ack)
//           decline   acknowledge and answer declined
//           noack     take the request and do nothing more (a hung manager)
//           ackonly   acknowledge and never answer
//           late      open the request but leave it in REQ\, never acknowledge, and answer
//                     approved delay=MS later (default 30000): a manager that was slow to
//                     take a request the shop's program gave up on
//   keys    times=N      requests this rule applies to (default 1; 0 = every one from then on)
//           receipt=N    receipt lines 029-001.. and 028-000 = N (default 2; 0 = none)
//           msg="text"   operator message 030-000 (accents allowed; any length)
//           network=X    network name 010-000 (default REDECARD)
//           code=NN      result 009-000 of a declined answer (default 05)
//           ackdelay=MS  acknowledgment this long after the request was taken
//           delay=MS     answer this long after the acknowledgment
//           split=MS     write the answer in two steps: the file appears without its result
//                        line and the rest, up to 999-999, follows MS later
//           stale        first leave an approved answer of an earlier request in RESP
//           answerfile=P write the bytes of file P as the answer instead
//           ackfile=P    write the bytes of file P as the acknowledgment instead
//
// A request that no rule matches is acknowledged and, for transactions, approved with two
// receipt lines. Rules of one kind are used in file order.
//
// Journal: one record a line, fields separated by tabs (tab, CR, LF and backslash escaped):
//   REQ <op> <id> <nsu> <action> <request text>
//   TXN <nsu> <id> <op> <cents> <1 when it has receipt lines, else 0>
//   ANS <nsu> <id> <answer text>
//   CUT                       (written by a test: the shop's program lost power here)
// A CNF or NCN counts for the approved transaction whose NSU it carries; an NCN must also
// carry that transaction's 001-000, a CNF carries it or a fresh identifier.
//
// What the manager still owes when the shop's program stops (an answer not yet due, a
// request it opened) is kept in <journal>.owed, so a test can let the manager, which goes
// on running, deliver it (Simulator::deliverOwed).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sitefsim {

struct Rule {
  enum class Action { Approve, Decline, NoAck, AckOnly, Late };
  std::string kind = "*";
  Action action = Action::Approve;
  int times = 1;  // 0: without limit
  int receiptLines = 2;
  std::string message;
  std::string network = "REDECARD";
  std::string declineCode = "05";
  int64_t ackDelayMs = 0;
  int64_t answerDelayMs = 0;
  int64_t splitMs = -1;  // >= 0: the answer is written in two steps this far apart
  bool staleAnswer = false;
  std::optional<std::string> rawAnswer;  // bytes written instead of the answer
  std::optional<std::string> rawAck;     // bytes written instead of the acknowledgment
};

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a behaviour script (UTF-8); throws ScriptError naming the line.
std::vector<Rule> parseScript(const std::string& text);
std::string scriptHelp();

// ---- Journal ----

struct JournalRequest {
  std::string op;      // 000-000
  std::string id;      // 001-000
  std::string nsu;     // 012-000 of a CNF or NCN; the new NSU of an approved transaction
  std::string action;  // what the manager did: ack, approve, decline, noack, ackonly, late
  std::string raw;     // the request as received (CR LF kept)
  int cutsBefore = 0;  // CUT records before this request
};

struct Transaction {
  enum class State { NoFinishNeeded, Pending, Confirmed, Undone, Both };
  std::string nsu, id, op, cents;
  bool needsFinish = false;      // it had receipt lines
  int confirmations = 0;         // acknowledged CNF
  int undos = 0;                 // acknowledged NCN
  std::vector<size_t> finishes;  // indexes of its acknowledged CNF/NCN in the requests
  State state() const;
  // Finished more than once (the same way or both ways).
  bool finishedTwice() const { return confirmations + undos > 1; }
};

struct JournalView {
  std::vector<JournalRequest> requests;
  std::vector<Transaction> transactions;
  // Acknowledged CNF/NCN that match no transaction, as "CNF <nsu>" / "NCN <nsu>"
  // (an NCN naming a known NSU under another identifier: "NCN <nsu> id <id>").
  std::vector<std::string> orphanFinishes;
  int cuts = 0;
  const Transaction* byNsu(const std::string& nsu) const;
  // Acknowledged CNF/NCN requests in arrival order, as "CNF <nsu>" / "NCN <nsu>".
  std::vector<std::string> finishes() const;
};

// Reads a journal; a missing file is an empty journal. A torn last line is ignored.
JournalView readJournal(const std::string& path);
// Appends a CUT record.
void journalCut(const std::string& path);
// What is wrong with how an approved transaction ended, given whether it was to end
// confirmed (else undone): " confirmed and undone", " left pending", " confirmed though ...",
// " undone though ...", each after " transaction <nsu> (<op> <id>)"; empty when it ended right.
std::string endFaults(const Transaction& t, bool confirm);
// One line per approved transaction: "<nsu> <op> <id> <state>" with state none, pending,
// confirmed, undone, both, or "confirmed twice" / "undone twice"; then one line per orphan
// finish, "orphan <what>".
std::string report(const JournalView& view);

// ---- The manager ----

class Simulator {
 public:
  // driveC: the folder standing for drive C (its Client\REQ and Client\RESP are created
  // when missing, as the manager's installation would).
  Simulator(const std::string& driveC, std::vector<Rule> rules, std::string journalPath);

  // Acts on what is due and on a request waiting in REQ\; uses plat::clock() for time.
  void step();
  // True while step() runs (its own file changes are not the engine's).
  bool acting() const { return acting_; }
  // A stopped manager leaves requests where they are.
  void setRunning(bool running) { running_ = running; }
  void addRule(Rule rule) { rules_.push_back(std::move(rule)); }
  // Writes at once whatever an earlier run of the manager over the same journal still
  // owed, and takes back a request it had opened and left in REQ\.
  void deliverOwed();

  const std::string& reqDir() const { return reqDir_; }
  const std::string& respDir() const { return respDir_; }

 private:
  struct Event {
    int64_t dueMs;
    std::string path;
    std::string bytes;
  };
  Rule takeRule(const std::string& op);
  void journal(const std::vector<std::string>& fields);
  void handle(const std::string& requestBytes, const Rule& rule);
  void saveOwed();
  std::string owedPath() const { return journalPath_ + ".owed"; }
  std::string answer(const Rule& rule, const std::string& op, const std::string& id,
                     const std::string& coupon, const std::string& cents, const std::string& nsu,
                     bool approved) const;

  std::string reqDir_, respDir_, journalPath_;
  std::vector<Rule> rules_;
  std::vector<Event> events_;
  std::string owed_;    // what <journal>.owed holds
  std::string opened_;  // a request opened and left in REQ\ (action late)
  int approvals_ = 0;
  bool acting_ = false;
  bool running_ = true;
};

}  // namespace sitefsim
