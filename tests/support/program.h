// Test helper: the real program in a working directory of its own, and a port
// for it. On Linux it runs offscreen and stops on SIGTERM; on Windows it is
// ended the operator's way, with its "Encerrar" button. The Windows part also
// finds the program's windows and controls and works them with messages.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/http_client.h"
#include "support/portable.h"

namespace tav::testing {

// A port the program can bind: below the ephemeral range, so that the client
// sockets of tests running alongside (their local ports come from that range)
// never take it between this check and the program's bind.
inline std::uint16_t FreePort() {
  StartSockets();
  static std::uint16_t next = static_cast<std::uint16_t>(20000 + (ProcessId() * 37) % 10000);
  for (int attempt = 0; attempt < 2000; ++attempt) {
    const std::uint16_t port = next;
    next = next >= 31999 ? 20000 : static_cast<std::uint16_t>(next + 1);
    const SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    CloseSocketHandle(fd);
    if (free) return port;
  }
  return 0;
}

#if defined(_WIN32)

struct WindowSearch {
  DWORD pid;
  const wchar_t *windowClass;
  HWND found;
};

inline BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
  auto &search = *reinterpret_cast<WindowSearch *>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (owner != search.pid || lstrcmpiW(name, search.windowClass) != 0) return TRUE;
  search.found = window;
  return FALSE;
}

// The top-level window of class `windowClass` that belongs to process `pid`.
inline HWND ProcessWindow(DWORD pid, const wchar_t *windowClass) {
  WindowSearch search{pid, windowClass, nullptr};
  EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits up to `timeout` for the window.
inline HWND WaitForWindow(DWORD pid, const wchar_t *windowClass,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (HWND window = ProcessWindow(pid, windowClass)) return window;
    if (std::chrono::steady_clock::now() > end) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// A child control by its class and caption.
inline HWND Child(HWND parent, const wchar_t *windowClass, const wchar_t *caption) {
  return parent != nullptr ? FindWindowExW(parent, nullptr, windowClass, caption) : nullptr;
}

// The text of a window of this or another process.
inline std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

// Presses a button and waits until its action has run.
inline bool Click(HWND button) {
  DWORD_PTR ignored = 0;
  return button != nullptr && SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 20000, &ignored) != 0;
}
// Presses a button whose action opens a modal box, without waiting for it.
inline bool ClickLater(HWND button) { return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) != 0; }

// The text of a message box (its one static control with text).
inline std::wstring MessageBoxText(HWND box) {
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child != nullptr;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    std::wstring text = WindowText(child);
    if (!text.empty()) return text;
  }
  return {};
}

// What the screen shows of the window, as a 24-bit BMP file.
inline bool SavePicture(HWND window, const std::filesystem::path &file) {
  RECT area{};
  GetWindowRect(window, &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, previous);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep their rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::string pixels(stride * static_cast<std::size_t>(height), '\0');
  const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = static_cast<DWORD>(header.bfOffBits + pixels.size());
  std::FILE *out = _wfopen(file.wstring().c_str(), L"wb");
  if (out == nullptr) return false;
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

class Program {
 public:
  Program(const std::filesystem::path &program, const std::filesystem::path &dir, std::uint16_t port) : port_(port) {
    const std::wstring exe = std::filesystem::path(program).make_preferred().wstring();
    std::wstring command = L"\"" + exe + L"\"";
    const std::wstring folder = dir.wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process_))
      process_ = {};
  }
  ~Program() { Stop(); }
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  // Waits until the listener answers.
  bool Ready() const {
    if (process_.hProcess == nullptr) return false;
    for (int i = 0; i < 600; ++i) {
      RawClient probe(port_);
      if (probe.connected()) return true;
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  DWORD Id() const { return process_.dwProcessId; }
  bool Alive() const {
    return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
  }
  HWND MainWindow() const { return WaitForWindow(process_.dwProcessId, L"TFormPrincipal"); }

  // Ends the program with "Encerrar" (forcibly after 20 s); returns its exit code.
  DWORD Stop() {
    if (process_.hProcess == nullptr) return exitCode_;
    if (HWND main = ProcessWindow(process_.dwProcessId, L"TFormPrincipal"))
      ClickLater(Child(main, L"Button", L"Encerrar"));
    if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 255);
      WaitForSingleObject(process_.hProcess, INFINITE);
    }
    GetExitCodeProcess(process_.hProcess, &exitCode_);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
    return exitCode_;
  }

 private:
  PROCESS_INFORMATION process_{};
  DWORD exitCode_ = 255;
  std::uint16_t port_;
};

#else

class Program {
 public:
  Program(const std::filesystem::path &program, const std::filesystem::path &dir, std::uint16_t port) : port_(port) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::freopen((dir / "program.out").c_str(), "w", stderr);
      ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
  }
  ~Program() {
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  bool Alive() const { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  // Waits until the listener answers.
  bool Ready() const {
    for (int i = 0; i < 300; ++i) {
      RawClient probe(port_);
      if (probe.connected()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  pid_t pid_;
  std::uint16_t port_;
};

#endif

}  // namespace tav::testing
