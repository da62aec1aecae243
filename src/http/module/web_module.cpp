#include "http/module/web_module.h"

#include "bizlib/bridge.h"
#include "http/handler_pool.h"
#include "http/module/utilitarios.h"
#include "log/execution_log.h"
#include "messaging/intake.h"
#include "messaging/json_reader.h"
#include "messaging/whatsapp.h"
#include "platform/datetime.h"
#include "platform/errors.h"

namespace tav::http {
namespace {

constexpr char16_t kJsonContentType[] = u"application/json; charset=ISO-8859-1";
constexpr std::int32_t kReadLimit = 5900;

// A route whose call failed answers 400 when the body could not be read (the
// sender's to mend) and 500 when the request could not be carried out; never
// the listener's default 200 with an empty body, which would report the failure
// as success and, on the intake route, lose the communication unseen.
std::int32_t FailureStatus(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const messaging::InvalidRequest &) {
    return 400;
  } catch (...) {
    return 500;
  }
}

std::u16string ErroJson(std::u16string_view message) {
  return u"{\"erro\":\"" + messaging::EscapeJsonUnits(message) + u"\"}";
}

}  // namespace

TWebModule1::TWebModule1() {
  WebAction action;
  action.Name = u"WsTavoric";
  action.PathInfo = u"/WsTavoric";
  action.methodType = MethodType::Any;
  action.Enabled = true;
  action.Default = false;
  action.OnAction = [this](WebAction &sender, WebRequest &request, WebResponse &response, bool &handled) {
    WsTavoric(sender, request, response, handled);
  };
  actions_.push_back(std::move(action));
}

void TWebModule1::WsTavoric(WebAction &, WebRequest &request, WebResponse &response, bool &) {
  log::RegistraLog(std::u16string(56, u'*') + u"\r\nIniciado Execução da Ação no WsTavoric");

  std::u16string lUsuario = request.QueryField(u"usuario");
  std::u16string lSenha = request.QueryField(u"senha");
  std::u16string lNivel = request.QueryField(u"nivel");
  if (lUsuario.empty()) lUsuario = request.GetFieldByName(u"usuario");
  if (lSenha.empty()) lSenha = request.GetFieldByName(u"senha");
  if (lNivel.empty()) lNivel = request.GetFieldByName(u"nivel");

  const std::u16string lOperacao = request.ReadString(kReadLimit);
  const std::u16string lAcao = ExtraiConteudo(lOperacao, u"ACAO");
  log::RegistraLog(u"Ação: " + lAcao);
  log::RegistraLog(lOperacao);

  std::u16string lJsonRetorno;
  try {
    response.SetContentType(kJsonContentType);
    std::int32_t status;
    if (lOperacao.find(u"ENVIARWHATSAPP") != std::u16string::npos) {
      status = messaging::TWhatsApp::ExecutaEnvioWhatsApp(lOperacao, lJsonRetorno);
    } else if (lOperacao.find(u"VUZEDAVODOZUZODOVE") != std::u16string::npos) {
      status = messaging::ProcessaRequisicao(lOperacao);
    } else {
      bizlib::Execucao execucao = bizlib::Execucao::Executada;
      status = bizlib::ExecutaJSon(lOperacao, lUsuario, lSenha, lNivel, lJsonRetorno, &execucao);
      // A request the bridge could not run gets 503 and the reason, not status 0.
      if (execucao != bizlib::Execucao::Executada) {
        status = 503;
        lJsonRetorno = execucao == bizlib::Execucao::SemExecJSon
                           ? u"{\"erro\":\"A biblioteca de negócio não exporta ExecJSon.\"}"
                           : u"{\"erro\":\"A biblioteca de negócio não está carregada.\"}";
      }
    }
    response.SetStatusCode(status);
    response.SetContent(lJsonRetorno);
  } catch (...) {
    const std::u16string message = ErrorText(std::current_exception());
    const Regional &regional = CurrentRegional();
    log::RegistraLog(FormatDateTime(regional.longTimeFormat, LocalNow(), regional) +
                     u" Falha na Execução da Funcionalidade de Processamento do WsTavoric");
    log::RegistraLog(u"Falha...: " + message);
    response.SetContentType(kJsonContentType);
    response.SetStatusCode(FailureStatus(std::current_exception()));
    response.SetContent(ErroJson(message));
  }
}

void RegisterWebModule() {
  HandlerPool::Global().RegisterModuleClass([] { return std::make_unique<TWebModule1>(); });
}

}  // namespace tav::http
