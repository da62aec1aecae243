// The bridge against real shared libraries, loaded as the system loads them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "bizlib/bridge.h"
#include "bizlib/detail/state.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/log_capture.h"
#include "support/portable.h"

using namespace tav::bizlib;
using Lines = std::vector<std::u16string>;

namespace {

const std::u16string kComplete = tav::text::FromUtf8(TAV_FIXTURE_ROOT "/complete");
const std::u16string kPartial = tav::text::FromUtf8(TAV_FIXTURE_ROOT "/partial");
const std::u16string kAccented = tav::text::FromUtf8(TAV_FIXTURE_ROOT "/ação");
const std::u16string kMissing = u"/no/such/folder";
const std::u16string kLibrary = std::u16string(tav::files::kSeparator) + u"DozUzedoda" + (tav::files::kSeparator == u"/" ? u".so" : u".dll");
const std::u16string kIni = std::u16string(tav::files::kSeparator) + u"DOZUZEDODA.INI";

std::u16string Handle() { return tav::text::FromUtf8(std::to_string(HInst())); }

Lines OpenLines(const std::u16string &dir, const std::u16string &handleBefore, const std::u16string &handleAfter,
                const char16_t *user = u"ana", const char16_t *senha = u"********", bool log = true) {
  return {u"Valor HInst : " + handleBefore + (log ? u" Habilitar Log SIM" : u" Habilitar Log NAO") +
              u" Habilitar Log Sql NAO",
          u"Parametros...: \r\nDiretorio Dll...............: " + dir + kLibrary +
              u"\r\nDiretorio DozUzedoda.ini....: " + dir + kIni +
              u"\r\nUsuario.....................: " + user + u"\r\nSenha.......................: " + senha +
              u"\r\nHabilita LogProc............: " + (log ? u"Sim" : u"Não"),
          u"Etapa 01 Dll> " + dir + kLibrary, u"Valor HInst : " + handleAfter};
}

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *v : {"FIXTURE_CONNECT", "FIXTURE_FAILMSG", "FIXTURE_CODE", "FIXTURE_ANSWER",
                          "FIXTURE_DELAY_MS", "FIXTURE_THROW", "FIXTURE_FAIL", "FIXTURE_FAIL_EVERY", "FIXTURE_HOLD"})
      tav::testing::UnsetEnv(v);
  }
  void TearDown() override {
    try {
      FechaDll();
    } catch (...) {
    }
  }
  tav::testing::LogCapture log;
};

}  // namespace

TEST_F(Bridge, OpenLogsEachStepAndAppliesTheSwitches) {
  AbreDll(kComplete, u"ana", u"segredo", true, false);
  ASSERT_TRUE(Carregada());
  const std::u16string h = Handle();
  Lines expected = OpenLines(kComplete, u"0", h);
  expected.insert(expected.end(), {u"Dll aberta", u"Habilita Log: Sim", u"Habilita Sql: Não"});
  EXPECT_EQ(log.Take(), expected);
  EXPECT_EQ(Versao(), u"FX1");

  // A second open changes nothing.
  AbreDll(kComplete, u"ana", u"segredo", false, true);
  EXPECT_EQ(log.Take(), (Lines{u"Valor HInst : " + h + u" Habilitar Log NAO Habilitar Log Sql SIM", u"Dll já aberta"}));

  FechaDll();
  FechaDll();
  EXPECT_EQ(log.Take(), (Lines{u"Dll fechada", u"Dll já fechada"}));
  EXPECT_FALSE(Carregada());

  // After a close every routine finds its export missing.
  AtivarLogProc(true);
  AtivarLogSql(false);
  LimparCache();
  EXPECT_EQ(Versao(), u"");
  EXPECT_EQ(MensagemFalha(), u"");
  EXPECT_EQ(log.Take(), (Lines{u"Função \"HabilitarLog\" não encontrada.", u"Função \"HabilitarLogSql\" não encontrada.",
                               u"Rotina...: LimparCache() ", u"Função LimpaCache não encontrada.",
                               u"Rotina...: LimparCache() - FIM "}));
}

TEST_F(Bridge, EmptyPasswordStaysEmptyInTheDump) {
  AbreDll(kComplete, u"", u"", true, false);
  const Lines lines = log.Take();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], OpenLines(kComplete, u"0", u"", u"", u"")[1]);
}

