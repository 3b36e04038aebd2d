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

TEST(JsonToDataset, RejectsWhatDoesNotFitItsField) {
  const char* bad[] = {
      R"({"id":1})",                          // not an array
      R"([1,2])",                             // not objects
      R"([{"id":"abc"}])",                    // id not a number
      R"([{"id":1.5}])",                      // id not whole
      R"([{"id":99999999999}])",              // out of 32 bits
      R"([{"status":"+-5"}])",                // two signs
      R"([{"requisicao_1":"CREDITO"}])",      // longer than 5
      R"([{"valor_1":"1234567890123,45"}])",  // longer than 15
      R"([{"valor_1":true}])",
      R"([{"id":1},)",
  };
  for (const char* text : bad) EXPECT_THROW(JsonToDataset(text), CloudError) << text;
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

TEST(Selecting, ListThatIsNotAnArrayOfRecordsIsAnError) {
  EXPECT_THROW(parseStatusAnswer(R"({"code":200,"data":[1,2]})", {9, 0, false}, kBefore),
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

TEST(CleanTefText, Table) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"VIA \"CLIENTE\"\r\nVISA", "VIA CLIENTE\\r\\nVISA"},
      {"C:\\TEF", "C:\\\\TEF"},
      {"A\tB", "A\\tB"},
      {std::string("A\x01") + "B\x1f", "A\\u0001B\\u001f"},
      {"Cartão ñ", "Cartão ñ"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(cleanTefText(c.in), c.out) << c.in;
}

TEST(CleanTefText, RetornoIsAlwaysValidJson) {
  std::string nasty = "\"x\"\\\t\x02\r\n\x7f";
  std::string body =
      buildRetornoBody(1, "5", cleanTefText(nasty), cleanTefText("\\"), cleanTefText("\r\n"));
  auto j = nlohmann::ordered_json::parse(body);
  EXPECT_EQ(j["texto_1"], "x\\\t\x02\r\n\x7f");
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
