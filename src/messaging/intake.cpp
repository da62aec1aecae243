#include "messaging/intake.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "messaging/json_reader.h"
#include "platform/errors.h"
#include "platform/fd.h"
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
UniqueFd CreateUnique(const std::u16string &directory, const std::u16string &base, std::string &path) {
  const std::u16string stem = directory + u"/" + base;
  int counter = 0;
  {
    std::lock_guard lock(Last().mutex);
    if (Last().base == stem) counter = Last().next;
  }
  for (; counter < kMaxCounter; ++counter) {
    std::u16string name = stem;
    if (counter > 0) name += text::Ascii(std::to_string(counter));
    name += u".txt";
    path = files::ToNative(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::lock_guard lock(Last().mutex);
      if (Last().base != stem || Last().next <= counter) {
        Last().base = stem;
        Last().next = counter + 1;
      }
      return UniqueFd(fd);
    }
    if (errno != EEXIST) throw IoError(errno, "Cannot create file \"" + path + "\"");
  }
  throw IoError(EEXIST, "Cannot create file \"" + path + "\"");
}

}  // namespace

std::int32_t ProcessaRequisicao(std::u16string_view body) { return ProcessaRequisicao(body, IntakeOptions{}); }

std::int32_t ProcessaRequisicao(std::u16string_view body, const IntakeOptions &options) {
  const JsonValue request = LeRequisicaoJSon(body);
  if (TextoDoCampo(request, 1) == u"CONSULTARSTATUS") return 200;

  const Regional &regional = options.regional != nullptr ? *options.regional : CurrentRegional();
  const std::u16string directory = options.directory.empty() ? files::RequireCurrentDirectory() : options.directory;
  const std::u16string base = FormatDateTime(u"DDMMYYY_hhmmss_", options.clock(), regional);
  std::string path;
  UniqueFd file = CreateUnique(directory, base, path);

  std::u16string content = u"Informação recebida em ";
  content += FormatDateTime(u"DD/MM/YYY_hh:nn:ss", options.clock(), regional);
  content += u"\r\n";
  content += body;
  files::WriteAndClose(file, text::ToAnsi(content), path);
  return 200;
}

}  // namespace tav::messaging
