// Ordinary errors of the system: a message (UTF-8 in what()), with nested causes.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tav {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string &utf8Message) : std::runtime_error(utf8Message) {}
  explicit Error(std::u16string_view message);
};

// An input/output error carrying the system's message for errno `code`.
class IoError : public Error {
 public:
  explicit IoError(int code);
  IoError(int code, const std::string &context);
  // A message the system already composed (Windows error codes are not errno values).
  struct Composed {};
  IoError(Composed, const std::string &message) : Error(message) {}
};

// The error's message, followed for each nested cause by "\r\n" and its message.
std::u16string ErrorText(const std::exception &error);
std::u16string ErrorText(std::exception_ptr error);

}  // namespace tav
