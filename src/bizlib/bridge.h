// The business library bridge: free routines over one process-wide library.
// Every step writes to the execution log. Safe for concurrent use: open and close
// run under one lock, one connection attempt at a time; every call into the
// library runs inside one guard, so whatever escapes it (a C++ exception, on
// Windows any OS exception) is an ordinary tav::Error naming the export. A close
// waits a bounded time for the calls in flight; the library is never unloaded
// while a call is inside it (the last call to leave unloads it then).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tav::bizlib {

void AbreDll(std::u16string_view iDiretorioTavoric, std::u16string_view iUsuario, std::u16string_view iSenha,
             bool iHabilitaLog, bool iHabilitarLogSql);
// How long FechaDll waits for the calls in flight before it leaves the unload to them.
inline constexpr std::chrono::milliseconds kCloseWait{2000};
void FechaDll();
void FechaDll(std::chrono::steady_clock::time_point deadline);
void ConectarBanco();
std::u16string MensagemFalha();
void AtivarLogProc(bool iVal);
void AtivarLogSql(bool iVal);
// Whether ExecutaJSon reached the library, and if not, why.
enum class Execucao { Executada, DllNaoAberta, SemExecJSon };

// Runs one JSON request; the library's return code, 0 when it could not be run
// (oJsonRetorno is then untouched, and oExecucao, when given, says why).
std::int32_t ExecutaJSon(std::u16string_view iJson, std::u16string_view iUsuario, std::u16string_view iSenha,
                         std::u16string_view iNivel, std::u16string &oJsonRetorno, Execucao *oExecucao = nullptr);
std::u16string Versao();
void LimparCache();
// Passes the text unchanged to the execution log.
void RegistraLog(std::u16string_view iTexto);

}  // namespace tav::bizlib
