/* The business library's calling interface on this platform. The host's bridge,
   the stand-in library and the test fixtures all include this one header.
   Text is a BSTR (see platform/bstr.h): null is the empty text; a text argument
   belongs to the caller; a text result is a new BSTR stored through the pointer
   and freed by the host. Booleans: only the low byte counts. */
#pragma once

#include <cstdint>

#include "platform/bstr.h"

#if defined(_WIN32)
#define TAV_STDCALL __stdcall /* decisive on x86, the one convention on x64 */
#else
#define TAV_STDCALL /* the platform's C convention */
#endif

extern "C" {
unsigned char TAV_STDCALL ConectarBancoDados(BSTR iniPath);
void TAV_STDCALL MensagemFalha(BSTR *out);
void TAV_STDCALL HabilitarLog(unsigned char on);
void TAV_STDCALL HabilitarLogSql(unsigned char on);
std::int32_t TAV_STDCALL ExecJSon(BSTR json, BSTR user, BSTR pass, BSTR level, std::int32_t zero, BSTR *answer);
void TAV_STDCALL Versao(BSTR *out);
unsigned char TAV_STDCALL LimpaCache(void);
}

namespace tav::abi {
using ConectarBancoDadosFn = unsigned char (TAV_STDCALL *)(BSTR);
using MensagemFalhaFn = void (TAV_STDCALL *)(BSTR *);
using HabilitarLogFn = void (TAV_STDCALL *)(unsigned char);
using HabilitarLogSqlFn = void (TAV_STDCALL *)(unsigned char);
using ExecJSonFn = std::int32_t (TAV_STDCALL *)(BSTR, BSTR, BSTR, BSTR, std::int32_t, BSTR *);
using VersaoFn = void (TAV_STDCALL *)(BSTR *);
using LimpaCacheFn = unsigned char (TAV_STDCALL *)(void);

// The library's file name in its directory.
#if defined(_WIN32)
inline constexpr char16_t kLibraryFile[] = u"DozUzedoda.dll";
#else
inline constexpr char16_t kLibraryFile[] = u"DozUzedoda.so";
#endif
// The library's configuration file handed to ConectarBancoDados.
inline constexpr char16_t kIniFile[] = u"DOZUZEDODA.INI";
}  // namespace tav::abi