TEST_F(Bridge, MissingLibraryThenBusinessRequest) {
  AbreDll(kMissing, u"ana", u"x", true, false);
  Lines expected = OpenLines(kMissing, u"0", u"0");
  expected.push_back(u"Dll não aberta");
  EXPECT_EQ(log.Take(), expected);

  // The request opens again from the working directory, with both logs off.
  const std::u16string cwd = tav::files::CurrentDirectory();
  std::u16string answer = u"untouched";
  EXPECT_EQ(ExecutaJSon(u"{}", u"bia", u"", u"1", answer), 0);
  EXPECT_EQ(answer, u"untouched");
  expected = OpenLines(cwd, u"0", u"0", u"bia", u"", false);
  expected.insert(expected.end(), {u"Dll não aberta", u"Dll não aberta", u"Função \"ExecJSon\" não encontrada."});
  EXPECT_EQ(log.Take(), expected);
}

TEST_F(Bridge, FirstRequestConnectsThenRuns) {
  AbreDll(kComplete, u"ana", u"x", false, false);
  log.Take();
  std::u16string answer;
  EXPECT_EQ(ExecutaJSon(u"{\"ACAO\":\"PING\"}", u"ana", u"", u"3", answer), 200);
  EXPECT_EQ(answer, u"{\"ACAO\":\"PING\"}|ana|<null>|3|0|log=0|sql=0");  // empty text travels as null
  EXPECT_EQ(log.Take(), (Lines{u"Conectado", u"200", answer}));
  EXPECT_TRUE(Conectado());

  tav::testing::SetEnv("FIXTURE_CODE", "-1");
  tav::testing::SetEnv("FIXTURE_ANSWER", "NULL");
  EXPECT_EQ(ExecutaJSon(u"", u"", u"", u"", answer), -1);
  EXPECT_EQ(answer, u"");
  EXPECT_EQ(log.Take(), (Lines{u"-1", u""}));
}

TEST_F(Bridge, RefusedConnectionIsRetriedByTheNextRequest) {
  tav::testing::SetEnv("FIXTURE_CONNECT", "0");
  tav::testing::SetEnv("FIXTURE_FAILMSG", "banco fora do ar");
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  AbreDll(kComplete, u"ana", u"x", false, false);
  log.Take();
  std::u16string answer;
  EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);
  EXPECT_EQ(log.Take(), (Lines{u"Não conectado, msg: banco fora do ar", u"200", u"{}"}));
  EXPECT_FALSE(Conectado());
  tav::testing::UnsetEnv("FIXTURE_CONNECT");
  EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);
  EXPECT_EQ(log.Take(), (Lines{u"Conectado", u"200", u"{}"}));
}

TEST_F(Bridge, LibraryWithoutExports) {
  AbreDll(kPartial, u"ana", u"x", true, true);
  Lines lines = log.Take();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ((Lines(lines.end() - 3, lines.end())),
            (Lines{u"Dll aberta", u"Função \"HabilitarLog\" não encontrada.", u"Função \"HabilitarLogSql\" não encontrada."}));
  std::u16string answer = u"untouched";
  EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 0);
  EXPECT_EQ(answer, u"untouched");
  EXPECT_EQ(log.Take(), (Lines{u"Função \"ConectarBancoDados\" não encontrada.", u"Função \"ExecJSon\" não encontrada."}));
  EXPECT_EQ(Versao(), u"PARCIAL");
  EXPECT_EQ(MensagemFalha(), u"");
}

// What the guard reports for FIXTURE_FAIL "<export>:raise".
std::string Raised(const std::string &exportName) {
#if defined(_WIN32)
  return "Exce\xC3\xA7\xC3\xA3o 0xE0000001 na biblioteca de neg\xC3\xB3" "cio (" + exportName + ")";
#else
  return "Exce\xC3\xA7\xC3\xA3o C++ do tipo int na biblioteca de neg\xC3\xB3" "cio (" + exportName + ")";
#endif
}

// The message of the error `body` throws, or "<none>".
template <typename Body>
std::string Thrown(Body &&body) {
  try {
    body();
  } catch (const std::exception &e) {
    return e.what();
  }
  return "<none>";
}

