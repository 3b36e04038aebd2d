#include "tefsync/core/cloud_api.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

namespace tefsync {
namespace {

using Json = nlohmann::ordered_json;

// A value quoted in an error: a broken record may hold anything, at any length.
std::string shortened(const std::string& text) {
  const size_t kMax = 40;
  if (text.size() <= kMax) return text;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string shortened(const Json& value) {
  return shortened(value.dump());
}

// Parses refusing nesting beyond kMaxJsonDepth, before the document is built that deep.
Json parseLimited(const std::string& text) {
  const Json::parser_callback_t limit = [](int depth, Json::parse_event_t event, Json&) {
    if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
        depth >= kMaxJsonDepth)
      throw CloudError("mais de " + std::to_string(kMaxJsonDepth) + " niveis aninhados");
    return true;
  };
  return Json::parse(text, limit);
}

size_t codePoints(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

int32_t toInt32(const std::string& name, const Json& value) {
  if (value.is_null()) return 0;
  int64_t v = 0;
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() &&
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      throw CloudError("Campo " + name + " fora da faixa: " + shortened(value));
    v = value.get<int64_t>();
  } else if (value.is_string()) {
    std::string s = value.get<std::string>();
    size_t b = s.find_first_not_of(' ');
    size_t e = s.find_last_not_of(' ');
    if (b == std::string::npos) return 0;  // an empty text reads as 0
    s = s.substr(b, e - b + 1);
    const char* first = s.data();
    if (*first == '+' && s.size() > 1 && s[1] != '-') ++first;
    auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size())
      throw CloudError("Campo " + name + " nao e um numero inteiro: " + shortened(value));
  } else {
    throw CloudError("Campo " + name + " nao e um numero inteiro: " + shortened(value));
  }
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw CloudError("Campo " + name + " fora da faixa: " + shortened(value));
  return static_cast<int32_t>(v);
}

std::string toText(const std::string& name, const Json& value, size_t width) {
  std::string s;
  if (value.is_null()) return s;
  if (value.is_string()) {
    s = value.get<std::string>();
  } else if (value.is_number()) {
    s = value.dump();  // an amount sent as a number keeps its JSON spelling
  } else {
    throw CloudError("Campo " + name + " nao e texto: " + shortened(value));
  }
  // Cutting an operation code or an amount would change the sale: refuse instead.
  if (codePoints(s) > width)
    throw CloudError("Campo " + name + " com mais de " + std::to_string(width) +
                     " caracteres: " + shortened(s));
  return s;
}

std::string replaceAll(std::string text, char from, const std::string& to) {
  std::string out;
  for (char c : text) {
    if (c == from)
      out += to;
    else
      out += c;
  }
  return out;
}

// The id of a record passed over, as written: it may be the member that did not fit.
std::string idAsWritten(const Json& element) {
  if (!element.is_object() || !element.contains("id")) return {};
  const Json& id = element["id"];
  return shortened(id.is_string() ? id.get<std::string>() : id.dump());
}

RequestRecord readRecord(const Json& element) {
  if (!element.is_object()) throw CloudError("Requisicao nao e um objeto JSON");
  RequestRecord r;
  for (const auto& [key, value] : element.items()) {
    if (key == "user_id")
      r.user_id = toInt32(key, value);
    else if (key == "id")
      r.id = toInt32(key, value);
    else if (key == "status")
      r.status = toInt32(key, value);
    else if (key == "empresa_id")
      r.empresa_id = toInt32(key, value);
    else if (key == "numero")
      r.numero = toInt32(key, value);
    else if (key == "requisicao_1")
      r.requisicao_1 = toText(key, value, 5);
    else if (key == "requisicao_2")
      r.requisicao_2 = toText(key, value, 5);
    else if (key == "requisicao_3")
      r.requisicao_3 = toText(key, value, 5);
    else if (key == "valor_1")
      r.valor_1 = toText(key, value, 15);
    else if (key == "valor_2")
      r.valor_2 = toText(key, value, 15);
    else if (key == "valor_3")
      r.valor_3 = toText(key, value, 15);
  }
  return r;
}

}  // namespace

std::vector<RequestRecord> JsonToDataset(const std::string& jsonText,
                                         std::vector<SkippedRecord>* skipped) {
  Json doc;
  try {
    doc = parseLimited(jsonText);
  } catch (const Json::exception& e) {
    throw CloudError(std::string("Lista de requisicoes invalida: ") + e.what());
  } catch (const CloudError& e) {
    throw CloudError(std::string("Lista de requisicoes invalida: ") + e.what());
  }
  if (!doc.is_array()) throw CloudError("Lista de requisicoes nao e um vetor JSON");
  std::vector<RequestRecord> records;
  for (const Json& element : doc) {
    try {
      records.push_back(readRecord(element));
    } catch (const CloudError& e) {
      if (skipped) skipped->push_back({idAsWritten(element), e.what()});
    }
  }
  return records;
}

