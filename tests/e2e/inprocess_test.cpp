// Listener, web module, business library bridge and an active execution log, in one process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bizlib/bridge.h"
#include "bizlib/detail/state.h"
#include "bizlib/dozuzedoda_abi.h"
#include "http/handler_pool.h"
#include "http/listener.h"
#include "http/module/utilitarios.h"
#include "http/module/web_module.h"
#include "messaging/json_reader.h"
#include "messaging/whatsapp.h"
#include "platform/datetime.h"
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
    for (const char *v : {"FIXTURE_CONNECT", "FIXTURE_CODE", "FIXTURE_ANSWER", "FIXTURE_DELAY_MS", "FIXTURE_THROW", "FIXTURE_FAIL", "FIXTURE_FAIL_EVERY"}) tav::testing::UnsetEnv(v);
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

// A failed route answers 400 (the body could not be read) or 500 (the request could
// not be carried out) with a JSON "erro", logs the two failure lines, and the
// service goes on: the library stays loaded and answers the next request.
TEST_F(Service, RouteFailuresAreReportedAndTheServiceGoesOn) {
  AddLibrary();
  const std::string zeros(2 * sizeof(void *), '0');
  struct Row {
    const char *name;
    const char *fail;  // FIXTURE_FAIL, or null
    bool run;
    std::string body;
    const char *statusLine;
    std::u16string falha;  // the message after "Falha...: ", empty: not checked
  };
  const Row rows[] = {
#if defined(_WIN32)
      {"OS exception", "ExecJSon:raise", true, "{\"ACAO\":1}", "HTTP/1.1 500 Internal Server Error",
       u"Exceção 0xE0000001 na biblioteca de negócio (ExecJSon)"},
      {"null write", "ExecJSon:null", true, "{\"ACAO\":1}", "HTTP/1.1 500 Internal Server Error",
       u"Exceção 0xC0000005 (violação de acesso: escrita no endereço 0x" + tav::text::FromUtf8(zeros) +
           u") na biblioteca de negócio (ExecJSon)"},
#else
      {"exception of a foreign type", "ExecJSon:raise", true, "{\"ACAO\":1}", "HTTP/1.1 500 Internal Server Error",
       u"Exceção C++ do tipo int na biblioteca de negócio (ExecJSon)"},
#endif
      {"C++ exception", "ExecJSon:throw", tav::testing::kLibraryCxxReachesHost, "{\"ACAO\":1}",
       "HTTP/1.1 500 Internal Server Error", u"Exceção C++ \"falha de teste\" na biblioteca de negócio (ExecJSon)"},
      {"intake with one member", nullptr, true, "{\"a\":\"VUZEDAVODOZUZODOVE\"}", "HTTP/1.1 400 Bad Request",
       u"Argument out of range"},
      {"intake not JSON", nullptr, true, "VUZEDAVODOZUZODOVE", "HTTP/1.1 400 Bad Request", u""},
      {"intake not an object", nullptr, true, "[\"VUZEDAVODOZUZODOVE\",1]", "HTTP/1.1 400 Bad Request",
       u"Invalid class typecast"},
      {"intake cut at 5900 bytes", nullptr, true,
       "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"" + std::string(6000, 'x') + "\"}", "HTTP/1.1 400 Bad Request", u""},
      {"WhatsApp with one member", nullptr, true, "{\"a\":\"ENVIARWHATSAPP\"}", "HTTP/1.1 400 Bad Request",
       u"Argument out of range"},
  };
  const std::u16string suffix = u" Falha na Execução da Funcionalidade de Processamento do WsTavoric";
  const tav::Regional &regional = tav::CurrentRegional();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.run) continue;
    if (row.fail != nullptr) tav::testing::SetEnv("FIXTURE_FAIL", row.fail);
    Take();
    // The failure line starts with the long time format's text, built here the same way.
    const std::u16string before = tav::FormatDateTime(regional.longTimeFormat, tav::LocalNow(), regional);
    const std::string response = Post(port_, "/WsTavoric", row.body);
    const std::u16string after = tav::FormatDateTime(regional.longTimeFormat, tav::LocalNow(), regional);
    tav::testing::UnsetEnv("FIXTURE_FAIL");
    EXPECT_EQ(StatusLine(response), row.statusLine);
    EXPECT_NE(response.find("Content-Type: application/json; charset=ISO-8859-1\r\n"), std::string::npos);
    const Lines lines = Take();
    ASSERT_GE(lines.size(), 2u);
    const std::u16string &timeLine = lines[lines.size() - 2];
    EXPECT_TRUE(timeLine == before + suffix || timeLine == after + suffix) << tav::text::ToUtf8(timeLine);
    const std::u16string &falha = lines.back();
    ASSERT_EQ(falha.substr(0, 10), u"Falha...: ");
    if (!row.falha.empty()) {
      EXPECT_EQ(falha.substr(10), row.falha);
    }
    EXPECT_EQ(Body(response), "{\"erro\":\"" + tav::text::ToUtf8(tav::messaging::EscapeJsonUnits(falha.substr(10))) + "\"}");
  }
  // Nothing was stored for the rejected communications; the library still answers.
  for (const auto &e : std::filesystem::directory_iterator(dir_)) EXPECT_NE(e.path().extension(), ".txt");
  EXPECT_TRUE(tav::bizlib::Carregada());
  const std::string next = Post(port_, "/WsTavoric", "{}");
  EXPECT_EQ(StatusLine(next), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(next), "{}|<null>|<null>|<null>|0|log=0|sql=0");
}

#if defined(_WIN32)
// Exceptions that the system raises and handles inside the call are not failures.
TEST_F(Service, ExceptionsHandledInsideTheCallDoNotFailIt) {
  AddLibrary();
  tav::testing::SetEnv("FIXTURE_FAIL", "ExecJSon:handled");
  const std::string response = Post(port_, "/WsTavoric", "{}");
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(response), "{}|<null>|<null>|<null>|0|log=0|sql=0");
}
#endif

#if !defined(_WIN32)
// The intake file cannot be created: 500, and the sender knows.
TEST_F(Service, IntakeThatCannotBeStoredIs500) {
  const std::filesystem::path gone = dir_ / "removida";
  std::filesystem::create_directories(gone);
  std::filesystem::current_path(gone);
  std::filesystem::remove(gone);  // the working directory is no more
  const std::string response = Post(port_, "/WsTavoric", "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"nota\"}");
  std::filesystem::current_path(dir_);
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(Take().back().substr(0, 48), u"Falha...: The working directory is not available");
}
#endif

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
}

TEST_F(Service, QueryDecodingErrorGivesTheErrorPage) {
  const std::string response = Post(port_, "/WsTavoric?usuario=a%zz", "{}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 500 Internal Server Error");
  EXPECT_NE(Body(response).find("Invalid URL encoded character (%zz) at position 10"), std::string::npos);
  EXPECT_EQ(Take(), Lines{kStart});  // the failure happened before the route guard
}
