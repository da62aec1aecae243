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
  const std::u16string base = FormatDateTime(u"DDMMYYY_hhmmss_", options.clock(), regional);
  // "<base>.txt", else "<base>1.txt", "<base>2.txt", ...: no communication replaces another.
  files::NewFile file = files::CreateNumbered(files::Join(directory, base), u"", u".txt").file;

  std::u16string content = u"Informação recebida em ";
  content += FormatDateTime(u"DD/MM/YYY_hh:nn:ss", options.clock(), regional);
  content += u"\r\n";
  content += body;
  file.WriteAndClose(text::ToAnsi(content));
  return 200;
}

}  // namespace tav::messaging
