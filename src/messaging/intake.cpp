#include "messaging/intake.h"

#include <cerrno>
#include <mutex>
#include <optional>

#include "messaging/json_reader.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tav::messaging {
namespace {

constexpr int kMaxCounter = 1000000;

// Where the last search for a free name in a busy second ended, so that the next
// communication of the same second does not try every taken name again.
struct LastName {
  std::mutex mutex;
  std::u16string base;  // directory and name stem
  int next = 0;
};

LastName &Last() {
  static LastName last;
  return last;
}

// Creates the file exclusively: "<base>.txt", else "<base>1.txt", "<base>2.txt", ...
files::NewFile CreateUnique(const std::u16string &directory, const std::u16string &base) {
  const std::u16string stem = files::Join(directory, base);
  int counter = 0;
  {
    std::lock_guard lock(Last().mutex);
    if (Last().base == stem) counter = Last().next;
  }
  std::u16string name;
  for (; counter < kMaxCounter; ++counter) {
    name = stem;
    if (counter > 0) name += text::Ascii(std::to_string(counter));
    name += u".txt";
    if (std::optional<files::NewFile> file = files::CreateNew(name)) {
      std::lock_guard lock(Last().mutex);
      if (Last().base != stem || Last().next <= counter) {
        Last().base = stem;
        Last().next = counter + 1;
      }
      return std::move(*file);
    }
  }
  throw IoError(EEXIST, "Cannot create file \"" + files::ToNative(name) + "\"");
}

}  // namespace

std::int32_t ProcessaRequisicao(std::u16string_view body) { return ProcessaRequisicao(body, IntakeOptions{}); }

std::int32_t ProcessaRequisicao(std::u16string_view body, const IntakeOptions &options) {
  const JsonValue request = LeRequisicaoJSon(body);
  if (TextoDoCampo(request, 1) == u"CONSULTARSTATUS") return 200;

  const Regional &regional = options.regional != nullptr ? *options.regional : CurrentRegional();
  const std::u16string directory = options.directory.empty() ? files::RequireCurrentDirectory() : options.directory;
  const std::u16string base = FormatDateTime(u"DDMMYYY_hhmmss_", options.clock(), regional);
  files::NewFile file = CreateUnique(directory, base);

  std::u16string content = u"Informação recebida em ";
  content += FormatDateTime(u"DD/MM/YYY_hh:nn:ss", options.clock(), regional);
  content += u"\r\n";
  content += body;
  file.WriteAndClose(text::ToAnsi(content));
  return 200;
}

}  // namespace tav::messaging
