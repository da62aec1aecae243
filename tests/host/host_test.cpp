// The controller: configuration, start-up, commands and their log lines.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "bizlib/bridge.h"
#include "bizlib/detail/state.h"
#include "host/qt/form_principal.h"
#include "host/qt/frm_logproc.h"
#include "host/qt/qtext.h"
#include "host_support.h"
#include "http/listener.h"
#include "support/http_client.h"
#include "platform/text.h"
#include "support/log_capture.h"

using tav::host::TFormPrincipal;
using tav::testing::LogCapture;
using tav::testing::WorkingDirectory;
using Lines = std::vector<std::u16string>;

namespace {

const std::string kServiceIni = "[SERVIDOR]\r\nPORTA=0\r\n[DLL]\r\nUSUARIO=ana\r\nSENHA=s=e=g\r\n";

// The log's entries without their time stamps, then clears them.
Lines Take() {
  Lines out;
  for (auto &e : tav::log::ExecutionLog::Global().Entries()) out.push_back(e.substr(9));
  tav::log::ExecutionLog::Global().Clear();
  return out;
}

}  // namespace

TEST(Configuration, SettingsFromBothFiles) {
  struct Row {
    const char *name;
    std::string serviceIni;  // empty: no file
    std::string libraryIni;  // empty: no file
    std::u16string porta, usuario, senha;
    bool dirSet, auto_, log;
  };
  const Row rows[] = {
      {"no files", "", "", u"", u"", u"", false, false, false},
      {"no PORTA key", "[DLL]\nUSUARIO=x\n", "", u"8080", u"x", u"", true, false, false},
      {"lower case names", "[servidor]\nporta=9000\n[gerais]\niniciarauto=S\n", "[log]\nativo=sim\n", u"9000", u"", u"", true, true, true},
      {"S in quotes and blanks", "[GERAIS]\nINICIARAUTO= \"S\" \n", "[LOG]\nAtivo=Sim\n", u"8080", u"", u"", true, true, true},
      {"s is not S", "[GERAIS]\nINICIARAUTO=s\n", "[LOG]\nAtivo=SIMM\n", u"8080", u"", u"", true, false, false},
      {"SIM is not S", "[GERAIS]\nINICIARAUTO=SIM\n", "[LOG]\nAtivo=1\n", u"8080", u"", u"", true, false, false},
      {"password with equals signs", kServiceIni, "", u"0", u"ana", u"s=e=g", true, false, false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    WorkingDirectory dir;
    if (!row.serviceIni.empty()) dir.Write("TavWebService.ini", row.serviceIni);
    if (!row.libraryIni.empty()) dir.Write("dozuzedoda.INI", row.libraryIni);  // names resolve without regard to case
    TFormPrincipal form;
    EXPECT_EQ(form.mPorta, row.porta);
    EXPECT_EQ(form.mUsuarioDll, row.usuario);
    EXPECT_EQ(form.mSenhaDll, row.senha);
    EXPECT_EQ(form.mDirDllTavoric.empty(), !row.dirSet);
    EXPECT_EQ(form.bIniciarAuto, row.auto_);
    EXPECT_EQ(form.chkLog->isChecked(), row.log);
  }
}

TEST(Configuration, GatewaySettings) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[WHATSAPP]\nENDERECO=https://gw.example/conta/\nTOKEN=abc\nCERTIFICADOS=/etc/ca.pem\n");
  TFormPrincipal form;
  const auto settings = tav::messaging::TWhatsApp::Settings();
  EXPECT_EQ(settings.endpoint, "https://gw.example/conta");
  EXPECT_EQ(settings.token, "abc");
  EXPECT_EQ(settings.caBundle, "/etc/ca.pem");
}

TEST(Configuration, ServerLimits) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\nPORTA=0\nMAXCONEXOESPORCLIENTE=7\nTEMPOOCIOSO=x\n[DLL]\nUSUARIO=ana\n");
  tav::log::ExecutionLog::Global().SetActive(true);
  Take();
  TFormPrincipal form;
  EXPECT_EQ(form.mLimites.maxConnectionsPerPeer, 7u);
  EXPECT_EQ(form.mLimites.idleTimeout, tav::http::Limits{}.idleTimeout);  // the bad value keeps its default
  EXPECT_EQ(form.mPorta, u"0");                                           // and nothing else is lost
  EXPECT_EQ(form.mUsuarioDll, u"ana");
  const Lines lines = Take();
  const auto reported = std::find_if(lines.begin(), lines.end(), [](const std::u16string &line) {
    return line.find(u"  Rotina.......: CarregaParametros()\r\n  Bloco........: 0\r\n  Falha........: Valor inválido em "
                     u"[SERVIDOR], mantido o padrão: TEMPOOCIOSO='x'\r\n") != std::u16string::npos;
  });
  EXPECT_NE(reported, lines.end());
  form.SetLogAtivo(false);
}

