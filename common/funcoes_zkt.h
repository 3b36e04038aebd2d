// The shared routine collection Funcoes_da_ZKT, linked into both programs.
// Texts are UTF-8; positions and lengths count characters, not bytes.
#pragma once

#include <string>

#include "platform/clock.h"

namespace zkt {

// Which program calls: the two disagree on two format words of Formata_Data.
enum class Programa { Tefsync, Guardian };

// Text and number helpers.
std::string StrZero(long long Codigo, int Quantidade);
std::string BuscaStringDelimitador(const std::string& strTexto, const std::string& delimit);
std::string ExtraiStringDelimitador(const std::string& strTexto, const std::string& delimit);
std::string StringDelimitador(const std::string& strTexto, const std::string& delimitIn,
                              const std::string& oqueIn);
std::string TrocaLetra(const std::string& strIn, const std::string& strLetraAtual,
                       const std::string& strLetraNova);
std::string somenteNumeros(const std::string& strIn);
// Copies one file with its last-write time (in DOS two-second resolution) and attributes.
bool CopyOne(const std::string& Source, const std::string& Dest);

// Date and time helpers.
int NumeroMes(const std::string& Oque, const plat::DateTime& DataIn);
// Seconds of the local time of day, 0 to 86399, from plat::clock().
int Seconds();
// The guardian also knows "AAAA" and "DD-MM-AAAA"; for tefsync they give an empty text.
std::string Formata_Data(const std::string& Formato, const plat::DateTime& DataIn,
                         Programa programa = Programa::Tefsync);
// Pauses through plat::clock().
void Delay(int iMSecs);

// Paths and identity.
// The running executable's folder, ending with the native separator.
std::string Path_Do_Executavel();
// Appends sep unless the text already ends with it.
std::string AjustaContraBarra(const std::string& StringIn, char sep = '\\');
std::string Nome_do_pc();

// The settings access code for DataIn on this computer; NomeUsuarioIn plays no part.
std::string Calcula_senha_do_dia(const std::string& NomeUsuarioIn, const plat::DateTime& DataIn);
// The same for a given computer name.
std::string Calcula_senha_do_dia(const std::string& NomeUsuarioIn, const plat::DateTime& DataIn,
                                 const std::string& nomeDoPc);

}  // namespace zkt
