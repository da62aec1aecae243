/* The business library's calling interface on this platform. The host's bridge,
   the stand-in library and the test fixtures all include this one header.
   Text is a BSTR (see platform/bstr.h): null is the empty text; a text argument
   belongs to the caller; a text result is a new BSTR stored through the pointer
   and freed by the host. Booleans: only the low byte counts. */
#pragma once

#include <cstdint>

#include "platform/bstr.h"

#define TAV_STDCALL /* the platform's C convention */

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
using ConectarBancoDadosFn = unsigned char (*)(BSTR);
using MensagemFalhaFn = void (*)(BSTR *);
using HabilitarLogFn = void (*)(unsigned char);
using HabilitarLogSqlFn = void (*)(unsigned char);
using ExecJSonFn = std::int32_t (*)(BSTR, BSTR, BSTR, BSTR, std::int32_t, BSTR *);
using VersaoFn = void (*)(BSTR *);
using LimpaCacheFn = unsigned char (*)(void);

// The library's file name in its directory.
inline constexpr char16_t kLibraryFile[] = u"DozUzedoda.so";
// The library's configuration file handed to ConectarBancoDados.
inline constexpr char16_t kIniFile[] = u"DOZUZEDODA.INI";
}  // namespace tav::abi
