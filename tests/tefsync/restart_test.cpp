// A synchronizer that stops in the middle of a request (a power cut, the guardian's restart,
// an end asked in the decision wait) and starts again: the request ends as the cloud decides,
// and the cloud's last status says what happened to the money. A second copy touches nothing.
#include <algorithm>

#include "platform/fs.h"
#include "service_fixture.h"

namespace {

using State = sitefsim::Transaction::State;
using tefsync::TakenRequests;

class Restart : public ServiceTest {
 protected:
  // The statuses the cloud was sent, in order ("retorno:5", "status:8", ...), and the number
  // of decision queries.
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& r : mock.recorded()) {
      if (r.method != "POST" || r.path.find("/verifica") != std::string::npos) continue;
      auto body = cloudmock::Json::parse(r.body);
      out.push_back(r.path.substr(r.path.rfind('/') + 1) + ":" + body["status"].dump());
    }
    return out;
  }
  size_t queries() const { return mock.bodies("verifica").size(); }
  std::vector<State> states() const {
    std::vector<State> out;
    for (const auto& t : journal().transactions) out.push_back(t.state());
    return out;
  }
  bool logged(const std::string& op, const std::string& start) const {
    for (const auto& [o, m] : log())
      if (o == op && m.rfind(start, 0) == 0) return true;
    return false;
  }
  // Runs the first poll until the program is asked to end in the decision wait.
  void endInTheDecisionWait() {
    endAfterMs = clock.monotonicMs() + 1;
    poll();
    ASSERT_TRUE(svc->endRequested);
    endAfterMs = -1;
  }
  // The next start: a fresh service on the same folders; its first poll.
  void restartAndPoll() {
    createService();
    endAfterMs = clock.monotonicMs() + 10 * 60 * 1000;  // a wait that never ends fails below
    poll();
    EXPECT_FALSE(svc->endRequested) << "the resumed request never ended";
    endAfterMs = -1;
  }
  // Stops the program dead (an exception out of the tick, the service then dropped) at the
  // first change to the disk the program makes once `when` holds.
  void cutWhen(std::function<bool()> when) {
    plat::setFsOpHook([this, when] {
      if (sim && sim->acting()) return;  // the manager is another program
      if (when()) {
        plat::setFsOpHook(nullptr);
        throw std::runtime_error("corte de energia");
      }
    });
  }
  ~Restart() override { plat::setFsOpHook(nullptr); }
};

struct DecisionCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> payments;
  int decision;
  int after;  // the cloud's "no decision" answers after the restart
};

class RestartInTheDecisionWait : public Restart,
                                 public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(RestartInTheDecisionWait, EndsAsTheCloudDecides) {
  const DecisionCase& c = GetParam();
  startManager();
  start();
  const int64_t id = addRequest(57, c.payments);
  endInTheDecisionWait();
  EXPECT_EQ(cloudStatus(id), 5);
  ASSERT_EQ(states(), std::vector<State>(c.payments.size(), State::Pending));

  const size_t before = queries();
  mock.setDecision(id, c.decision, c.after);
  restartAndPoll();
  const State decided = c.decision == 7 ? State::Confirmed : State::Undone;
  EXPECT_EQ(states(), std::vector<State>(c.payments.size(), decided));
  EXPECT_EQ(cloudStatus(id), 8);
  // Asked first, then every 5 seconds while undecided; 5 never sent twice.
  EXPECT_EQ(queries() - before, static_cast<size_t>(c.after + 1));
  EXPECT_EQ(reports(), (std::vector<std::string>{"status:1", "status:3", "retorno:5", "status:8"}));
  EXPECT_TRUE(logged("Retomada TEF", "Pedido 57 aguardando a decisao da nuvem"));
  EXPECT_TRUE(svc->takenRequests().open().empty());
}

const DecisionCase kDecisionCases[] = {
    {"OnePaymentConfirmed", {{"CRT", "25,90"}}, 7, 0},
    {"OnePaymentUndone", {{"CRT", "25,90"}}, 6, 0},
    {"TwoPaymentsConfirmedLater", {{"CRT", "10,00"}, {"CRT", "5,00"}}, 7, 3},
    {"ThreePaymentsUndone", {{"CRT", "1,00"}, {"CRT", "2,00"}, {"CRT", "3,00"}}, 6, 1},
};
void PrintTo(const DecisionCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RestartInTheDecisionWait, ::testing::ValuesIn(kDecisionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Restart, AStatusFiveThatNeverArrivedIsSentAgainBeforeAnyDecision) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.addFault({"http500", "retorno", 1});
  // The cloud answers the request's status 3 twice before it has any decision to give.
  mock.setDecision(id, 7, 2);
  endAfterMs = clock.monotonicMs() + 10 * 60 * 1000;
  poll();
  EXPECT_EQ(reports(), (std::vector<std::string>{"status:1", "status:3", "retorno:5", "retorno:5",
                                                 "status:8"}));
  EXPECT_EQ(states(), std::vector<State>{State::Confirmed});
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_EQ(mock.bodies("retorno")[0], mock.bodies("retorno")[1]);  // the same texts
}

struct CutCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> payments;
  const char* keptFile;  // the cut comes right after the program keeps this file
  size_t undone;
};

class RestartBeforeTheCloudHeard : public Restart, public ::testing::WithParamInterface<CutCase> {};

