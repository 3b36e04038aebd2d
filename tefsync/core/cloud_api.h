// The cloud API's wire rules as pure functions: URL forming, reading the answers by their
// fixed text positions, the selection of a request and the report bodies.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tefsync {

// A fault reading or writing the cloud's data (bad JSON, a value out of its field).
class CloudError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One element of the status query's list, filled by member name.
struct RequestRecord {
  int32_t user_id = 0;
  int32_t id = 0;
  int32_t status = 0;
  std::string requisicao_1, requisicao_2, requisicao_3;  // up to 5 characters
  std::string valor_1, valor_2, valor_3;                 // up to 15 characters
  int32_t empresa_id = 0;
  int32_t numero = 0;
};

// A record of the list that was left out: its id as written ("" when it has none) and why.
struct SkippedRecord {
  std::string id;
  std::string reason;
};

// Parses a JSON array of request records. Throws CloudError when the text is not a JSON
// array. An element that is not an object, or holds a value that does not fit its field, is
// left out (and noted in `skipped` when given): one broken record must not hide the rest.
std::vector<RequestRecord> JsonToDataset(const std::string& jsonText,
                                         std::vector<SkippedRecord>* skipped = nullptr);

// Answers nested deeper than this are refused as not JSON: reading or writing them back
// would need a stack as deep as the nesting.
inline constexpr int kMaxJsonDepth = 64;

// Trims blanks, puts "http://" before a URL without a scheme and drops one trailing "/".
std::string formUrl(const std::string& url);

// Parses an answer body and writes it back compact, members in their order. Throws
// CloudError for a body that is not JSON or nests deeper than kMaxJsonDepth.
std::string compactJson(const std::string& body);

// True for a URL that sends the bearer token in plain text to another computer: plain
// "http" (also when the scheme was left out) to a host that is not loopback.
bool plainHttpOffLoopback(const std::string& url);

// Text before / after the first occurrence of a delimiter; the whole text without one.
std::string textBefore(const std::string& text, const std::string& delimiter);
std::string textAfter(const std::string& text, const std::string& delimiter);

struct SelectionRules {
  int32_t idVelantra = 0;
  int32_t idCaixa = 0;        // 0: any register
  bool testComputer = false;  // the developer computer: PIX runs as CRT
};

struct Selection {
  bool selected = false;
  int32_t id = 0;
  int32_t numero = 0;
  // Operation and amount of payments 1 to 3; untouched entries keep what they held.
  std::array<std::string, 6> mat{};
  // Records of the list that did not fit and were passed over.
  std::vector<SkippedRecord> skipped;
};

// Reads the compact status answer: the first value must be the number 200, the records
// are the objects of the first array. `current` is the request matrix before the query.
Selection parseStatusAnswer(const std::string& compact, const SelectionRules& rules,
                            const std::array<std::string, 6>& current);

// One log text naming the records passed over: their ids and the first reason.
std::string skippedRecordsText(const std::vector<SkippedRecord>& skipped);

// The decision in a compact "verifica" answer: 6 or 7; 4 or 8 when the cloud closed the
// request without deciding; 1 for none yet / unreadable.
int readDecision(const std::string& compact);
// The request's status in a compact "verifica" answer, 1 to 8; 0 when unreadable.
int readCurrentStatus(const std::string& compact);

// A TEF text made fit for a JSON string: quotes dropped, CR/LF written as \r and \n. A
// backslash that begins a valid JSON escape (the engine writes line breaks inside its
// messages as \r and \n for the cloud to read) is left alone; any other backslash is
// doubled, and tabs and other control characters are escaped, so the body stays valid JSON.
std::string cleanTefText(const std::string& text);

// Report bodies, every line ending CR LF.
std::string buildStatusBody(int32_t id, const std::string& status);
// Texts already cleaned.
std::string buildRetornoBody(int32_t id, const std::string& status, const std::string& text1,
                             const std::string& text2, const std::string& text3);
std::string buildVerificaBody(int32_t id);

// The sale's operation list from the request matrix: "CRT;" or "CRT;CARTDIGI;".
std::string operationList(const std::array<std::string, 6>& mat);

// An amount with "," as decimal separator: "25,90" is 25.9, "" is 0. Throws
// std::invalid_argument for anything else ("1,234,56", "12.50", a sign).
double convertAmount(const std::string& text);

// Why the request's payments must not reach the manager, or "" when they may: a card or
// PIX payment whose amount is empty, zero or negative would make the manager ask the
// operator for the amount. Administrative requests ("ADM") keep their zero amounts. An
// amount that does not convert is left to the sale's own conversion.
std::string amountRefusal(const std::array<std::string, 6>& mat);

}  // namespace tefsync
