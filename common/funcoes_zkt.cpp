#include "common/funcoes_zkt.h"

#include <string_view>

#include "platform/encoding.h"
#include "platform/fs.h"
#include "platform/host.h"

namespace zkt {

namespace {

std::string asciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string asciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The single character of a one-character text; none for an empty or longer text, which
// never equals one character of the text walked.
bool singleChar(const std::string& text, char32_t& c) {
  const std::u32string u = plat::toU32(text);
  if (u.size() != 1) return false;
  c = u[0];
  return true;
}

}  // namespace

std::string StrZero(long long Codigo, int Quantidade) {
  if (Quantidade <= 0) return {};
  const std::string digits = std::to_string(Codigo);
  const auto width = static_cast<size_t>(Quantidade);
  if (digits.size() >= width) return digits.substr(digits.size() - width);
  return std::string(width - digits.size(), '0') + digits;
}

std::string BuscaStringDelimitador(const std::string& strTexto, const std::string& delimit) {
  char32_t d = 0;
  if (!singleChar(delimit, d)) return strTexto;
  const std::u32string t = plat::toU32(strTexto);
  const auto pos = t.find(d);
  return pos == std::u32string::npos ? strTexto : plat::fromU32(t.substr(0, pos));
}

std::string ExtraiStringDelimitador(const std::string& strTexto, const std::string& delimit) {
  char32_t d = 0;
  if (!singleChar(delimit, d)) return strTexto;
  const std::u32string t = plat::toU32(strTexto);
  const auto pos = t.find(d);
  return pos == std::u32string::npos ? strTexto : plat::fromU32(t.substr(pos + 1));
}

std::string StringDelimitador(const std::string& strTexto, const std::string& delimitIn,
                              const std::string& oqueIn) {
  const std::string oque = asciiLower(oqueIn);
  if (oque == "inicio") return BuscaStringDelimitador(strTexto, delimitIn);
  if (oque == "resto") return ExtraiStringDelimitador(strTexto, delimitIn);
  return {};
}

std::string TrocaLetra(const std::string& strIn, const std::string& strLetraAtual,
                       const std::string& strLetraNova) {
  char32_t from = 0;
  if (!singleChar(strLetraAtual, from)) return strIn;
  const std::u32string to = plat::toU32(strLetraNova);
  std::u32string out;
  for (char32_t c : plat::toU32(strIn)) {
    if (c == from)
      out += to;
    else
      out += c;
  }
  return plat::fromU32(out);
}

std::string somenteNumeros(const std::string& strIn) {
  std::string out;
  for (char c : strIn)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

bool CopyOne(const std::string& Source, const std::string& Dest) {
  if (Source == Dest || !plat::fileExists(Source)) return false;
  // Another spelling of the same file: Windows refuses it (the source is held open
  // without sharing); here it must not truncate the source either.
  if (plat::sameFile(Source, Dest)) return false;
  std::string bytes;
  try {
    // Reads to the end of the file: a failed read ends the copy with false and leaves the
    // destination untouched, instead of looping on a count that never reaches zero.
    bytes = plat::readBytes(Source);
    plat::writeBytes(Dest, bytes);
  } catch (const plat::FileError&) {
    return false;
  }
  const int64_t t = plat::fileTime(Source);
  if (t >= 0) plat::setFileTime(Dest, t - t % 2);  // DOS time: two-second resolution
  const int attributes = plat::fileAttributes(Source);
  if (attributes >= 0) plat::setFileAttributes(Dest, attributes);
  return true;
}

int NumeroMes(const std::string& Oque, const plat::DateTime& DataIn) {
  const std::string oque = asciiUpper(Oque);
  if (oque == "MES") return DataIn.month;
  if (oque == "ANO") return DataIn.year;
  return DataIn.day;
}

int Seconds() {
  const plat::DateTime now = plat::clock().now();
  return now.hour * 3600 + now.minute * 60 + now.second;
}

std::string Formata_Data(const std::string& Formato, const plat::DateTime& DataIn,
                         Programa programa) {
  const std::string f = asciiUpper(Formato);
  const std::string dd = StrZero(NumeroMes("Dia", DataIn), 2);
  const std::string mm = StrZero(NumeroMes("Mes", DataIn), 2);
  const std::string aaaa = StrZero(NumeroMes("Ano", DataIn), 4);
  const std::string aa = aaaa.substr(2, 2);
  const std::string hh = StrZero(DataIn.hour, 2);
  const std::string mi = StrZero(DataIn.minute, 2);
  const std::string ss = StrZero(DataIn.second, 2);

  if (f == "HHMMSS") return hh + mi + ss;
  if (f == "HH:MM:SS") return hh + ":" + mi + ":" + ss;
  if (f == "HH:MM") return hh + ":" + mi;
  if (f == "HHMM") return hh + mi;
  if (f == "MM:SS") return mi + ":" + ss;
  if (f == "AAAAMMDD") return aaaa + mm + dd;
  if (f == "DDMMAAAA") return dd + mm + aaaa;
  if (f == "DDMM") return dd + mm;
  if (f == "AAMM") return aa + mm;
  if (f == "AAAAMM") return aaaa + mm;
  if (f == "MMDD") return mm + dd;
  if (f == "DDMMAA") return dd + mm + aa;
  if (f == "MMAAAA") return mm + aaaa;
  if (f == "DD/MM/AAAA") return dd + "/" + mm + "/" + aaaa;
  if (f == "DD/MM/AA") return dd + "/" + mm + "/" + aa;
  if (f == "MM/DD/AAAA") return mm + "/" + dd + "/" + aaaa;
  if (f == "AAAA-MM-DD") return aaaa + "-" + mm + "-" + dd;
  if (f == "AAAA-DD-MM") return aaaa + "-" + dd + "-" + mm;
  if (programa == Programa::Guardian) {
    if (f == "AAAA") return aaaa;
    if (f == "DD-MM-AAAA") return dd + "-" + mm + "-" + aaaa;
  }
  return {};
}

void Delay(int iMSecs) {
  plat::clock().sleepMs(iMSecs < 0 ? 0 : iMSecs);
}

std::string AjustaContraBarra(const std::string& StringIn, char sep) {
  if (!StringIn.empty() && StringIn.back() == sep) return StringIn;
  return StringIn + sep;
}

std::string Path_Do_Executavel() {
  const std::string exe = plat::executablePath();
  const auto last = exe.find_last_of(plat::separator());
  if (last == std::string::npos) return AjustaContraBarra(".", plat::separator());
  return AjustaContraBarra(exe.substr(0, last + 1), plat::separator());
}

std::string Nome_do_pc() {
  return plat::computerName();
}

std::string Calcula_senha_do_dia(const std::string& NomeUsuarioIn, const plat::DateTime& DataIn) {
  return Calcula_senha_do_dia(NomeUsuarioIn, DataIn, Nome_do_pc());
}

std::string Calcula_senha_do_dia(const std::string& /*NomeUsuarioIn*/, const plat::DateTime& DataIn,
                                 const std::string& nomeDoPc) {
  if (asciiUpper(nomeDoPc) == "QUADRIX") return "9073";
  const std::string data = Formata_Data("DD/MM/AA", DataIn);
  const std::string dd = data.substr(0, 2);
  const std::string mm = data.substr(3, 2);
  const std::string aa = data.substr(6, 2);
  const int d = std::stoi(dd);
  const int m = std::stoi(mm);
  const int y = std::stoi(aa);
  return dd + StrZero(d + m, 2) + mm + StrZero(d + m + y, 2) + aa;
}

}  // namespace zkt