TEST(Controller, VersionAndLabels) {
  {
    WorkingDirectory dir;
    dir.Write("TavWebService.ini", kServiceIni);
    dir.AddLibrary();
    TFormPrincipal form;
    form.show();
    EXPECT_EQ(form.sVersaoSistema, u"10.2FX1");  // four characters of 10.2.3.4, then the library's
    EXPECT_EQ(form.lblVersao->text(), QStringLiteral("V 10.2FX1"));
    EXPECT_EQ(form.lblTitulo->text(), QStringLiteral("0"));
    EXPECT_EQ(form.size(), QSize(tav::host::layout::kMainWidth, tav::host::layout::kMainHeight));
    tav::bizlib::FechaDll();
  }
  WorkingDirectory dir;
  TFormPrincipal form;
  EXPECT_EQ(form.sVersaoSistema, u"10.2");
}

TEST(Controller, StartStopAndTheirLogLines) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", kServiceIni);
  dir.AddLibrary();
  tav::testing::RecordingPrompter prompter;
  TFormPrincipal form;
  form.show();
  form.btnLogExec->click();
  EXPECT_TRUE(Take().empty());  // nothing before the first opening is recorded
  const std::u16string handle = tav::host::U(QString::number(tav::bizlib::HInst()));

  form.btnIniciar->click();
  EXPECT_EQ(Take(), (Lines{u"Rotina...: btnIniciarClick()", u"Rotina...: TFormPrincipal.CarregaDll()",
                           u"Valor HInst : " + handle + u" Habilitar Log NAO Habilitar Log Sql NAO", u"Dll já aberta",
                           u"Rotina...: TFormPrincipal.CarregaDll() > Fim", u"Rotina...: StartServer()",
                           u" 1 Não está ativo...", u" 2 Ativou..."}));
  ASSERT_TRUE(form.Server().Active());
  form.ApplicationEvents1Idle();
  EXPECT_FALSE(form.btnIniciar->isEnabled());
  EXPECT_TRUE(form.btnParar->isEnabled());
  const auto port = form.Server().Bindings().at(0).port;
  EXPECT_EQ(tav::testing::Exchange(port, "GET / HTTP/1.0\r\n\r\n").substr(0, 15), "HTTP/1.1 200 OK");

  form.ButtonOpenBrowser->click();
  EXPECT_EQ(Take(), (Lines{u"Rotina...: StartServer()"}));
  EXPECT_EQ(prompter.opened, QStringList{QStringLiteral("http://localhost:0")});

  form.btnParar->click();
  EXPECT_EQ(Take(), (Lines{u"Rotina...: btnPararClick()", u"Dll fechada"}));
  EXPECT_FALSE(form.Server().Active());
  form.ApplicationEvents1Idle();
  EXPECT_TRUE(form.btnIniciar->isEnabled());
  EXPECT_FALSE(form.btnParar->isEnabled());

  // Open Browser after Stop starts the listener but leaves the library closed.
  form.ButtonOpenBrowser->click();
  EXPECT_TRUE(form.Server().Active());
  EXPECT_FALSE(tav::bizlib::Carregada());
  Take();

  form.btnMinimizar->click();
  EXPECT_TRUE(Take().empty());
  form.btnLimparCache->click();
  EXPECT_EQ(Take(), (Lines{u"Rotina...: LimparCache() ", u"Função LimpaCache não encontrada.", u"Rotina...: LimparCache() - FIM "}));
  form.chkLogSql->click();
  EXPECT_EQ(Take(), (Lines{u"Função \"HabilitarLogSql\" não encontrada."}));
  EXPECT_TRUE(prompter.errors.isEmpty());

  // Stop then Start: the library is opened again with the switches' states.
  form.ApplicationEvents1Idle();  // as the event loop does between commands
  form.btnParar->click();
  Take();
  form.ApplicationEvents1Idle();
  form.btnIniciar->click();
  const Lines again = Take();
  ASSERT_GE(again.size(), 10u);
  EXPECT_EQ(again.front(), u"Rotina...: btnIniciarClick()");
  EXPECT_EQ(again[2], u"Valor HInst : 0 Habilitar Log NAO Habilitar Log Sql SIM");
  EXPECT_NE(std::find(again.begin(), again.end(), u"Dll aberta"), again.end());
  EXPECT_EQ(again.back(), u" 2 Ativou...");
  EXPECT_TRUE(form.Server().Active());
  EXPECT_TRUE(tav::bizlib::Carregada());
  form.btnPararClick();
}

