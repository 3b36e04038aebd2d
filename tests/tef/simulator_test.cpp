// The manager stand-in: its script, its answers and its journal.
#include "tef_fixture.h"

namespace {

using sitefsim::Transaction;

TEST(SimulatorScript, ParsesRules) {
  const auto rules = sitefsim::parseScript(
      "# comment\n"
      "CRT approve receipt=0 msg=\"Transação aprovada # 1\" network=ELO times=2\r\n"
      "\n"
      "* decline code=51 delay=2500 ackdelay=100\n"
      "ATV noack times=0\n"
      "CNF ackonly stale  # trailing comment\n"
      "CRT late\n"
      "CRT late delay=90000 split=400\n");
  ASSERT_EQ(rules.size(), 6u);
  EXPECT_EQ(rules[0].kind, "CRT");
  EXPECT_EQ(rules[0].receiptLines, 0);
  EXPECT_EQ(rules[0].message, "Transação aprovada # 1");
  EXPECT_EQ(rules[0].network, "ELO");
  EXPECT_EQ(rules[0].times, 2);
  EXPECT_EQ(rules[1].action, sitefsim::Rule::Action::Decline);
  EXPECT_EQ(rules[1].declineCode, "51");
  EXPECT_EQ(rules[1].answerDelayMs, 2500);
  EXPECT_EQ(rules[1].ackDelayMs, 100);
  EXPECT_EQ(rules[2].times, 0);
  EXPECT_TRUE(rules[3].staleAnswer);
  EXPECT_EQ(rules[4].action, sitefsim::Rule::Action::Late);
  EXPECT_EQ(rules[4].answerDelayMs, 30000);
  EXPECT_EQ(rules[4].splitMs, -1);
  EXPECT_EQ(rules[5].answerDelayMs, 90000);
  EXPECT_EQ(rules[5].splitMs, 400);
}

TEST(SimulatorScript, ErrorsNameTheLine) {
  const char* bad[] = {"XYZ approve",
                       "CRT explode",
                       "CRT approve receipt=x",
                       "CRT approve msg=\"open",
                       "CRT approve color=red",
                       "CRT",
                       "CRT approve answerfile=/nonexistent/file",
                       "CRT approve split=soon"};
  for (const char* line : bad) {
    try {
      sitefsim::parseScript(std::string("ATV approve\n") + line + "\n");
      ADD_FAILURE() << line;
    } catch (const sitefsim::ScriptError& e) {
      EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
  }
}

class Simulator : public TefTest {
 protected:
  void request(const std::string& text) {
    put("Client/REQ/INTPOS.001", text);
    sim->step();
  }
};

TEST_F(Simulator, AnswersInWindows1252WithCrLf) {
  startManager("CRT approve receipt=3 msg=\"Operação concluída\"\n");
  request("000-000 = CRT\r\n001-000 = 101112\r\n002-000 = 8\r\n003-000 = 990\r\n999-999 = 0\r\n");
  EXPECT_FALSE(has("Client/REQ/INTPOS.001"));
  EXPECT_EQ(get("Client/RESP/INTPOS.STS"), "000-000 = CRT\r\n001-000 = 101112\r\n999-999 = 0\r\n");
  const std::string a = get("Client/RESP/INTPOS.001");
  for (const char* line : {"000-000 = CRT\r\n", "001-000 = 101112\r\n", "002-000 = 8\r\n",
                           "003-000 = 990\r\n", "009-000 = 0\r\n", "010-000 = REDECARD\r\n",
                           "012-000 = 100001\r\n", "027-000 = ", "028-000 = 3\r\n", "029-003 = ",
                           "030-000 = Opera\xE7\xE3o conclu\xED"
                           "da\r\n",
                           "040-000 = ", "999-999 = 0\r\n"})
    EXPECT_NE(a.find(line), std::string::npos) << line;
}

TEST_F(Simulator, JournalTellsEachTransactionsState) {
  startManager();
  for (int i = 0; i < 4; ++i) request("000-000 = CRT\r\n001-000 = 1\r\n003-000 = 5\r\n");
  request("000-000 = CNF\r\n001-000 = 2\r\n012-000 = 100002\r\n");
  request("000-000 = NCN\r\n001-000 = 1\r\n012-000 = 100003\r\n");
  request("000-000 = CNF\r\n001-000 = 3\r\n012-000 = 100004\r\n");
  request("000-000 = NCN\r\n001-000 = 1\r\n012-000 = 100004\r\n");
  request("000-000 = NCN\r\n001-000 = 1\r\n012-000 = 999\r\n");
  auto j = journal();
  ASSERT_EQ(j.transactions.size(), 4u);
  EXPECT_EQ(j.byNsu("100001")->state(), Transaction::State::Pending);
  EXPECT_EQ(j.byNsu("100002")->state(), Transaction::State::Confirmed);
  EXPECT_EQ(j.byNsu("100003")->state(), Transaction::State::Undone);
  EXPECT_EQ(j.byNsu("100004")->state(), Transaction::State::Both);
  EXPECT_EQ(j.orphanFinishes, (std::vector<std::string>{"NCN 999"}));

  // A restarted manager goes on numbering; a torn last record is not read.
  startManager();
  request("000-000 = CRT\r\n001-000 = 1\r\n");
  std::ofstream(journalPath(), std::ios::app) << "TXN\t7";
  j = journal();
  EXPECT_EQ(j.transactions.size(), 5u);
  EXPECT_EQ(j.transactions.back().nsu, "100005");
}

TEST_F(Simulator, DelaysAndSilence) {
  startManager("CRT approve ackdelay=1000 delay=2000\nATV noack\n");
  request("000-000 = CRT\r\n001-000 = 1\r\n");
  EXPECT_FALSE(has("Client/RESP/INTPOS.STS"));
  clock.advanceMs(1000);
  sim->step();
  EXPECT_TRUE(has("Client/RESP/INTPOS.STS"));
  EXPECT_FALSE(has("Client/RESP/INTPOS.001"));
  clock.advanceMs(2000);
  sim->step();
  EXPECT_TRUE(has("Client/RESP/INTPOS.001"));

  std::filesystem::remove(at("Client/RESP/INTPOS.STS"));
  request("000-000 = ATV\r\n001-000 = 2\r\n");
  clock.advanceMs(10000);
  sim->step();
  EXPECT_FALSE(has("Client/RESP/INTPOS.STS"));
  EXPECT_EQ(journal().requests.back().action, "noack");
}

// A finish counts only for the transaction it names: an undo under another identifier
// names none; a repeat and a finish both ways are reported.
TEST_F(Simulator, FinishesAreMatchedByIdentifierAndNsu) {
  startManager();
  request("000-000 = CRT\r\n001-000 = 090001\r\n003-000 = 5\r\n");
  request("000-000 = CRT\r\n001-000 = 090002\r\n003-000 = 5\r\n");
  request("000-000 = CRT\r\n001-000 = 090003\r\n003-000 = 5\r\n");
  request("000-000 = NCN\r\n001-000 = 090002\r\n012-000 = 100001\r\n");
  request("000-000 = NCN\r\n001-000 = 090001\r\n012-000 = 100001\r\n");
  sitefsim::journalCut(journalPath());
  request("000-000 = NCN\r\n001-000 = 090001\r\n012-000 = 100001\r\n");
  request("000-000 = CNF\r\n001-000 = 123456\r\n012-000 = 100002\r\n");
  request("000-000 = CNF\r\n001-000 = 090003\r\n012-000 = 100003\r\n");
  request("000-000 = NCN\r\n001-000 = 090003\r\n012-000 = 100003\r\n");
  const auto j = journal();
  EXPECT_EQ(j.orphanFinishes, (std::vector<std::string>{"NCN 100001 id 090002"}));
  EXPECT_EQ(j.cuts, 1);
  const Transaction* first = j.byNsu("100001");
  ASSERT_EQ(first->finishes.size(), 2u);
  EXPECT_EQ(j.requests[first->finishes[0]].cutsBefore, 0);
  EXPECT_EQ(j.requests[first->finishes[1]].cutsBefore, 1);
  EXPECT_EQ(sitefsim::report(j),
            "100001 CRT 090001 undone twice\n"
            "100002 CRT 090002 confirmed\n"
            "100003 CRT 090003 both\n"
            "orphan NCN 100001 id 090002\n");
}

// A manager slow to take a request: it opens it and leaves it in REQ\, never acknowledges,
// and answers approved long after; what it still owes survives the shop's program.
TEST_F(Simulator, LateAnswerIsOwedAcrossARestart) {
  startManager("CRT late delay=20000\n");
  const std::string crt = "000-000 = CRT\r\n001-000 = 101010\r\n003-000 = 700\r\n";
  request(crt);
  clock.advanceMs(19000);
  sim->step();
  EXPECT_EQ(get("Client/REQ/INTPOS.001"), crt);
  EXPECT_FALSE(has("Client/RESP/INTPOS.STS"));
  EXPECT_FALSE(has("Client/RESP/INTPOS.001"));
  EXPECT_EQ(journal().requests.size(), 1u);  // opened once, not again on every look
  EXPECT_EQ(journal().byNsu("100001")->state(), Transaction::State::Pending);
  clock.advanceMs(1000);
  sim->step();
  EXPECT_NE(get("Client/RESP/INTPOS.001").find("009-000 = 0\r\n"), std::string::npos);

  // Stopped before the answer was due: the next run of the manager delivers it and is done
  // with the request it had opened.
  std::filesystem::remove(at("Client/RESP/INTPOS.001"));
  startManager("CRT late\n");
  request("000-000 = CRT\r\n001-000 = 101011\r\n");
  startManager();
  sim->deliverOwed();
  EXPECT_NE(get("Client/RESP/INTPOS.001").find("001-000 = 101011\r\n"), std::string::npos);
  EXPECT_FALSE(has("Client/REQ/INTPOS.001"));
  sim->deliverOwed();  // owed once only
  EXPECT_EQ(journal().transactions.size(), 2u);
}

TEST_F(Simulator, AnswerInTwoStepsHasNoResultUntilTheSecond) {
  startManager("CRT approve delay=100 split=700\n");
  request("000-000 = CRT\r\n001-000 = 101112\r\n003-000 = 990\r\n");
  clock.advanceMs(100);
  sim->step();
  const std::string first = get("Client/RESP/INTPOS.001");
  EXPECT_NE(first.find("001-000 = 101112\r\n"), std::string::npos);
  EXPECT_EQ(first.find("009-000"), std::string::npos);
  EXPECT_EQ(first.find("999-999"), std::string::npos);
  clock.advanceMs(699);
  sim->step();
  EXPECT_EQ(get("Client/RESP/INTPOS.001"), first);
  clock.advanceMs(1);
  sim->step();
  const std::string whole = get("Client/RESP/INTPOS.001");
  EXPECT_EQ(whole.substr(0, first.size()), first);
  EXPECT_NE(whole.find("009-000 = 0\r\n"), std::string::npos);
  EXPECT_EQ(whole.substr(whole.size() - 13), "999-999 = 0\r\n");
}

}  // namespace
