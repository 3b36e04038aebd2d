// The record of requests taken to a sale: on disk, and in the cycle that never sells one
// request twice.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "platform/fs.h"
#include "service_fixture.h"
#include "tefsync/core/TakenRequests.h"

namespace {

using namespace std::string_literals;
using tefsync::TakenRequests;
using Entry = TakenRequests::Entry;
using State = sitefsim::Transaction::State;

std::string shown(const std::optional<Entry>& e) {
  if (!e) return "none";
  std::string s = std::to_string(e->id) + " sts " + std::to_string(e->status) +
                  (e->approved ? " approved" : "") + " numero " + std::to_string(e->numero) +
                  " nsus";
  for (const std::string& n : e->nsus) s += " [" + n + "]";
  for (const std::string& t : e->texts) s += " |" + t;
  return s;
}

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
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string path() const { return (dir_ / TakenRequests::kArquivo).string(); }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string onDisk() const { return read(path()); }
  void put(const std::string& bytes) const { std::ofstream(path(), std::ios::binary) << bytes; }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& f : fs::directory_iterator(dir_)) out.push_back(f.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  // A record whose log rows go to rows.
  TakenRequests make(size_t maxIds = TakenRequests::kMaxIds) {
    TakenRequests r(path(), maxIds);
    r.onLog = [this](const std::string& op, const std::string& m) { rows.emplace_back(op, m); };
    return r;
  }
  // False where the system lets this process write whatever the permissions say (root).
  bool permissionsHold() {
    const fs::path probe = dir_ / "probe";
    fs::create_directories(probe);
    fs::permissions(probe, fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(probe / "x") << "x";
    const bool held = !fs::exists(probe / "x");
    fs::permissions(probe, fs::perms::owner_all);
    fs::remove_all(probe);
    return held;
  }

  plat::VirtualClock clock{plat::DateTime{2024, 3, 7, 9, 5, 4, 0}};
  plat::ScopedClock scoped{clock};
  Lines rows;
  fs::path dir_;
};

TEST_F(Record, SurvivesARestartWithItsTextsByteForByte) {
  const std::string text = "000-000 = CRT\r\n030-000 = \"Aprovação\"\tC:\\x \\u00e\\0\0 nul\n"s;
  const std::string nsu = "1234\t5\\0\0"s;
  {
    TakenRequests r(path());
    EXPECT_FALSE(r.find(57).has_value());
    r.record({57, 3, false, {"dropped", "", ""}, 1057, {}});
    r.record({58, 4, true, {text, "", ""}, 1058, {"100001"}});
    r.record({57, 5, true, {text, "segundo", ""}, 1057, {"100002", nsu, ""}});
    r.record({59, 8, true, {text, "", ""}, 1059, {"100004"}});
  }
  TakenRequests again(path());
  EXPECT_EQ(shown(again.find(57)),
            shown(Entry{57, 5, true, {text, "segundo", ""}, 1057, {"100002", nsu, ""}}));
  EXPECT_EQ(shown(again.find(58)), shown(Entry{58, 4, true, {text, "", ""}, 1058, {"100001"}}));
  // A finished sale's report needs no texts; its number and NSUs stay.
  EXPECT_EQ(shown(again.find(59)), shown(Entry{59, 8, true, {}, 1059, {"100004"}}));
  const std::string bytes = onDisk();
  EXPECT_EQ(bytes.substr(0, 22), "tefsync requisicoes 2\n");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4);  // a heading, then a line an id
  EXPECT_EQ(bytes.find('\0'), std::string::npos);              // a NUL on disk is damage
#ifndef _WIN32  // on Windows a file takes its folder's permissions
  // It holds card data: owner only.
  EXPECT_EQ(fs::status(path()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_THROW(again.record({60, 8, true, {}, 1060, {"1", "2", "3", "4"}}),
               tefsync::TakenRequestsError);
  EXPECT_EQ(onDisk(), bytes);
}

TEST_F(Record, AFirstFormatFileIsReadAsItWasAndWrittenInTheNewOne) {
  const std::string v1 = "tefsync requisicoes 1\n57\t5\t1\ta\\tb\\\\\t\\n\t\n58\t8\t1\t\t\t\n";
  put(v1);
  TakenRequests r = make();
  EXPECT_EQ(shown(r.find(57)), shown(Entry{57, 5, true, {"a\tb\\", "\n", ""}}));
  EXPECT_EQ(shown(r.find(58)), shown(Entry{58, 8, true, {}}));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(onDisk(), v1);
  EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo}));
  r.record({59, 3, false, {}, 1059, {}});
  TakenRequests again = make();
  EXPECT_EQ(shown(again.find(57)), shown(Entry{57, 5, true, {"a\tb\\", "\n", ""}}));
  EXPECT_TRUE(again.find(58).has_value());
  EXPECT_EQ(shown(again.find(59)), shown(Entry{59, 3, false, {}, 1059, {}}));
  EXPECT_EQ(onDisk().substr(0, 22), "tefsync requisicoes 2\n");
  EXPECT_TRUE(rows.empty());
}