std::string formUrl(const std::string& url) {
  size_t b = url.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = url.find_last_not_of(" \t\r\n");
  std::string u = url.substr(b, e - b + 1);
  // A scheme is letters, digits, "+", "-" or "." after a first letter, then "://".
  size_t sep = u.find("://");
  bool hasScheme =
      sep != std::string::npos && sep > 0 && std::isalpha(static_cast<unsigned char>(u[0]));
  for (size_t i = 0; hasScheme && i < sep; ++i) {
    unsigned char c = static_cast<unsigned char>(u[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') hasScheme = false;
  }
  if (!hasScheme) u = "http://" + u;
  if (!u.empty() && u.back() == '/') u.pop_back();
  return u;
}

std::string compactJson(const std::string& body) {
  try {
    return parseLimited(body).dump();
  } catch (const Json::exception& e) {
    throw CloudError(std::string("Resposta nao e JSON: ") + e.what());
  } catch (const CloudError& e) {
    throw CloudError(std::string("Resposta nao e JSON: ") + e.what());
  }
}

bool plainHttpOffLoopback(const std::string& url) {
  const std::string formed = formUrl(url);
  const size_t sep = formed.find("://");
  if (sep == std::string::npos) return false;
  std::string scheme = formed.substr(0, sep);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http") return false;
  std::string authority = formed.substr(sep + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  std::string host;
  if (!authority.empty() && authority[0] == '[') {
    host = authority.substr(
        1, authority.find(']') == std::string::npos ? std::string::npos : authority.find(']') - 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!host.empty() && host.back() == '.') host.pop_back();
  if (host.empty()) return false;  // no computer named: nothing travels
  if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1") return false;
  // 127.0.0.0/8, written as four decimal parts.
  int parts = 0;
  bool loopback = true;
  size_t p = 0;
  while (loopback && p <= host.size()) {
    const size_t dot = std::min(host.find('.', p), host.size());
    int value = -1;
    const auto [ptr, ec] = std::from_chars(host.data() + p, host.data() + dot, value);
    if (ec != std::errc() || ptr != host.data() + dot || value < 0 || value > 255 ||
        (parts == 0 && value != 127))
      loopback = false;
    ++parts;
    p = dot + 1;
  }
  return !(loopback && parts == 4);
}

std::string textBefore(const std::string& text, const std::string& delimiter) {
  size_t p = text.find(delimiter);
  return p == std::string::npos ? text : text.substr(0, p);
}

std::string textAfter(const std::string& text, const std::string& delimiter) {
  size_t p = text.find(delimiter);
  return p == std::string::npos ? text : text.substr(p + delimiter.size());
}

Selection parseStatusAnswer(const std::string& compact, const SelectionRules& rules,
                            const std::array<std::string, 6>& current) {
  Selection sel;
  sel.mat = current;
  std::string code = textAfter(textBefore(compact, ","), ":");
  if (code == "200") {
    std::string list = textAfter(textBefore(compact, "]"), "[");
    std::vector<RequestRecord> records = JsonToDataset("[" + list + "]", &sel.skipped);
    for (const RequestRecord& r : records) {
      if (sel.id != 0) break;  // a selected record with id 0 lets the walk go on
      if (r.empresa_id != rules.idVelantra) continue;
      if (rules.idCaixa != 0 && r.user_id != rules.idCaixa) continue;
      if (r.status > 1) continue;
      sel.selected = true;
      sel.id = r.id;
      sel.numero = r.numero;
      sel.mat = {r.requisicao_1, replaceAll(r.valor_1, '.', ","),
                 r.requisicao_2, replaceAll(r.valor_2, '.', ","),
                 r.requisicao_3, replaceAll(r.valor_3, '.', ",")};
    }
    for (size_t i = 0; i < 6; i += 2) {
      if (sel.mat[i] == "PIX") sel.mat[i] = rules.testComputer ? "CRT" : "CARTDIGI";
    }
  }
  return sel;
}

std::string skippedRecordsText(const std::vector<SkippedRecord>& skipped) {
  if (skipped.empty()) return {};
  const size_t kNamed = 10;
  std::string ids;
  for (size_t i = 0; i < skipped.size() && i < kNamed; ++i) {
    if (i > 0) ids += ", ";
    ids += skipped[i].id.empty() ? "sem id" : "id " + skipped[i].id;
  }
  if (skipped.size() > kNamed) ids += ", ...";
  if (skipped.size() == 1) return "Requisicao ignorada (" + ids + "): " + skipped[0].reason;
  return std::to_string(skipped.size()) + " requisicoes ignoradas (" + ids +
         "): " + skipped[0].reason;
}

namespace {

// The status member of a "verifica" answer as text; empty unless the code is 200.
std::string verificaValue(const std::string& compact) {
  std::string t;
  for (char c : compact) {
    if (c != '"' && c != '{' && c != '}') t += c;
  }
  std::string first = textBefore(t, ",");
  std::string rest = textAfter(t, ",");
  if (textAfter(first, ":") != "200") return {};
  return textAfter(rest, ":");
}

}  // namespace

int readCurrentStatus(const std::string& compact) {
  const std::string value = verificaValue(compact);
  return value.size() == 1 && value[0] >= '1' && value[0] <= '8' ? value[0] - '0' : 0;
}

int readDecision(const std::string& compact) {
  const std::string value = verificaValue(compact);
  if (value.empty()) return 1;
  if (value == "6") return 6;
  if (value == "7") return 7;
  // Final statuses that are not a decision: the cloud closed the request.
  if (value == "4") return 4;
  if (value == "8") return 8;
  return 1;
}

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a \uXXXX escape at t[i], or -1 when there is none.
long unicodeEscapeAt(const std::string& t, size_t i) {
  if (i + 6 > t.size() || t[i] != '\\' || t[i + 1] != 'u') return -1;
  long v = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    const int h = hexValue(t[k]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// Length of the valid JSON escape that begins at the backslash t[i]; 0 when it begins
// none. A surrogate escape counts only as a whole pair (a lone one is not valid text).
size_t jsonEscapeAt(const std::string& t, size_t i) {
  if (i + 1 >= t.size()) return 0;
  const char n = t[i + 1];
  if (n == '\\' || n == '/' || n == 'b' || n == 'f' || n == 'n' || n == 'r' || n == 't') return 2;
  const long u = unicodeEscapeAt(t, i);
  if (u < 0 || (u >= 0xDC00 && u <= 0xDFFF)) return 0;
  if (u < 0xD800 || u > 0xDBFF) return 6;
  const long low = unicodeEscapeAt(t, i + 6);
  return low >= 0xDC00 && low <= 0xDFFF ? 12 : 0;
}

}  // namespace

std::string cleanTefText(const std::string& text) {
  static const char* const hex = "0123456789abcdef";
  std::string t;
  for (char ch : text) {
    if (ch != '"') t += ch;
  }
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    switch (c) {
      case '\\': {
        const size_t n = jsonEscapeAt(t, i);
        if (n == 0) {
          out += "\\\\";
        } else {
          out.append(t, i, n);
          i += n - 1;
        }
        break;
      }
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += t[i];
        }
    }
  }
  return out;
}

std::string buildStatusBody(int32_t id, const std::string& status) {
  return "{\"id\":" + std::to_string(id) + ",\"status\":" + status + "}\r\n";
}

std::string buildRetornoBody(int32_t id, const std::string& status, const std::string& text1,
                             const std::string& text2, const std::string& text3) {
  std::string body = " {\"id\":" + std::to_string(id) + "\r\n";
  body += ",\"status\":" + status + "\r\n";
  if (status == "4") {
    body += ",\"texto_1\":\"" + text1 + "\"}\r\n";
  } else if (status == "5") {
    body += ",\"texto_1\":\"" + text1 + "\"\r\n";
    body += ",\"texto_2\":\"" + text2 + "\"\r\n";
    body += ",\"texto_3\":\"" + text3 + "\"}\r\n";
  }
  return body;
}

std::string buildVerificaBody(int32_t id) {
  return "{\"id\":" + std::to_string(id) + "}\r\n";
}

std::string operationList(const std::array<std::string, 6>& mat) {
  std::string list = mat[0] + ";";
  if (!mat[2].empty()) list += mat[2] + ";";
  if (!mat[4].empty()) list += mat[4] + ";";
  return list;
}

double convertAmount(const std::string& text) {
  if (text.empty()) return 0;
  auto invalid = [&] {
    return std::invalid_argument("'" + text + "' is not a valid floating point value");
  };
  size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) throw invalid();
  size_t e = text.find_last_not_of(' ');
  std::string s = text.substr(b, e - b + 1);
  size_t commas = 0, digits = 0;
  for (char c : s) {
    if (c == ',')
      ++commas;
    else if (c >= '0' && c <= '9')
      ++digits;
    else
      throw invalid();
  }
  if (commas > 1 || digits == 0) throw invalid();
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  double value = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(value)) throw invalid();
  return value;
}

std::string amountRefusal(const std::array<std::string, 6>& mat) {
  std::string refusal;
  for (size_t n = 0; n < 3; ++n) {
    const std::string& op = mat[2 * n];
    const std::string& text = mat[2 * n + 1];
    if (op.empty() || op == "ADM") continue;
    bool aboveZero = true;
    const size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) {
      aboveZero = false;
    } else {
      try {
        const bool negative = text[b] == '-';
        const double value = convertAmount(negative ? text.substr(b + 1) : text);
        // The manager gets whole cents: less than half a cent goes as zero.
        aboveZero = !negative && value * 100.0 >= 0.5;
      } catch (const std::invalid_argument&) {
        // Not a number at all: the sale's conversion reports it.
      }
    }
    if (aboveZero) continue;
    if (!refusal.empty()) refusal += " ";
    refusal += "Valor do pagamento " + std::to_string(n + 1) + " (" + op +
               ") nao e maior que zero: " + (b == std::string::npos ? "vazio" : text) + ".";
  }
  if (!refusal.empty()) refusal += " Pagamento nao enviado ao TEF.";
  return refusal;
}

}  // namespace tefsync