TEST_F(Bridge, AFailureInExecJSonIsAnErrorNamingItAndTheLibraryStays) {
  AbreDll(kComplete, u"", u"", false, false);
  std::u16string answer = u"untouched";
  struct Row {
    const char *fail;
    bool run;
    std::string message;
  };
  const Row rows[] = {
      {"ExecJSon:raise", true, Raised("ExecJSon")},
      {"ExecJSon:throw", tav::testing::kLibraryCxxReachesHost,
       "Exce\xC3\xA7\xC3\xA3o C++ \"falha de teste\" na biblioteca de neg\xC3\xB3" "cio (ExecJSon)"},
#if defined(_WIN32)
      {"ExecJSon:null", true,
       "Exce\xC3\xA7\xC3\xA3o 0xC0000005 (viola\xC3\xA7\xC3\xA3o de acesso: escrita no endere\xC3\xA7o 0x" +
           std::string(2 * sizeof(void *), '0') + ") na biblioteca de neg\xC3\xB3" "cio (ExecJSon)"},
#endif
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.fail);
    if (!row.run) continue;
    tav::testing::SetEnv("FIXTURE_FAIL", row.fail);
    EXPECT_EQ(Thrown([&] { ExecutaJSon(u"{}", u"", u"", u"", answer); }), row.message);
    EXPECT_EQ(answer, u"untouched");
    tav::testing::UnsetEnv("FIXTURE_FAIL");
    EXPECT_TRUE(Carregada());
    EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);  // the next request calls it again
    answer = u"untouched";
  }
}

TEST_F(Bridge, FailuresInTheOtherExportsGoWhereTheRoutinesSendThem) {
  AbreDll(kComplete, u"", u"", false, false);
  std::u16string answer;
  ASSERT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);
  log.Take();
  // The log switches and MensagemFalha pass the error to the caller (the window's handler).
  tav::testing::SetEnv("FIXTURE_FAIL", "HabilitarLog:raise");
  EXPECT_EQ(Thrown([] { AtivarLogProc(true); }), Raised("HabilitarLog"));
  tav::testing::SetEnv("FIXTURE_FAIL", "HabilitarLogSql:raise");
  EXPECT_EQ(Thrown([] { AtivarLogSql(true); }), Raised("HabilitarLogSql"));
  tav::testing::SetEnv("FIXTURE_FAIL", "MensagemFalha:raise");
  EXPECT_EQ(Thrown([] { MensagemFalha(); }), Raised("MensagemFalha"));
  EXPECT_EQ(log.Take(), Lines{});
  // Versao and LimpaCache drop it.
  tav::testing::SetEnv("FIXTURE_FAIL", "Versao:raise");
  EXPECT_EQ(Versao(), u"");
  tav::testing::SetEnv("FIXTURE_FAIL", "LimpaCache:raise");
  LimparCache();
  EXPECT_EQ(log.Take(), (Lines{u"Rotina...: LimparCache() ", u"Rotina...: LimparCache() - FIM "}));
  // A failed connection is dropped: the request runs unconnected, the next one tries again.
  FechaDll();
  AbreDll(kComplete, u"", u"", false, false);
  tav::testing::SetEnv("FIXTURE_FAIL", "ConectarBancoDados:raise");
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  log.Take();
  EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);
  EXPECT_EQ(log.Take(), (Lines{u"200", u"{}"}));
  EXPECT_FALSE(Conectado());
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  EXPECT_EQ(ExecutaJSon(u"{}", u"", u"", u"", answer), 200);
  EXPECT_EQ(log.Take(), (Lines{u"Conectado", u"200", u"{}"}));
  // A failure inside the open (the log switch) is dropped; the library is loaded.
  FechaDll();
  tav::testing::SetEnv("FIXTURE_FAIL", "HabilitarLog:raise");
  AbreDll(kComplete, u"", u"", true, false);
  EXPECT_TRUE(Carregada());
  EXPECT_EQ(log.Take().back(), u"Dll aberta");
}

