#include "tefsync/core/cloud_api.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tefsync {
namespace {

TEST(FormUrl, Table) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"https://cloud.example/api", "https://cloud.example/api"},
      {"  https://cloud.example/api/  ", "https://cloud.example/api"},
      {"cloud.example/api/", "http://cloud.example/api"},
      {"localhost:8080/api", "http://localhost:8080/api"},
      {"https://cloud.example/api//", "https://cloud.example/api/"},
      {"HTTPS://CLOUD.EXAMPLE", "HTTPS://CLOUD.EXAMPLE"},
      // A report path appended to a base that ends in "/" keeps both slashes.
      {"https://cloud.example/api//status", "https://cloud.example/api//status"},
      {"   ", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(formUrl(c.in), c.out) << c.in;
}

TEST(CompactJson, WritesMembersInTheirOrderWithoutBlanks) {
  EXPECT_EQ(compactJson("{ \"z\" : 1,\r\n \"a\" : [ {\"b\" : \"x y\"} ] }"),
            R"({"z":1,"a":[{"b":"x y"}]})");
  EXPECT_THROW(compactJson("<html>"), CloudError);
  EXPECT_THROW(compactJson(""), CloudError);
}

TEST(JsonToDataset, FillsByNameAndReadsMissingAsEmpty) {
  auto records =
      JsonToDataset(R"([{"id":57,"user_id":"3","empresa_id":9,"numero":1001,"status":null,)"
                    R"("requisicao_1":"CRT","valor_1":25.9,"extra":{"x":1}},{"id":58}])");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].id, 57);
  EXPECT_EQ(records[0].user_id, 3);
  EXPECT_EQ(records[0].empresa_id, 9);
  EXPECT_EQ(records[0].numero, 1001);
  EXPECT_EQ(records[0].status, 0);
  EXPECT_EQ(records[0].requisicao_1, "CRT");
  EXPECT_EQ(records[0].valor_1, "25.9");
  EXPECT_EQ(records[0].requisicao_2, "");
  EXPECT_EQ(records[1].id, 58);
  EXPECT_EQ(records[1].empresa_id, 0);
}

TEST(JsonToDataset, RejectsWhatIsNotAList) {
  const char* bad[] = {R"({"id":1})", R"([{"id":1},)", ""};
  for (const char* text : bad) EXPECT_THROW(JsonToDataset(text), CloudError) << text;
}

// One broken record, wherever it is, is passed over; the records around it are read.
TEST(JsonToDataset, PassesOverARecordThatDoesNotFitItsField) {
  struct Case {
    const char* record;
    const char* id;      // as the log names it
    const char* reason;  // start of the reason
  } cases[] = {
      {"1", "", "Requisicao nao e um objeto JSON"},
      {R"({"id":"abc"})", "abc", "Campo id nao e um numero inteiro: \"abc\""},
      {R"({"id":1.5})", "1.5", "Campo id nao e um numero inteiro: 1.5"},
      {R"({"id":99999999999})", "99999999999", "Campo id fora da faixa: 99999999999"},
      {R"({"id":12,"status":1.0})", "12", "Campo status nao e um numero inteiro: 1.0"},
      {R"({"id":12,"status":"+-5"})", "12", "Campo status nao e um numero inteiro"},
      {R"({"id":12,"requisicao_1":"CREDITO"})", "12", "Campo requisicao_1 com mais de 5"},
      {R"({"id":12,"valor_1":"1234567890123,45"})", "12", "Campo valor_1 com mais de 15"},
      {R"({"valor_1":true})", "", "Campo valor_1 nao e texto: true"},
      {R"({"id":12,"empresa_id":[1,2]})", "12", "Campo empresa_id nao e um numero inteiro"},
  };
  for (const Case& c : cases) {
    std::vector<SkippedRecord> skipped;
    const std::string list = std::string(R"([{"id":5},)") + c.record + R"(,{"id":6}])";
    auto records = JsonToDataset(list, &skipped);
    ASSERT_EQ(records.size(), 2u) << c.record;
    EXPECT_EQ(records[0].id, 5);
    EXPECT_EQ(records[1].id, 6);
    ASSERT_EQ(skipped.size(), 1u) << c.record;
    EXPECT_EQ(skipped[0].id, c.id) << c.record;
    EXPECT_EQ(skipped[0].reason.rfind(c.reason, 0), 0u) << skipped[0].reason;
  }
}

