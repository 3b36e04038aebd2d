// Broken acknowledgment and answer files: none crashes, each ends as it should, with a
// clear error where the engine cannot go on, and nothing a later recovery needs is lost.
#include <algorithm>

#include "tef_fixture.h"

namespace {

std::string binary() {
  std::string b;
  for (int i = 0; i < 512; ++i) b += static_cast<char>((i * 37 + 11) % 256);
  return b;
}

std::string manyLines(const std::string& last) {
  std::string s;
  for (int i = 0; i < 10000; ++i) s += "100-000 = filler\r\n";
  return s + last;
}

class BadInput : public TefTest {
 protected:
  BadInput() { clock.set({2024, 3, 7, 9, 5, 4, 0}); }
  sitefsim::Rule rawAnswer(const std::string& bytes) {
    sitefsim::Rule r;
    r.kind = "CRT";
    r.rawAnswer = bytes;
    return r;
  }
};

TEST_F(BadInput, Acknowledgments) {
  struct Case {
    const char* name;
    std::string bytes;
    int result;
  } cases[] = {
      {"empty", "", 1},
      {"binary", binary(), 1},
      {"without 001-000", "000-000 = ATV\r\n999-999 = 0\r\n", 1},
      {"non-numeric 001-000", "001-000 = abc\r\n", 1},
      {"short lines", "001\r\n00\r\n\r\n001-000\r\n", 1},
      {"10,000 lines", manyLines("001-000 = 090504\r\n"), 0},
      {"1,000-character value", "001-000 = " + std::string(1000, '9') + "\r\n", 1},
  };
  for (const auto& c : cases) {
    sitefsim::Rule r;
    r.kind = "ATV";
    r.rawAck = c.bytes;
    startManager({r});
    clock.set({2024, 3, 7, 9, 5, 4, 0});
    engine->str_msg_acumulada.clear();
    EXPECT_EQ(engine->VerificaGerenciadorPadrao(), c.result) << c.name;
    EXPECT_EQ(engine->str_msg_acumulada.empty(), c.result == 0) << c.name;
  }
}

// An answer counts only once it ends with its 999-999 line: until then it is left as it is
// and the wait goes on; a whole answer without the sale's identifier is discarded.
TEST_F(BadInput, AnswersWithoutAnIdentifierOrEnd) {
  struct Case {
    const char* name;
    std::string bytes;
    bool discarded;
  } cases[] = {
      {"empty", "", false},
      {"binary", binary(), false},
      {"no end", "000-000 = CRT\r\n009-000 = 0\r\n028-000 = 1\r\n", false},
      {"no identifier", "000-000 = CRT\r\n009-000 = 0\r\n028-000 = 0\r\n999-999 = 0\r\n", true},
  };
  for (const auto& c : cases) {
    newEngine();
    std::filesystem::remove(at("Client/BKPINTPOS/TesteCupom.zkt"));
    startManager({rawAnswer(c.bytes)});
    deadlineMs = clock.monotonicMs() + 60000;
    EXPECT_THROW(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), Deadline) << c.name;
    EXPECT_EQ(has("Client/RESP/INTPOS.001"), !c.discarded) << c.name;
    EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.001")) << c.name;
    EXPECT_TRUE(has("Client/BKPINTPOS/TesteCupom.zkt")) << c.name;
    std::filesystem::remove(at("Client/RESP/INTPOS.001"));
  }
}

TEST_F(BadInput, NonNumericIdentifierIsAClearError) {
  startManager(
      {rawAnswer(answerText({"001-000 = 09O504", "009-000 = 0", "028-000 = 1", "999-999 = 0"}))});
  try {
    engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0);
    ADD_FAILURE() << "no error";
  } catch (const tef::TefError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("INTPOS.001"), std::string::npos) << m;
    EXPECT_NE(m.find("001-000"), std::string::npos) << m;
    EXPECT_NE(m.find("\"09O504\""), std::string::npos) << m;
  }
  // Nothing the recovery needs is gone: the answer and the marker.
  EXPECT_TRUE(has("Client/RESP/INTPOS.001"));
  EXPECT_TRUE(has("Client/BKPINTPOS/TesteCupom.zkt"));
}

TEST_F(BadInput, OddButReadableAnswers) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
    int receiptSends;  // CNF sent on confirmation
  } cases[] = {
      {"short lines",
       answerText({"001-000 = 090504", "abc", "", "009-000 = 0", "028-000", "999-999 = 0"}),
       "030 empty", 0},
      {"10,000 lines", manyLines(answerText({"001-000 = 090504", "009-000 = 0", "999-999 = 0"})),
       "030 empty", 0},
      {"1,000-character value",
       answerText({"001-000 = 090504", "009-000 = 0", "030-000 = " + std::string(1000, 'M'),
                   "999-999 = 0"}),
       std::string(80, 'M'), 0},
      // A count that is not a number counts as receipt lines: confirmed, never left pending.
      {"count not a number",
       answerText({"001-000 = 090504", "009-000 = 0", "028-000 = two", "999-999 = 0"}), "030 empty",
       1},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(at("Client/BKPINTPOS"));
    std::filesystem::create_directories(at("Client/BKPINTPOS/Multi"));
    std::filesystem::remove(journalPath());
    newEngine();
    startManager({rawAnswer(c.bytes)});
    clock.set({2024, 3, 7, 9, 5, 4, 0});
    EXPECT_EQ(engine->RealizaTransacaoCRT("1", "CRT;", "EXTERNO", 10, 0, 0), 0) << c.name;
    EXPECT_EQ(engine->str_msg_acumulada, c.message == "030 empty" ? "" : c.message + "\r\n")
        << c.name;
    EXPECT_EQ(engine->ConfirmaTransacao(), 0) << c.name;
    const auto sent = ops();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "CNF"), c.receiptSends) << c.name;
    EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.001")) << c.name;
  }
}

TEST_F(BadInput, BrokenFilesInTheRecovery) {
  startManager();
  // A backup answer whose count is not a number is undone under the marker (it never blocks
  // every later recovery).
  put("Client/BKPINTPOS/INTPOS.001", answerText({"001-000 = 1", "028-000 = -1", "999-999 = 0"}));
  put("Client/BKPINTPOS/TesteCupom.zkt", "teste\r\n");
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(ops(), (std::vector<std::string>{"ATV", "NCN"}));
  EXPECT_FALSE(has("Client/BKPINTPOS/INTPOS.001"));
  EXPECT_FALSE(has("Client/BKPINTPOS/TesteCupom.zkt"));

  // A saved request that is binary is no CNF or NCN: left alone.
  put("Client/BKPINTPOS/INTPOS.BKP", binary());
  EXPECT_EQ(engine->Verifica_Transacao_Pendente(), 0);
  EXPECT_EQ(get("Client/BKPINTPOS/INTPOS.BKP"), binary());
}

}  // namespace
