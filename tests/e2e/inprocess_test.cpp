// Listener, web module, business library bridge and an active execution log, in one process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bizlib/bridge.h"
#include "bizlib/dozuzedoda_abi.h"
#include "http/listener.h"
#include "http/module/utilitarios.h"
#include "http/module/web_module.h"
#include "messaging/whatsapp.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/http_client.h"
#include "support/log_capture.h"
#include "support/portable.h"

using namespace tav::http;
using tav::testing::Exchange;
using Lines = std::vector<std::u16string>;

namespace {

std::string Body(const std::string &response) { return response.substr(response.find("\r\n\r\n") + 4); }
std::string StatusLine(const std::string &response) { return response.substr(0, response.find("\r\n")); }

std::string Post(std::uint16_t port, const std::string &target, const std::string &body, const std::string &headers = "") {
  return Exchange(port, "POST " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
}

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *v : {"FIXTURE_CONNECT", "FIXTURE_CODE", "FIXTURE_ANSWER", "FIXTURE_DELAY_MS", "FIXTURE_THROW"}) tav::testing::UnsetEnv(v);
    // A folder of its own per test: a library that could not really be unloaded stays
    // known to the loader by its path, and would answer for the next test's folder.
    dir_ = std::filesystem::temp_directory_path() / ("e2e_" + std::to_string(tav::testing::ProcessId()) + "_" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    tav::messaging::TWhatsApp::Configure({});
    pool_.RegisterModuleClass([] { return std::make_unique<TWebModule1>(); });
    listener_ = std::make_unique<HttpListener>(&pool_);
    listener_->SetDefaultPort(0);
    listener_->SetActive(true);
    port_ = listener_->Bindings().at(0).port;
  }
  void TearDown() override {
    listener_->SetActive(false);
    tav::bizlib::FechaDll();
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }
  void AddLibrary() {
    const std::string file = tav::text::ToUtf8(tav::abi::kLibraryFile);
    std::filesystem::copy_file(std::string(TAV_FIXTURE_ROOT "/complete/") + file, dir_ / file);
  }
  Lines Take() { return log_.Take(); }

  tav::testing::LogCapture log_;
  std::filesystem::path dir_, previous_;
  HandlerPool pool_;
  std::unique_ptr<HttpListener> listener_;
  std::uint16_t port_ = 0;
};

const std::u16string kStart = std::u16string(56, u'*') + u"\r\nIniciado Execução da Ação no WsTavoric";

}  // namespace

TEST(ExtraiConteudo, Table) {
  struct Row { const char16_t *text, *key, *value; };
  const Row rows[] = {
      {u"ACAO=CONSULTAR&usuario=x", u"ACAO", u"CONSULTAR"},
      {u"XACAO=1", u"ACAO", u"1"},
      {u"{\"ACAO\":\"VENDA\",\"x\":1}", u"ACAO", u":\"VENDA\",\"x\":1}"},
      {u"sem chave", u"ACAO", u""},
      {u"ACAO", u"ACAO", u""},
      {u"acao=1", u"ACAO", u""},
  };
  for (const auto &row : rows) EXPECT_EQ(ExtraiConteudo(row.text, row.key), row.value);
}

TEST_F(Service, BusinessRouteLoadsConnectsAndAnswers) {
  AddLibrary();
  tav::testing::SetEnv("FIXTURE_ANSWER", "{\"nome\":\"João\"}");
  tav::testing::SetEnv("FIXTURE_CODE", "201");
  const std::string response = Post(port_, "/WsTavoric?usuario=&senha=s1", "ACAO=VENDA&x=1", "usuario: hdr\r\nnivel: 7\r\n");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 201 Created");
  EXPECT_NE(response.find("Content-Type: application/json; charset=ISO-8859-1\r\n"), std::string::npos);
  EXPECT_EQ(Body(response), "{\"nome\":\"Jo\xC3\xA3o\"}");  // one byte per character
  const Lines lines = Take();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], kStart);
  EXPECT_EQ(lines[1], u"Ação: VENDA");
  EXPECT_EQ(lines[2], u"ACAO=VENDA&x=1");
  EXPECT_EQ(lines[3].substr(0, 14), u"Valor HInst : ");  // the bridge opens from the working directory
  EXPECT_EQ((Lines(lines.end() - 3, lines.end())), (Lines{u"Conectado", u"201", u"{\"nome\":\"Jo\u00C3\u00A3o\"}"}));
}