TEST_F(Record, KeepsTheMostRecentIds) {
  TakenRequests r(path(), 3);
  for (int64_t id : {1, 2, 3, 4, 2, 5}) r.record({id, 8, true, {}});
  TakenRequests again(path(), 3);
  for (int64_t id : {1, 3}) EXPECT_FALSE(again.find(id).has_value()) << id;
  for (int64_t id : {2, 4, 5}) EXPECT_TRUE(again.find(id).has_value()) << id;

  // A whole file with more ids than kept is no damage: all are read, the next write keeps
  // the newest.
  put("tefsync requisicoes 2\n1\t8\t1\t0\t0\t\t\t\n2\t8\t1\t0\t0\t\t\t\n3\t8\t1\t0\t0\t\t\t\n"
      "4\t8\t1\t0\t0\t\t\t\n5\t8\t1\t0\t0\t\t\t\n");
  TakenRequests big = make(3);
  for (int64_t id : {1, 2, 3, 4, 5}) EXPECT_TRUE(big.find(id).has_value()) << id;
  EXPECT_TRUE(rows.empty());
  big.record({6, 8, true, {}});
  TakenRequests after(path(), 3);
  for (int64_t id : {1, 2, 3}) EXPECT_FALSE(after.find(id).has_value()) << id;
  for (int64_t id : {4, 5, 6}) EXPECT_TRUE(after.find(id).has_value()) << id;
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

TEST_F(Record, OpenListsTheSalesThatMayNotBeFinishedOldestFirst) {
  TakenRequests r(path());
  r.record({57, 3, false, {}, 1057, {}});
  r.record({58, 5, true, {"t", "", ""}, 1058, {"100001", "100002"}});
  r.record({59, 4, true, {"m", "", ""}, 1059, {"100003"}});
  r.record({60, 8, true, {}, 1060, {"100004"}});
  r.record({61, 3, false, {}, 1061, {}});
  r.record({57, 5, true, {"u", "", ""}, 1057, {"100005"}});  // now the newest
  const auto ids = [](const std::vector<Entry>& es) {
    std::vector<std::string> out;
    for (const Entry& e : es) out.push_back(shown(e));
    return out;
  };
  const std::vector<std::string> open = {
      shown(Entry{58, 5, true, {"t", "", ""}, 1058, {"100001", "100002"}}),
      shown(Entry{61, 3, false, {}, 1061, {}}),
      shown(Entry{57, 5, true, {"u", "", ""}, 1057, {"100005"}})};
  EXPECT_EQ(ids(r.open()), open);
  TakenRequests again(path());
  EXPECT_EQ(ids(again.open()), open);
  again.record({58, 8, true, {}, 1058, {"100001", "100002"}});
  EXPECT_EQ(again.open().size(), 2u);
  EXPECT_TRUE(TakenRequests(path() + ".none").open().empty());
}

TEST_F(Record, AFileThatIsNotARecordIsRefusedAndLeftAsItIs) {
  const char* const files[] = {
      "garbage\n",
      "tefsync requisicoes 1\n57\t8\t1\t\t\t\n58\t8\t1\t\t\t",  // cut short
      "tefsync requisicoes 1\nx\t8\t1\t\t\t\n",
      "tefsync requisicoes 1\n57\t8\t2\t\t\t\n",
      "tefsync requisicoes 1\n57\t5\t1\ta\\qb\t\t\n",
      "tefsync requisicoes 1\n57\t5\t1\t\t\n",
      "tefsync requisicoes 2\n57\t8\t1\t0\t1\t\t\t\n",
      "tefsync requisicoes 2\n57\t8\t1\t0\t0\t\0\t\t\n",
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
    r.record({57, 5, true, {"t1", "t2", ""}, 1057, {"100001"}});
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
