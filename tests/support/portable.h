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
