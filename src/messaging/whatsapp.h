// The WhatsApp gateway client: a status probe, then the message, over HTTPS.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tav::messaging {

// Deployment settings, from TavWebService.ini [WHATSAPP].
struct GatewaySettings {
  std::string endpoint;  // ENDERECO: https base URL of the account, without a trailing "/"
  std::string token;     // TOKEN
  std::string caBundle;  // CERTIFICADOS: PEM CA bundle; empty uses the platform's trust store
};

class TWhatsApp {
 public:
  TWhatsApp() = delete;

  // Set once by the host at start-up; a gateway without an endpoint fails every send.
  static void Configure(GatewaySettings settings);
  static GatewaySettings Settings();

  // 200 when the gateway accepted the message, 400 otherwise. Errors reading the
  // body (the positional reader's) propagate. lJsonRetorno is never written.
  static std::int32_t ExecutaEnvioWhatsApp(std::u16string_view lOperacao, std::u16string &lJsonRetorno);
  // iMensagem goes into the gateway body as given (the caller escapes it).
  static bool EnviarMensagem(std::u16string_view iTelefone, std::u16string_view iMensagem);

 private:
  static std::u16string SomenteNumeros(std::u16string_view texto);
  static bool StatusServidor();
  static bool ExecutaProcedimento(std::u16string_view corpo);
  // The gateway body for a message value (already escaped) and the phone digits.
  static std::u16string CorpoGateway(std::u16string_view mensagem, std::u16string_view digitos);
};

}  // namespace tav::messaging
