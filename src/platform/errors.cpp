#include "platform/errors.h"

#include <cstring>

#include "platform/text.h"

namespace tav {

Error::Error(std::u16string_view message) : std::runtime_error(text::ToUtf8(message)) {}

IoError::IoError(int code) : Error(std::string(std::strerror(code))) {}
IoError::IoError(int code, const std::string &context) : Error(context + ": " + std::strerror(code)) {}

std::u16string ErrorText(const std::exception &error) {
  std::u16string result = text::FromUtf8(error.what());
  try {
    std::rethrow_if_nested(error);
  } catch (const std::exception &cause) {
    result += u"\r\n";
    result += ErrorText(cause);
  } catch (...) {
    result += u"\r\nunknown error";
  }
  return result;
}

std::u16string ErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &e) {
    return ErrorText(e);
  } catch (...) {
    return u"unknown error";
  }
}

}  // namespace tav
