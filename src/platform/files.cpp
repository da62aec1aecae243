#include "platform/files.h"

#include <cerrno>
#include <mutex>

#include "platform/errors.h"
#include "platform/text.h"

namespace tav::files {
namespace {

constexpr int kMaxCounter = 1000000;

// Where the last search for a free name ended, so that the next file with the
// same stem (another intake file of the same second) does not try every taken
// name again.
struct LastName {
  std::mutex mutex;
  std::u16string stem;
  int next = 0;
};

LastName &Last() {
  static LastName last;
  return last;
}

}  // namespace

NumberedFile CreateNumbered(std::u16string_view stem, std::u16string_view separator, std::u16string_view extension) {
  int counter = 0;
  {
    std::lock_guard lock(Last().mutex);
    if (Last().stem == stem) counter = Last().next;
  }
  std::u16string name;
  for (; counter < kMaxCounter; ++counter) {
    name = stem;
    if (counter > 0) {
      name += separator;
      name += text::Ascii(std::to_string(counter));
    }
    name += extension;
    if (std::optional<NewFile> file = CreateNew(name)) {
      std::lock_guard lock(Last().mutex);
      if (Last().stem != stem || Last().next <= counter) {
        Last().stem = stem;
        Last().next = counter + 1;
      }
      return {std::move(*file), std::move(name)};
    }
  }
  throw IoError(EEXIST, "Cannot create file \"" + ToNative(name) + "\"");
}

}  // namespace tav::files
