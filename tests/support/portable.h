// Test helpers that differ between the systems: the environment and the process id.
#pragma once

#include <cstdlib>

#if defined(_WIN32)
#include <process.h>
#include <winsock2.h>  // before windows.h, which would bring the old winsock
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tav::testing {

// Where a C++ exception thrown in the business library can reach the host: not on
// Windows x86, where each module's own static runtime unwinds only its own frames
// (the library's uncaught C++ exception ends the process there, as it would for
// any such library; real libraries fail by OS exceptions).
#if defined(_WIN32) && !defined(_WIN64)
inline constexpr bool kLibraryCxxReachesHost = false;
#else
inline constexpr bool kLibraryCxxReachesHost = true;
#endif

// Sets a variable for this process and for the libraries it loads (on Windows
// each module's C runtime has its own copy; the fixtures read the system's).
inline void SetEnv(const char *name, const char *value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, value);
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

inline void UnsetEnv(const char *name) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, nullptr);
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

inline int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

}  // namespace tav::testing
