// Structured exceptions on Windows. mingw-w64's GCC has no __try/__except, so a
// small assembly trampoline per architecture (guard_x64.S, guard_x86.S) calls the
// library inside a frame of its own with a handler:
//   x64: an unwind entry whose exception handler is tav_guard_handler; when an
//        exception reaches that frame, the handler keeps what escaped and unwinds
//        to the trampoline's exit (RtlUnwindEx), which returns 1.
//   x86: an EXCEPTION_REGISTRATION record pushed on the thread's chain (fs:0),
//        whose handler (in guard_x86.S) keeps what escaped, runs the inner frames'
//        unwind handlers (RtlUnwind) and resumes at the trampoline's exit.
// The handler is reached only by an exception that no frame inside the call
// handled: the first-chance exceptions a library (or the system, inside
// IsBadReadPtr or OutputDebugStringA) raises and handles itself never get here.
#include <windows.h>

#include <cstdio>

#include "platform/detail/guarded_call_backend.h"
#include "platform/text.h"

namespace {

// What escaped, filled by tav_guard_capture.
struct GuardRecord {
  DWORD code;
  DWORD parameters;
  ULONG_PTR information[2];
};

// GCC's own C++ exceptions on x64 (libgcc's STATUS_GCC_THROW, _UNWIND, _FORCED):
// they travel on to the host's C++ handlers, which catch them as C++ exceptions.
bool IsGccException(DWORD code) {
  return code == 0x20474343 || code == 0x21474343 || code == 0x22474343;
}

std::u16string Hex(ULONG_PTR value, int digits) {
  char buffer[2 + 2 * sizeof(ULONG_PTR) + 1];
  std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return tav::text::FromUtf8(buffer);
}

std::u16string Describe(const GuardRecord &record) {
  std::u16string text = u"Exceção " + Hex(record.code, 8);
  const bool memory = record.code == EXCEPTION_ACCESS_VIOLATION || record.code == EXCEPTION_IN_PAGE_ERROR;
  if (memory && record.parameters >= 2) {
    const char16_t *what = record.code == EXCEPTION_ACCESS_VIOLATION ? u"violação de acesso" : u"falha de página";
    const ULONG_PTR kind = record.information[0];
    const char16_t *operation = kind == 0 ? u"leitura" : kind == 1 ? u"escrita" : kind == 8 ? u"execução" : u"acesso";
    text += u" (" + std::u16string(what) + u": " + operation + u" no endereço " +
            Hex(record.information[1], 2 * sizeof(ULONG_PTR)) + u")";
  } else if (record.code == EXCEPTION_STACK_OVERFLOW) {
    text += u" (estouro de pilha)";
  } else if (record.code == EXCEPTION_INT_DIVIDE_BY_ZERO) {
    text += u" (divisão inteira por zero)";
  } else if (record.code == EXCEPTION_ILLEGAL_INSTRUCTION || record.code == EXCEPTION_PRIV_INSTRUCTION) {
    text += u" (instrução inválida)";
  }
  return text;
}

}  // namespace

extern "C" {
// guard_x64.S / guard_x86.S
int tav_guard_call(void (*call)(void *), void *context, GuardRecord *record);

// Keeps what escaped; 0 when the exception is not the guard's to take.
int tav_guard_capture(GuardRecord *record, const EXCEPTION_RECORD *exception) {
  if (IsGccException(exception->ExceptionCode)) return 0;
  record->code = exception->ExceptionCode;
  record->parameters = exception->NumberParameters;
  for (DWORD i = 0; i < 2; ++i)
    record->information[i] = i < exception->NumberParameters ? exception->ExceptionInformation[i] : 0;
  return 1;
}

#if defined(_WIN64)
void tav_guard_resume();  // the trampoline's exit, in guard_x64.S

// The x64 frame's exception handler (the trampoline's unwind entry names it).
// The trampoline keeps its GuardRecord at EstablisherFrame + 32, above the
// callee's home area.
EXCEPTION_DISPOSITION tav_guard_handler(EXCEPTION_RECORD *exception, void *frame, CONTEXT *context,
                                        DISPATCHER_CONTEXT *dispatcher) {
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) return ExceptionContinueSearch;
  GuardRecord *record = *reinterpret_cast<GuardRecord **>(static_cast<char *>(frame) + 32);
  if (tav_guard_capture(record, exception) == 0) return ExceptionContinueSearch;
  // Runs the unwind handlers of every frame inside the call, then continues at
  // tav_guard_resume with the stack of the trampoline's body and 1 in rax.
  RtlUnwindEx(frame, reinterpret_cast<void *>(&tav_guard_resume), exception, reinterpret_cast<void *>(1), context,
              dispatcher->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}
#endif
}

namespace tav::detail {

std::optional<Escaped> SystemGuardedCall(void (*call)(void *), void *context) {
  GuardRecord record{};
  if (tav_guard_call(call, context, &record) == 0) return std::nullopt;
  return Escaped{Describe(record)};
}

}  // namespace tav::detail
