#include "messaging/whatsapp.h"

#include <mutex>

#include "messaging/json_reader.h"
#include "platform/https.h"
#include "platform/text.h"

namespace tav::messaging {
namespace {

std::mutex settingsMutex;
GatewaySettings &CurrentSettings() {
  static GatewaySettings settings;
  return settings;
}

// Header values pass through URL percent-encoding: letters and digits are unchanged.
std::string PercentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

// One gateway call: true only for a final 200.
bool Call(const std::string &path, const std::string &body) {
  const GatewaySettings settings = TWhatsApp::Settings();
  if (settings.endpoint.empty()) return false;  // not configured: as an unreachable gateway
  https::Request request;
  request.url = settings.endpoint + path;
  request.headers = {"Authorization: " + PercentEncode(settings.token), "Accept: application/json",
                     "Accept-Charset: utf-8, *;q=0.8", "Content-Type: application/json"};
  request.body = body;
  request.caBundle = settings.caBundle;
  request.userAgent = "TavWebService/2.0.6.0";
  const https::Response response = https::Post(request);
  return response.ok && response.status == 200;
}

}  // namespace

void TWhatsApp::Configure(GatewaySettings settings) {
  while (!settings.endpoint.empty() && settings.endpoint.back() == '/') settings.endpoint.pop_back();
  std::lock_guard lock(settingsMutex);
  CurrentSettings() = std::move(settings);
}

GatewaySettings TWhatsApp::Settings() {
  std::lock_guard lock(settingsMutex);
  return CurrentSettings();
}

std::int32_t TWhatsApp::ExecutaEnvioWhatsApp(std::u16string_view lOperacao, std::u16string &lJsonRetorno) {
  (void)lJsonRetorno;
  const JsonValue request = LeRequisicaoJSon(lOperacao);
  const std::u16string telefone = TextoDoCampo(request, 1);
  const std::u16string campo = TextoDoCampo(request, 2);
  // The message value is written with JSON escapes so that the gateway body stays
  // valid JSON whatever the message holds (a quote, a trailing backslash).
  const JsonValue &mensagem = Membro(request, 2);
  const std::u16string escapada =
      mensagem.kind == JsonValue::Kind::String ? EscapeJsonUnits(mensagem.text) : EscapeJsonUnits(campo);
  return EnviarMensagem(telefone, escapada) ? 200 : 400;
}

std::u16string TWhatsApp::SomenteNumeros(std::u16string_view texto) {
  std::u16string digits;
  for (char16_t c : texto)
    if (c >= u'0' && c <= u'9') digits.push_back(c);
  return digits;
}

std::u16string TWhatsApp::CorpoGateway(std::u16string_view mensagem, std::u16string_view digitos) {
  std::u16string body = u"{ \"message\": \"";
  body += mensagem;
  body += u"\", ";
  body += u" \"number\": \"";
  body += digitos;
  body += u"\", ";
  body += u" \"quoted_message_id\": \" \" ";
  body += u" }";
  return body;
}

bool TWhatsApp::EnviarMensagem(std::u16string_view iTelefone, std::u16string_view iMensagem) {
  return ExecutaProcedimento(CorpoGateway(iMensagem, SomenteNumeros(iTelefone)));
}

bool TWhatsApp::StatusServidor() {
  try {
    return Call("/api/v1/status", std::string());
  } catch (...) {
    return false;
  }
}

bool TWhatsApp::ExecutaProcedimento(std::u16string_view corpo) {
  if (!StatusServidor()) return false;
  try {
    return Call("/api/v1/send_message", text::ToUtf8(corpo));
  } catch (...) {
    return false;
  }
}

}  // namespace tav::messaging