TEST(JsonToDataset, QuotesABrokenValueShortened) {
  std::vector<SkippedRecord> skipped;
  JsonToDataset(R"([{"id":")" + std::string(5000, '9') + R"("}])", &skipped);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_LT(skipped[0].id.size(), 50u);
  EXPECT_LT(skipped[0].reason.size(), 100u);
}

TEST(SkippedRecordsText, NamesEveryIdUpToTenAndTheFirstReason) {
  EXPECT_EQ(skippedRecordsText({}), "");
  EXPECT_EQ(skippedRecordsText({{"12", "Campo status nao e um numero inteiro: 1.0"}}),
            "Requisicao ignorada (id 12): Campo status nao e um numero inteiro: 1.0");
  EXPECT_EQ(skippedRecordsText({{"12", "a"}, {"", "b"}}),
            "2 requisicoes ignoradas (id 12, sem id): a");
  std::vector<SkippedRecord> many(12, SkippedRecord{"7", "x"});
  EXPECT_EQ(skippedRecordsText(many),
            "12 requisicoes ignoradas (id 7, id 7, id 7, id 7, id 7, id 7, id 7, id 7, id 7, "
            "id 7, ...): x");
}

// Answers nested past the limit are refused before anything is built or written back that
// deep (100000 levels used to overflow the stack).
TEST(CompactJson, RefusesNestingBeyondTheLimit) {
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_EQ(compactJson(nested(kMaxJsonDepth)), nested(kMaxJsonDepth));
  EXPECT_EQ(compactJson(R"({"a":)" + nested(kMaxJsonDepth - 1) + "}"),
            R"({"a":)" + nested(kMaxJsonDepth - 1) + "}");
  for (const std::string& deep :
       {nested(kMaxJsonDepth + 1), nested(100000), std::string(100000, '['),
        R"({"code":200,"status":)" + std::string(100000, '{') + "}"}) {
    try {
      compactJson(deep);
      ADD_FAILURE() << deep.size();
    } catch (const CloudError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Resposta nao e JSON: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(JsonToDataset(deep), CloudError);
  }
}

struct SelectionCase {
  const char* name;
  std::string answer;
  SelectionRules rules;
  bool selected;
  int32_t id;
  int32_t numero;
  std::array<std::string, 6> mat;
};

const std::array<std::string, 6> kBefore = {"A", "1", "B", "2", "C", "3"};

class Selecting : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(Selecting, Table) {
  const SelectionCase& c = GetParam();
  Selection s = parseStatusAnswer(c.answer, c.rules, kBefore);
  EXPECT_EQ(s.selected, c.selected);
  EXPECT_EQ(s.id, c.id);
  EXPECT_EQ(s.numero, c.numero);
  EXPECT_EQ(s.mat, c.mat);
}

std::string rec(int id, int empresa, int user, int status, const std::string& more = "") {
  return R"({"id":)" + std::to_string(id) + R"(,"user_id":)" + std::to_string(user) +
         R"(,"empresa_id":)" + std::to_string(empresa) + R"(,"status":)" + std::to_string(status) +
         R"(,"numero":)" + std::to_string(id * 10) + more + "}";
}

std::string ok(const std::string& records) {
  return R"({"code":200,"data":[)" + records + "]}";
}

const std::string kCrt = R"(,"requisicao_1":"CRT","valor_1":"12.50")";
const std::array<std::string, 6> kCrtMat = {"CRT", "12,50", "", "", "", ""};

INSTANTIATE_TEST_SUITE_P(
    StatusAnswer, Selecting,
    ::testing::Values(
        SelectionCase{"first_passing",
                      ok(rec(5, 9, 1, 1, kCrt) + "," + rec(6, 9, 1, 0, kCrt)),
                      {9, 0, false},
                      true,
                      5,
                      50,
                      kCrtMat},
        SelectionCase{
            "other_company", ok(rec(5, 8, 1, 1, kCrt)), {9, 0, false}, false, 0, 0, kBefore},
        SelectionCase{"status_2_never",
                      ok(rec(5, 9, 1, 2, kCrt) + "," + rec(6, 9, 1, 1, kCrt)),
                      {9, 0, false},
                      true,
                      6,
                      60,
                      kCrtMat},
        SelectionCase{"register_must_match",
                      ok(rec(5, 9, 1, 1, kCrt) + "," + rec(6, 9, 3, 1)),
                      {9, 3, false},
                      true,
                      6,
                      60,
                      {"", "", "", "", "", ""}},
        SelectionCase{
            "register_0_takes_any", ok(rec(5, 9, 4, 1, kCrt)), {9, 0, false}, true, 5, 50, kCrtMat},
        SelectionCase{"code_as_text",
                      R"({"code":"200","data":[)" + rec(5, 9, 1, 1) + "]}",
                      {9, 0, false},
                      false,
                      0,
                      0,
                      kBefore},
        SelectionCase{"code_not_200",
                      R"({"code":404,"data":[)" + rec(5, 9, 1, 1) + "]}",
                      {9, 0, false},
                      false,
                      0,
                      0,
                      kBefore},
        SelectionCase{"empty_list", ok(""), {9, 0, false}, false, 0, 0, kBefore},
        // Without brackets the answer's own members are read as one record.
        SelectionCase{"no_brackets",
                      R"({"code":200,"id":7,"empresa_id":9,"status":1})",
                      {9, 0, false},
                      true,
                      7,
                      0,
                      {"", "", "", "", "", ""}},
        // A passing record with id 0 is taken but the walk goes on to replace it.
        SelectionCase{"id_0_walk_goes_on",
                      ok(rec(0, 9, 1, 1, kCrt) + "," + rec(6, 9, 1, 1) + "," + rec(7, 9, 1, 1)),
                      {9, 0, false},
                      true,
                      6,
                      60,
                      {"", "", "", "", "", ""}},
        SelectionCase{"id_0_only", ok(rec(0, 9, 1, 1, kCrt)), {9, 0, false}, true, 0, 0, kCrtMat},
        SelectionCase{"thousands_point",
                      ok(rec(5, 9, 1, 1, R"(,"requisicao_1":"CRT","valor_1":"1.234,56")")),
                      {9, 0, false},
                      true,
                      5,
                      50,
                      {"CRT", "1,234,56", "", "", "", ""}},
        SelectionCase{
            "pix_rule",
            ok(rec(5, 9, 1, 1,
                   R"(,"requisicao_1":"PIX","valor_1":"1","requisicao_2":"CRT","valor_2":"2",)"
                   R"("requisicao_3":"PIX","valor_3":"3")")),
            {9, 0, false},
            true,
            5,
            50,
            {"CARTDIGI", "1", "CRT", "2", "CARTDIGI", "3"}},
        SelectionCase{
            "pix_rule_test_computer",
            ok(rec(5, 9, 1, 1,
                   R"(,"requisicao_1":"PIX","valor_1":"1","requisicao_2":"CRT","valor_2":"2",)"
                   R"("requisicao_3":"PIX","valor_3":"3")")),
            {9, 0, true},
            true,
            5,
            50,
            {"CRT", "1", "CRT", "2", "CRT", "3"}}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

TEST(Selecting, ABrokenRecordDoesNotStopTheRest) {
  // Another company's broken records come first; this register's request is still taken.
  Selection s =
      parseStatusAnswer(ok(R"({"id":99999999999,"empresa_id":8},1,)" + rec(5, 9, 1, 1, kCrt)),
                        {9, 0, false}, kBefore);
  EXPECT_TRUE(s.selected);
  EXPECT_EQ(s.id, 5);
  EXPECT_EQ(s.mat, kCrtMat);
  ASSERT_EQ(s.skipped.size(), 2u);
  EXPECT_EQ(s.skipped[0].id, "99999999999");
  EXPECT_EQ(s.skipped[1].id, "");

  s = parseStatusAnswer(ok("1,2"), {9, 0, false}, kBefore);
  EXPECT_FALSE(s.selected);
  EXPECT_EQ(s.skipped.size(), 2u);
  EXPECT_THROW(parseStatusAnswer(R"({"code":200,"data":[1,}]})", {9, 0, false}, kBefore),
               CloudError);
}

TEST(ReadDecision, Table) {
  struct Case {
    const char* answer;
    int decision;
  } cases[] = {
      {R"({"code":200,"status":6})", 6},
      {R"({"code":200,"status":7})", 7},
      {R"({"code":200,"status":"7"})", 7},
      {R"({"code":"200","status":"6"})", 6},
      {R"({"code":200,"status":5})", 1},
      // Closed in the cloud without a decision.
      {R"({"code":200,"status":4})", 4},
      {R"({"code":200,"status":"8"})", 8},
      {R"({"code":500,"status":8})", 1},
      {R"({"code":200,"status":3})", 1},
      {R"({"code":500,"status":7})", 1},
      {R"({"code":200,"status":7,"message":"ok"})", 1},  // a third member is unreadable
      {R"({"status":7,"code":200})", 1},
      {R"("")", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(readDecision(c.answer), c.decision) << c.answer;
}

TEST(Bodies, StatusReportIsTwentyTwoBytes) {
  std::string body = buildStatusBody(57, "1");
  EXPECT_EQ(body, "{\"id\":57,\"status\":1}\r\n");
  EXPECT_EQ(body.size(), 22u);
  EXPECT_EQ(buildVerificaBody(57), "{\"id\":57}\r\n");
}

TEST(Bodies, RetornoByStatus) {
  EXPECT_EQ(buildRetornoBody(57, "4", "Cartao recusado", "x", "y"),
            " {\"id\":57\r\n,\"status\":4\r\n,\"texto_1\":\"Cartao recusado\"}\r\n");
  EXPECT_EQ(buildRetornoBody(57, "5", "A", "", "C"),
            " {\"id\":57\r\n,\"status\":5\r\n,\"texto_1\":\"A\"\r\n,\"texto_2\":\"\"\r\n"
            ",\"texto_3\":\"C\"}\r\n");
  EXPECT_EQ(buildRetornoBody(57, "3", "A", "B", "C"), " {\"id\":57\r\n,\"status\":3\r\n");
}

// Written as the rule writes it (quotes dropped, CR and LF as \r and \n) wherever that is
// valid JSON; a backslash that begins no valid escape is doubled, other controls escaped.
TEST(CleanTefText, Table) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"VIA \"CLIENTE\"\r\nVISA", "VIA CLIENTE\\r\\nVISA"},
      // The engine's own line breaks inside a message reach the cloud as line breaks.
      {"Favor Reter o Cupom\\r\\n Rede: REDECARD\r\n",
       "Favor Reter o Cupom\\r\\n Rede: REDECARD\\r\\n"},
      {"C:\\x \\u00e", "C:\\\\x \\\\u00e"},
      {"C:\\TEF", "C:\\\\TEF"},
      {"\\\\ \\/ \\b \\f \\t \\u00e9 \\u00E9", "\\\\ \\/ \\b \\f \\t \\u00e9 \\u00E9"},
      {"\\\\x", "\\\\x"},        // an escaped backslash, then x
      {"\\\\\\x", "\\\\\\\\x"},  // then a lone one before x
      {"fim\\", "fim\\\\"},
      {"\\\r", "\\\\\\r"},  // a backslash before a real CR
      {"\\\"n", "\\n"},     // the quote goes first: what is left is an escape
      {"\\uD83D\\uDE00", "\\uD83D\\uDE00"},
      {"\\uD83D x", "\\\\uD83D x"},  // half a pair is not valid text
      {"\\uDE00", "\\\\uDE00"},
      {"\\u12G4 \\x", "\\\\u12G4 \\\\x"},
      {"A\tB", "A\\tB"},
      {std::string("A\x01") + "B\x1f", "A\\u0001B\\u001f"},
      {"Cartão ñ", "Cartão ñ"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(cleanTefText(c.in), c.out) << c.in;
}

TEST(CleanTefText, RetornoIsAlwaysValidJson) {
  std::string nasty = "\"x\"\\\t\x02\r\n\x7f C:\\x \\u00e \\uD800 \\r\\n";
  std::string body =
      buildRetornoBody(1, "5", cleanTefText(nasty), cleanTefText("\\"), cleanTefText("\r\n"));
  auto j = nlohmann::ordered_json::parse(body);
  EXPECT_EQ(j["texto_1"], "x\\\t\x02\r\n\x7f C:\\x \\u00e \\uD800 \r\n");
  EXPECT_EQ(j["texto_2"], "\\");
}

TEST(OperationList, Table) {
  using M = std::array<std::string, 6>;
  EXPECT_EQ(operationList(M{"CRT", "25,90", "", "", "", ""}), "CRT;");
  EXPECT_EQ(operationList(M{"CARTDIGI", "1", "CRT", "2", "CARTDIGI", "3"}),
            "CARTDIGI;CRT;CARTDIGI;");
  EXPECT_EQ(operationList(M{"CRT", "1", "", "", "CRT", "3"}), "CRT;CRT;");
  EXPECT_EQ(operationList(M{"", "", "", "", "", ""}), ";");
}

TEST(ConvertAmount, Table) {
  struct Case {
    const char* in;
    double value;
  } good[] = {{"25,90", 25.9}, {"", 0}, {"10", 10}, {"0,5", 0.5}, {" 7,25 ", 7.25}, {",5", 0.5}};
  for (const Case& c : good) EXPECT_DOUBLE_EQ(convertAmount(c.in), c.value) << c.in;
  const char* bad[] = {"1,234,56", "12.50", "-5", "+5", "abc", ",", " ", "1e3", "nan"};
  for (const char* text : bad) EXPECT_THROW(convertAmount(text), std::invalid_argument) << text;
}

TEST(AmountRefusal, CardAndPixMustBeAboveZero) {
  using M = std::array<std::string, 6>;
  struct Case {
    M mat;
    const char* refusal;
  } cases[] = {
      {M{"CRT", "25,90", "", "", "", ""}, ""},
      {M{"CRT", "0,01", "CARTDIGI", "1", "CRT", "2"}, ""},
      {M{"ADM", "0", "", "", "", ""}, ""},  // the administrative request keeps its zero
      {M{"ADM", "", "", "", "", ""}, ""},
      {M{"CRT", "1,234,56", "", "", "", ""}, ""},  // left to the sale's own conversion
      {M{"CRT", "0", "", "", "", ""},
       "Valor do pagamento 1 (CRT) nao e maior que zero: 0. Pagamento nao enviado ao TEF."},
      {M{"CRT", "", "", "", "", ""},
       "Valor do pagamento 1 (CRT) nao e maior que zero: vazio. Pagamento nao enviado ao TEF."},
      {M{"CRT", "10", "CARTDIGI", "0,00", "", ""},
       "Valor do pagamento 2 (CARTDIGI) nao e maior que zero: 0,00. Pagamento nao enviado ao "
       "TEF."},
      {M{"CRT", "-5", "", "", "CRT", "0,004"},
       "Valor do pagamento 1 (CRT) nao e maior que zero: -5. Valor do pagamento 3 (CRT) nao e "
       "maior que zero: 0,004. Pagamento nao enviado ao TEF."},
      {M{"CRT", "5", "", "", "", "  "}, ""},  // no third operation: no third payment
  };
  for (const Case& c : cases) EXPECT_EQ(amountRefusal(c.mat), c.refusal) << c.mat[1];
}

TEST(PlainHttpOffLoopback, Table) {
  struct Case {
    const char* url;
    bool warn;
  } cases[] = {
      {"http://cloud.example/api", true},
      {"cloud.example/api", true},  // no scheme: "http://" goes in front
      {"HTTP://Cloud.Example:8080/api", true},
      {"http://user@10.0.0.5/api", true},
      {"http://127.0.0.1.example/api", true},
      {"http://128.0.0.1/api", true},
      {"https://cloud.example/api", false},
      {"http://localhost:8080/api", false},
      {"http://LOCALHOST./api", false},
      {"http://127.0.0.1:4711/api/", false},
      {"http://127.9.8.7/api", false},
      {"http://[::1]:8080/api", false},
      {"", false},
      {"http://", false},
  };
  for (const Case& c : cases) EXPECT_EQ(plainHttpOffLoopback(c.url), c.warn) << c.url;
}

TEST(ConvertAmount, MessageNamesTheText) {
  try {
    convertAmount("1,234,56");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "'1,234,56' is not a valid floating point value");
  }
}

}  // namespace
}  // namespace tefsync
