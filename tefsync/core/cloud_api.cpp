#include "tefsync/core/cloud_api.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace tefsync {
namespace {

using Json = nlohmann::ordered_json;

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
      throw CloudError("Campo " + name + " fora da faixa: " + value.dump());
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
      throw CloudError("Campo " + name + " nao e um numero inteiro: " + value.dump());
  } else {
    throw CloudError("Campo " + name + " nao e um numero inteiro: " + value.dump());
  }
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw CloudError("Campo " + name + " fora da faixa: " + value.dump());
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
    throw CloudError("Campo " + name + " nao e texto: " + value.dump());
  }
  // Cutting an operation code or an amount would change the sale: refuse instead.
  if (codePoints(s) > width)
    throw CloudError("Campo " + name + " com mais de " + std::to_string(width) +
                     " caracteres: " + s);
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

}  // namespace

std::vector<RequestRecord> JsonToDataset(const std::string& jsonText) {
  Json doc;
  try {
    doc = Json::parse(jsonText);
  } catch (const Json::exception& e) {
    throw CloudError(std::string("Lista de requisicoes invalida: ") + e.what());
  }
  if (!doc.is_array()) throw CloudError("Lista de requisicoes nao e um vetor JSON");
  std::vector<RequestRecord> records;
  for (const Json& element : doc) {
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
    records.push_back(r);
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
    return Json::parse(body).dump();
  } catch (const Json::exception& e) {
    throw CloudError(std::string("Resposta nao e JSON: ") + e.what());
  }
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
    std::vector<RequestRecord> records = JsonToDataset("[" + list + "]");
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

int readDecision(const std::string& compact) {
  std::string t;
  for (char c : compact) {
    if (c != '"' && c != '{' && c != '}') t += c;
  }
  std::string first = textBefore(t, ",");
  std::string rest = textAfter(t, ",");
  if (textAfter(first, ":") != "200") return 1;
  std::string value = textAfter(rest, ":");
  if (value == "6") return 6;
  if (value == "7") return 7;
  return 1;
}

std::string cleanTefText(const std::string& text) {
  static const char* const hex = "0123456789abcdef";
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
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
          out += ch;
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

}  // namespace tefsync