#if defined(_WIN32)
// The library's start-up and shutdown code run inside LoadLibraryW and FreeLibrary.
TEST_F(Bridge, FailuresWhileLoadingOrUnloading) {
  tav::testing::SetEnv("FIXTURE_FAIL", "load:raise");
  AbreDll(kComplete, u"", u"", false, false);
  EXPECT_FALSE(Carregada());
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  AbreDll(kComplete, u"", u"", false, false);
  ASSERT_TRUE(Carregada());
  tav::testing::SetEnv("FIXTURE_FAIL", "unload:raise");
  (void)Thrown([] { FechaDll(); });  // the loader may report it or take it itself
  EXPECT_FALSE(Carregada());
  tav::testing::UnsetEnv("FIXTURE_FAIL");
  AbreDll(kComplete, u"", u"", false, false);
  EXPECT_EQ(Versao(), u"FX1");
}
#endif

// A call that does not return: the close waits a bounded time, then leaves the
// unload to the call, which unloads when it ends; a new open meanwhile keeps the
// library that is still loaded.
TEST_F(Bridge, CloseWithACallInsideIsDeferredToTheLastCall) {
  const std::string hold = std::string(TAV_FIXTURE_ROOT) + "/hold_" + std::to_string(tav::testing::ProcessId());
  { std::ofstream(hold).put('x'); }
  tav::testing::SetEnv("FIXTURE_HOLD", hold.c_str());
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  AbreDll(kComplete, u"", u"", false, false);
  log.Take();
  std::int32_t code = 0;
  std::thread call([&] {
    std::u16string answer;
    code = ExecutaJSon(u"{}", u"", u"", u"", answer);
  });
  // "Conectado" is written once the call holds the library, before ExecJSon.
  for (int i = 0; i < 1000; ++i) {
    const auto entries = tav::log::ExecutionLog::Global().Entries();
    if (!entries.empty() && entries.back().substr(9) == u"Conectado") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FechaDll(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
  EXPECT_EQ(log.Take(), (Lines{u"Conectado", u"Dll em uso por 1 chamada(s): será fechada quando a última terminar"}));
  EXPECT_FALSE(Carregada());
  EXPECT_EQ(HInst(), 0u);

  AbreDll(kComplete, u"", u"", false, false);
  EXPECT_TRUE(Carregada());
  log.Take();
  std::remove(hold.c_str());
  call.join();
  EXPECT_EQ(code, 200);
  EXPECT_EQ(log.Take(), (Lines{u"200", u"{}", u"Dll fechada"}));
  // The reopened library was never unloaded under it.
  EXPECT_EQ(Versao(), u"FX1");
  FechaDll();
  EXPECT_EQ(log.Take(), Lines{u"Dll fechada"});
}

TEST_F(Bridge, NonAsciiDirectory) {
  AbreDll(kAccented, u"", u"", false, false);
  EXPECT_TRUE(Carregada());
  EXPECT_EQ(Versao(), u"FX1");
}

// Requests racing open/close cycles: no call reaches an unloaded library, nothing crashes.
TEST_F(Bridge, ConcurrentRequestsRacingClose) {
  tav::testing::SetEnv("FIXTURE_DELAY_MS", "2");
  tav::testing::SetEnv("FIXTURE_ANSWER", "{}");
  tav::log::ExecutionLog::Global().SetActive(false);
  ASSERT_EQ(chdir(TAV_FIXTURE_ROOT "/complete"), 0);  // requests reopen from the working directory
  std::atomic<bool> stop{false};
  std::atomic<int> ran{0}, skipped{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&] {
      while (!stop.load()) {
        std::u16string answer = u"untouched";
        Execucao execucao = Execucao::Executada;
        const int code = ExecutaJSon(u"{}", u"u", u"p", u"1", answer, &execucao);
        (code == 200 ? ran : skipped).fetch_add(1);
        if (code == 200) {
          EXPECT_EQ(execucao, Execucao::Executada);
          EXPECT_EQ(answer, u"{}");
        } else {
          // A call that did not reach the library says why, returns 0 and leaves the answer.
          EXPECT_NE(execucao, Execucao::Executada);
          EXPECT_EQ(code, 0);
          EXPECT_EQ(answer, u"untouched");
        }
      }
    });
  for (int cycle = 0; cycle < 40; ++cycle) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    FechaDll();
    if (cycle % 2 == 0) AbreDll(kComplete, u"", u"", false, false);
  }
  stop = true;
  for (auto &th : threads) th.join();
  EXPECT_GT(ran.load(), 0);
}