TEST_F(Service, ArgumentsReachTheLibrary) {
  AddLibrary();
  const std::string response = Post(port_, "/WsTavoric?usuario=q&nivel=", "{}", "usuario: h\r\nsenha: p\r\nnivel: 3\r\n");
  EXPECT_EQ(Body(response), "{}|q|p|3|0|log=0|sql=0");  // a query value wins; empty ones fall back to the header
  EXPECT_EQ(Body(Post(port_, "/WsTavoric", "")), "<null>|<null>|<null>|<null>|0|log=0|sql=0");
}

TEST_F(Service, LibraryFailureIsLoggedAndAnsweredEmpty) {
  AddLibrary();
  tav::testing::SetEnv("FIXTURE_THROW", "quebrou");
  const std::string response = Post(port_, "/WsTavoric", "{\"ACAO\":1}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 200 OK");
  EXPECT_NE(response.find("Content-Type: application/json; charset=ISO-8859-1\r\nContent-Length: 0\r\n"), std::string::npos);
  const Lines lines = Take();
  ASSERT_GE(lines.size(), 2u);
  const std::u16string failure = lines[lines.size() - 2];
  EXPECT_EQ(failure.substr(8), u" Falha na Execução da Funcionalidade de Processamento do WsTavoric");
  EXPECT_EQ(lines.back(), u"Falha...: quebrou");
}

TEST_F(Service, WithoutALibraryTheAnswerIs503) {
  const std::string response = Post(port_, "/WsTavoric", "{\"ACAO\":\"PING\"}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(Body(response), "{\"erro\":\"A biblioteca de neg\xF3" "cio n\xE3o est\xE1 carregada.\"}");
  const Lines lines = Take();
  EXPECT_EQ((Lines(lines.end() - 2, lines.end())), (Lines{u"Dll não aberta", u"Função \"ExecJSon\" não encontrada."}));
}

TEST_F(Service, IntakeAndWhatsAppRoutes) {
  const std::string intake = Post(port_, "/wstavoric", "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"nota\"}");
  EXPECT_EQ(StatusLine(intake), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(intake), "");
  std::size_t files = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir_)) files += e.path().extension() == ".txt";
  EXPECT_EQ(files, 1u);

  const std::string status = Post(port_, "/WsTavoric", "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"CONSULTARSTATUS\"}");
  EXPECT_EQ(StatusLine(status), "HTTP/1.1 200 OK");

  // Both keywords: the WhatsApp route wins; an unconfigured gateway fails the send.
  const std::string both = Post(port_, "/WsTavoric", "{\"a\":\"ENVIARWHATSAPP VUZEDAVODOZUZODOVE\",\"f\":\"1\",\"m\":\"x\"}");
  EXPECT_EQ(StatusLine(both), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(Body(both), "");

  Take();
  const std::string bad = Post(port_, "/WsTavoric", "{\"a\":\"VUZEDAVODOZUZODOVE\"}");
  EXPECT_EQ(StatusLine(bad), "HTTP/1.1 200 OK");
  EXPECT_EQ(Take().back(), u"Falha...: Argument out of range");
}

TEST_F(Service, QueryDecodingErrorGivesTheErrorPage) {
  const std::string response = Post(port_, "/WsTavoric?usuario=a%zz", "{}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 500 Internal Server Error");
  EXPECT_NE(Body(response).find("Invalid URL encoded character (%zz) at position 10"), std::string::npos);
  EXPECT_EQ(Take(), Lines{kStart});  // the failure happened before the route guard
}
