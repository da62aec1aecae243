#include "messaging/intake.h"

#include "messaging/json_reader.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tav::messaging {

std::int32_t ProcessaRequisicao(std::u16string_view body) { return ProcessaRequisicao(body, IntakeOptions{}); }

std::int32_t ProcessaRequisicao(std::u16string_view body, const IntakeOptions &options) {
  const JsonValue request = LeRequisicaoJSon(body);
  if (TextoDoCampo(request, 1) == u"CONSULTARSTATUS") return 200;

  const Regional &regional = options.regional != nullptr ? *options.regional : CurrentRegional();
  const std::u16string directory = options.directory.empty() ? files::RequireCurrentDirectory() : options.directory;
  // The name from one reading of the clock, the arrival stamp from a second one.
  const std::u16string base = FormatDateTime(u"DDMMYYY_hhmmss_", options.clock(), regional);
  std::u16string content = u"Informação recebida em ";
  content += FormatDateTime(u"DD/MM/YYY_hh:nn:ss", options.clock(), regional);
  content += u"\r\n";
  content += body;
  const std::string bytes = text::ToAnsi(content);
  // "<base>.txt", else "<base>1.txt", "<base>2.txt", ...: no communication replaces another.
  // A file that cannot be written whole is removed, and the error reaches the sender.
  files::CreateNumbered(files::Join(directory, base), u"", u".txt").file.WriteAndClose(bytes);
  return 200;
}

}  // namespace tav::messaging