TEST_P(RestartBeforeTheCloudHeard, ApprovalIsUndoneAndTheCloudGetsFour) {
  const CutCase& c = GetParam();
  startManager();
  start();
  const int64_t id = addRequest(57, c.payments);
  cutWhen([this, &c] { return fs::exists(drive(c.keptFile)); });
  poll();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(cloudStatus(id), 3);

  restartAndPoll();
  EXPECT_EQ(states(), std::vector<State>(c.undone, State::Undone));
  EXPECT_EQ(cloudStatus(id), 4);
  EXPECT_EQ(reports(), (std::vector<std::string>{"status:1", "status:3", "retorno:4"}));
  EXPECT_NE(cloudTexts(id)["texto_1"].get<std::string>().find("Transacao nao efetuada"),
            std::string::npos);
  // It moved money once: never taken again.
  EXPECT_FALSE(TakenRequests::mayTakeAgain(*svc->takenRequests().find(57)));
}

const CutCase kCutCases[] = {
    {"OnePayment", {{"CRT", "25,90"}}, "Client/BKPINTPOS/INTPOS.001", 1},
    {"FirstOfTwo", {{"CRT", "10,00"}, {"CRT", "5,00"}}, "Client/BKPINTPOS/Multi/INTPOS.001", 1},
};
void PrintTo(const CutCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RestartBeforeTheCloudHeard, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Restart, AReportCutOnItsWayIsSentAgain) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7);
  // No status report arrives (1, 3 and 8); the approval's report does.
  mock.addFault({"http500", "status", -1});
  poll();
  EXPECT_EQ(states(), std::vector<State>{State::Confirmed});
  EXPECT_EQ(cloudStatus(id), 7);
  EXPECT_FALSE(svc->takenRequests().open().empty());
  mock.clearFaults();
  restartAndPoll();
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_TRUE(svc->takenRequests().open().empty());
  EXPECT_EQ(states(), std::vector<State>{State::Confirmed});  // nothing sent to the manager
}

TEST_F(Restart, NothingElseIsDoneWhileARequestWaitsForTheManager) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  endInTheDecisionWait();
  sim.reset();  // the manager is not running after the restart
  createService();
  const size_t gets = sentAt("/api").size();
  for (int i = 0; i < 3; ++i) poll();
  EXPECT_EQ(sentAt("/api").size(), gets);  // no new request polled
  size_t rows = 0;
  for (const auto& [op, m] : log())
    if (op == "Retomada TEF") ++rows;
  EXPECT_EQ(rows, 1u);  // one row for the state, not one per tick
  // Nor may the administrative command's recovery undo a sale that the cloud decides on.
  startManager();
  svc->SpeedButton1Click();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], tefsync::TfrmPrincipal::kPedidoAberto);
  EXPECT_EQ(states(), std::vector<State>{State::Pending});

  mock.setDecision(id, 7);
  poll();
  EXPECT_EQ(states(), std::vector<State>{State::Confirmed});
  EXPECT_EQ(cloudStatus(id), 8);
}

TEST_F(Restart, ASecondCopyTouchesNothingAndTheFirstSellsOn) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.setDecision(id, 7, 2);
  captureRequests();
  int refused = 0;
  // A second copy starts while the first waits for the cloud's decision.
  watchers.push_back([this, &refused] {
    if (refused > 0 || cloudStatus(57) != 5) return;
    tefsync::TfrmPrincipal::Environment env;
    env.exeDir = exeDir();
    tefsync::TfrmPrincipal second(*this, env);
    const size_t before = requests.size();
    try {
      second.FormCreate();
    } catch (const tefsync::SincronizadorEmExecucao&) {
      ++refused;
    }
    EXPECT_EQ(requests.size(), before);
  });
  poll();
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(states(), std::vector<State>{State::Confirmed});
  EXPECT_EQ(reports(), (std::vector<std::string>{"status:1", "status:3", "retorno:5", "status:8"}));
  EXPECT_TRUE(errors.empty());
  // Free again once the first is gone.
  svc.reset();
  createService();
}

// A record that cannot be written ends the request before anything of the sale reaches the
// manager: no sale is placed unrecorded.
TEST_F(Restart, ARecordThatCannotBeWrittenRefusesTheSaleWithItsReason) {
  startManager();
  start();
  const std::string record = exeDir() + TakenRequests::kArquivo;
  write(record, "tefsync requisicoes 2\n");
  fs::permissions(record, fs::perms::owner_read | fs::perms::group_read);
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  poll();
  std::string rows;
  for (const auto& [op, m] : log()) rows += op + " | " + m + "\n";
  ASSERT_EQ(cloudStatus(id), 4) << rows;
  const std::string texto = cloudTexts(id)["texto_1"].get<std::string>();
  EXPECT_EQ(texto.rfind(tefsync::TfrmPrincipal::kRegistroIndisponivel, 0), 0u) << texto;
  EXPECT_NE(texto.find(TakenRequests::kArquivo), std::string::npos) << texto;
  EXPECT_EQ(reports(), (std::vector<std::string>{"status:1", "retorno:4"}));
  std::vector<std::string> ops;
  for (const auto& r : journal().requests) ops.push_back(r.op);
  EXPECT_EQ(ops, std::vector<std::string>{"ATV"});  // only the manager check
  EXPECT_EQ(read(record), "tefsync requisicoes 2\n");
  fs::permissions(record, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