TEST(Controller, BadPortsAreErrorBlocks) {
  struct Row { const char *ini; std::u16string message; };
  const Row rows[] = {
      {"", u"'' is not a valid integer value"},
      {"[SERVIDOR]\nPORTA=abc\n", u"'abc' is not a valid integer value"},
      {"[SERVIDOR]\nPORTA=65616\n", u"'65616' is not a valid integer value"},  // never wrapped to port 80
      {"[SERVIDOR]\nPORTA=-1\n", u"'-1' is not a valid integer value"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(tav::text::ToUtf8(row.message));
    WorkingDirectory dir;
    if (*row.ini != '\0') dir.Write("TavWebService.ini", row.ini);
    TFormPrincipal form;
    form.btnLogExec->click();
    Take();
    form.StartServer();
    const Lines lines = Take();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], u" 1 Não está ativo...");
    EXPECT_NE(lines[2].find(u"  Rotina.......: StartServer()\r\n  Bloco........: 0\r\n  Falha........: " + row.message + u"\r\n"),
              std::u16string::npos);
    EXPECT_FALSE(form.Server().Active());
    form.SetLogAtivo(false);
  }
}

TEST(Controller, AutomaticStartBeforeTheLabelsAreFilled) {
  WorkingDirectory dir;
  dir.Write("TavWebService.ini", "[SERVIDOR]\nPORTA=0\n[GERAIS]\nINICIARAUTO=S\n");
  TFormPrincipal form;
  form.show();
  EXPECT_TRUE(form.Server().Active());
  form.btnLogExec->click();
  EXPECT_TRUE(tav::log::ExecutionLog::Global().Entries().empty());  // the automatic start left nothing
  form.btnParar->click();
}

TEST(Controller, PortInUseIsReported) {
  WorkingDirectory dir;
  tav::http::HttpListener other;
  other.SetDefaultPort(0);
  other.SetActive(true);
  dir.Write("TavWebService.ini", "[SERVIDOR]\nPORTA=" + std::to_string(other.Bindings().at(0).port) + "\n");
  TFormPrincipal form;
  form.btnLogExec->click();
  form.StartServer();
  const Lines lines = Take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find(u"Falha........: Could not bind socket. Address and port are already in use."), std::u16string::npos);
  EXPECT_FALSE(form.Server().Active());
}

// The window follows the layout table: places, captions, and the tab order as
// the order of the table's tab stops.
TEST(Controller, LayoutAndTabOrder) {
  namespace layout = tav::host::layout;
  WorkingDirectory dir;
  TFormPrincipal form;
  EXPECT_EQ(form.size(), QSize(layout::kMainWidth, layout::kMainHeight));
  EXPECT_EQ(form.windowTitle(), tav::host::Q(layout::kMainCaption));
  std::vector<QWidget *> tabStops;
  for (const auto &row : layout::kMainControls) {
    QWidget *control = form.Control(row.id);
    SCOPED_TRACE(tav::host::Q(row.caption).toStdString());
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), tav::host::Q(row.place));
    const QWidget *parent = row.kind == layout::Kind::CheckBox ? static_cast<QWidget *>(form.grpLogs) : &form;
    EXPECT_EQ(control->parentWidget(), parent);
    if (auto *button = qobject_cast<QAbstractButton *>(control)) {
      EXPECT_EQ(button->text(), tav::host::Q(row.caption));
    }
    if (row.kind == layout::Kind::Button || row.kind == layout::Kind::CheckBox) tabStops.push_back(control);
  }
  EXPECT_EQ(form.grpLogs->title(), tav::host::Q(layout::Of(layout::Main::grpLogs).caption));
  // The named controls are the table's.
  EXPECT_EQ(form.btnIniciar, form.Control(layout::Main::btnIniciar));
  EXPECT_EQ(form.chkLogSql, form.Control(layout::Main::chkLogSql));
  EXPECT_EQ(form.lblVersao, form.Control(layout::Main::lblVersao));
  EXPECT_TRUE(form.ButtonOpenBrowser->isEnabled());
  EXPECT_GT(form.ButtonOpenBrowser->x(), form.width());  // present but outside the visible area
  const auto nextTabStop = [](QWidget *w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
  };
  for (std::size_t i = 0; i + 1 < tabStops.size(); ++i) EXPECT_EQ(nextTabStop(tabStops[i]), tabStops[i + 1]) << i;
}
