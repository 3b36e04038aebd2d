// The record of requests taken to a sale: on disk, and in the cycle that never sells one
// request twice.
#include <algorithm>
#include <fstream>
#include <optional>

#include "platform/fs.h"
#include "service_fixture.h"
#include "tefsync/core/TakenRequests.h"

namespace {

using tefsync::TakenRequests;
using Entry = TakenRequests::Entry;
using State = sitefsim::Transaction::State;

class Record : public ::testing::Test {
 protected:
  Record() {
    std::random_device rd;
    dir_ = testsupport::tempRoot() / ("taken_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  ~Record() override {
    plat::setFsOpHook(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path() const { return (dir_ / TakenRequests::kArquivo).string(); }
  std::string onDisk() const {
    std::ifstream in(path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void put(const std::string& bytes) const { std::ofstream(path(), std::ios::binary) << bytes; }

  fs::path dir_;
};

TEST_F(Record, SurvivesARestartWithItsTextsByteForByte) {
  const std::string text = "000-000 = CRT\r\n030-000 = \"Aprovação\"\tC:\\x \\u00e\n";
  {
    TakenRequests r(path());
    EXPECT_FALSE(r.find(57).has_value());
    r.record({57, 3, false, {"dropped", "", ""}});
    r.record({58, 4, true, {text, "", ""}});
    r.record({57, 5, true, {text, "segundo", ""}});
    r.record({59, 8, true, {text, "", ""}});
  }
  TakenRequests again(path());
  const std::optional<Entry> e57 = again.find(57);
  ASSERT_TRUE(e57.has_value());
  EXPECT_EQ(e57->status, 5);
  EXPECT_TRUE(e57->approved);
  EXPECT_EQ(e57->texts, (std::array<std::string, 3>{text, "segundo", ""}));
  EXPECT_EQ(again.find(58)->texts[0], text);
  EXPECT_EQ(again.find(59)->texts[0], "");  // a finished sale's report needs no texts
  const std::string bytes = onDisk();
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4);  // a heading, then a line an id
#ifndef _WIN32  // on Windows a file takes its folder's permissions
  // It holds card data: owner only.
  EXPECT_EQ(fs::status(path()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(Record, KeepsTheMostRecentIds) {
  TakenRequests r(path(), 3);
  for (int64_t id : {1, 2, 3, 4, 2, 5}) r.record({id, 8, true, {}});
  TakenRequests again(path(), 3);
  for (int64_t id : {1, 3}) EXPECT_FALSE(again.find(id).has_value()) << id;
  for (int64_t id : {2, 4, 5}) EXPECT_TRUE(again.find(id).has_value()) << id;
}

TEST(TakenRequestsRule, OnlyNotCarriedOutBeforeAnyApprovalMayBeTakenAgain) {
  struct Case {
    int status;
    bool approved;
    bool again;
  } cases[] = {{4, false, true}, {4, true, false}, {3, false, false},
               {5, true, false}, {8, true, false}, {8, false, false}};
  for (const Case& c : cases)
    EXPECT_EQ(TakenRequests::mayTakeAgain({1, c.status, c.approved, {}}), c.again)
        << c.status << " " << c.approved;
}

TEST_F(Record, AFileThatIsNotARecordIsRefusedAndLeftAsItIs) {
  const char* const files[] = {
      "garbage\n",
      "tefsync requisicoes 1\n57\t8\t1\t\t\t\n58\t8\t1\t\t\t",  // cut short
      "tefsync requisicoes 1\nx\t8\t1\t\t\t\n",
      "tefsync requisicoes 1\n57\t8\t2\t\t\t\n",
      "tefsync requisicoes 1\n57\t5\t1\ta\\qb\t\t\n",
      "tefsync requisicoes 1\n57\t5\t1\t\t\n",
  };
  for (const char* bytes : files) {
    put(bytes);
    TakenRequests r(path());
    EXPECT_THROW(r.find(57), tefsync::TakenRequestsError) << bytes;
    EXPECT_THROW(r.record({60, 3, false, {}}), tefsync::TakenRequestsError) << bytes;
    EXPECT_EQ(onDisk(), bytes);
  }
}

TEST_F(Record, ACrashAtAnyFileOperationLeavesTheOldOrTheNewRecord) {
  {
    TakenRequests r(path());
    r.record({57, 5, true, {"t1", "t2", ""}});
  }
  const std::string before = onDisk();
  struct Cut {};
  for (int cut = 0;; ++cut) {
    put(before);
    TakenRequests r(path());
    ASSERT_TRUE(r.find(57).has_value());  // loaded before the cut
    int ops = 0;
    plat::setFsOpHook([&] {
      if (ops++ == cut) throw Cut{};
    });
    bool finished = true;
    try {
      r.record({58, 3, false, {}});
    } catch (const Cut&) {
      finished = false;
    }
    plat::setFsOpHook(nullptr);
    TakenRequests after(path());
    ASSERT_TRUE(after.find(57).has_value()) << cut;
    EXPECT_EQ(after.find(57)->texts[1], "t2") << cut;
    if (finished) {
      EXPECT_TRUE(after.find(58).has_value());
      EXPECT_GT(cut, 0);
      break;
    }
    EXPECT_TRUE(onDisk() == before || after.find(58).has_value()) << cut;
  }
}

// ---- in the cycle ----

class Taken : public ServiceTest {
 protected:
  // A poll whose decision wait, should a sale start that must not, ends within two minutes.
  void pollAgain() {
    endAfterMs = clock.monotonicMs() + 120000;
    poll();
    endAfterMs = -1;
  }
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& r : mock.recorded()) {
      if (r.method != "POST") continue;
      const auto body = cloudmock::Json::parse(r.body);
      const std::string ep = r.path.substr(r.path.rfind('/') + 1);
      out.push_back(body.contains("status") ? ep + ":" + body["status"].dump() : ep);
    }
    return out;
  }
  // The cloud offers a request of this id again, open.
  void offerAgain(int id, const std::vector<std::pair<std::string, std::string>>& payments) {
    addRequest(id, payments);
  }
  bool loggedResend(int id, int status) const {
    const std::pair<std::string, std::string> row{
        "Requisicao ja realizada",
        "Id " + std::to_string(id) + " reenviado Sts " + std::to_string(status)};
    for (const auto& l : log()) {
      if (l == row) return true;
    }
    return false;
  }
};

TEST_F(Taken, FailedReportsThenTheNextPollMakeOneSaleOnly) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.addFault({"http500", "status", 2});   // statuses 1 and 3
  mock.addFault({"http500", "retorno", 1});  // status 5
  endAfterMs = clock.monotonicMs() + 1;      // the program ends in the decision wait
  poll();
  ASSERT_TRUE(svc->endRequested);
  EXPECT_EQ(cloudStatus(id), 1);  // still open in the cloud
  const std::string texts = mock.bodies("retorno").at(0);

  endAfterMs = -1;
  createService();  // started again
  pollAgain();
  EXPECT_TRUE(loggedResend(57, 5));
  ASSERT_EQ(mock.bodies("retorno").size(), 2u);
  EXPECT_EQ(mock.bodies("retorno")[1], texts);  // the same report
  EXPECT_EQ(cloudStatus(id), 5);
  // No second sale; the restart's recovery undoes the one cut in its decision wait.
  const std::vector<std::string> ops = managerOps();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CRT"), 1);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CNF"), 0);
  EXPECT_EQ(ops.back(), "NCN");
  EXPECT_TRUE(errors.empty());
}

TEST_F(Taken, ARequestOfferedAgainAfterItsSaleGetsItsLastReportAgain) {
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::pair<std::string, std::string>> payments;
    int decision;
    std::vector<std::string> first;  // reports of the first cycle
    int resent;                      // status sent again when offered again
  } cases[] = {
      {"finished",
       "",
       {{"CRT", "25,90"}},
       7,
       {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
       8},
      {"declined after an approval",
       "CRT approve\nCRT decline msg=\"Saldo insuficiente\"",
       {{"CRT", "10,00"}, {"CRT", "5,00"}},
       0,
       {"status:1", "status:3", "retorno:4"},
       4},
  };
  int id = 57;
  for (const Case& c : cases) {
    startManager(c.script);
    start();
    mock.reset();
    addRequest(id, c.payments);
    if (c.decision != 0) mock.setDecision(id, c.decision);
    poll();
    EXPECT_EQ(reports(), c.first) << c.name;
    const size_t transactions = journal().transactions.size();
    const std::vector<std::string> bodies = mock.bodies("retorno");

    mock.reset();  // the cloud lost the outcome and offers the request again
    offerAgain(id, c.payments);
    svc->tblList.clear();
    pollAgain();
    EXPECT_TRUE(loggedResend(id, c.resent)) << c.name;
    EXPECT_EQ(reports(), (std::vector<std::string>{(c.resent == 4 ? "retorno:" : "status:") +
                                                   std::to_string(c.resent)}))
        << c.name;
    if (c.resent == 4) {
      EXPECT_EQ(mock.bodies("retorno"), (std::vector<std::string>{bodies.back()})) << c.name;
    }
    EXPECT_EQ(journal().transactions.size(), transactions) << c.name;  // no new sale
    for (const auto& t : journal().transactions)
      EXPECT_NE(t.state(), State::Pending) << c.name << " " << t.nsu;
    EXPECT_TRUE(errors.empty()) << c.name;
    ++id;
  }
}

TEST_F(Taken, NotCarriedOutBeforeAnyApprovalIsTakenAgain) {
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::pair<std::string, std::string>> payments;
  } cases[] = {
      {"declined", "CRT decline", {{"CRT", "25,90"}}},
      {"first of two declined", "CRT decline", {{"CRT", "10,00"}, {"CRT", "5,00"}}},
  };
  int id = 57;
  for (const Case& c : cases) {
    startManager(c.script);
    start();
    mock.reset();
    addRequest(id, c.payments);
    // No report reaches the cloud: the request stays open there.
    mock.addFault({"http500", "status", 2});
    mock.addFault({"http500", "retorno", 1});
    const size_t before = journal().transactions.size();
    poll();
    EXPECT_EQ(cloudStatus(id), 1) << c.name;
    mock.setDecision(id, 7);
    poll();  // the cloud offers it again: a new sale, approved this time
    EXPECT_EQ(cloudStatus(id), 8) << c.name;
    EXPECT_FALSE(loggedResend(id, 4)) << c.name;
    const auto transactions = journal().transactions;
    ASSERT_EQ(transactions.size(), before + c.payments.size()) << c.name;
    for (size_t i = before; i < transactions.size(); ++i)
      EXPECT_EQ(transactions[i].state(), State::Confirmed) << c.name;
    ++id;
  }
}

TEST_F(Taken, ASaleCutAtTheManagerIsNeverStartedAgain) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.addFault({"http500", "status", -1});  // no status report arrives
  // The engine cannot keep the manager's answer: an error after the request went.
  fs::create_directories(drive("Client/BKPINTPOS/INTPOS.001/x"));
  poll();
  ASSERT_EQ(errors.size(), 1u);
  fs::remove_all(drive("Client/BKPINTPOS/INTPOS.001"));
  EXPECT_EQ(cloudStatus(id), 1);
  mock.clearFaults();
  svc->Habilita_inicial();
  pollAgain();
  EXPECT_TRUE(loggedResend(57, 3));
  EXPECT_EQ(cloudStatus(id), 3);
  const std::vector<std::string> ops = managerOps();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CRT"), 1);
}

TEST_F(Taken, AnUnreadableRecordStopsTheSaleWithAnError) {
  startManager();
  start();
  write(exeDir() + TakenRequests::kArquivo, "not a record\n");
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  poll();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(TakenRequests::kArquivo), std::string::npos) << errors[0];
  EXPECT_EQ(cloudStatus(id), 1);
  EXPECT_TRUE(managerOps().empty());
  EXPECT_EQ(read(exeDir() + TakenRequests::kArquivo), "not a record\n");
}

}  // namespace
