#include "bizlib/bridge.h"

#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "bizlib/dozuzedoda_abi.h"
#include "log/execution_log.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/no_destructor.h"
#include "platform/text.h"

namespace tav::bizlib {
namespace {

// A shared/exclusive lock that prefers the exclusive side: once a close (or an
// open or connect) is waiting, no new call into the library starts, and the close
// waits for the calls already running.
class LibraryGate {
 public:
  void lock() {
    std::unique_lock guard(mutex_);
    ++waitingExclusive_;
    changed_.wait(guard, [&] { return !exclusive_ && shared_ == 0; });
    --waitingExclusive_;
    exclusive_ = true;
  }
  void unlock() {
    {
      std::lock_guard guard(mutex_);
      exclusive_ = false;
    }
    changed_.notify_all();
  }
  void lock_shared() {
    std::unique_lock guard(mutex_);
    changed_.wait(guard, [&] { return !exclusive_ && waitingExclusive_ == 0; });
    ++shared_;
  }
  void unlock_shared() {
    bool last;
    {
      std::lock_guard guard(mutex_);
      last = --shared_ == 0;
    }
    if (last) changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int shared_ = 0;
  int waitingExclusive_ = 0;
  bool exclusive_ = false;
};

// Module state: one business library per process.
struct State {
  DynamicLibrary library;  // HInst
  bool mConectado = false;
  std::u16string mArquivoDLL;
  std::u16string mArquivoIniTavSrv;
  std::u16string mUsuarioTavoric;
  std::u16string mSenhaTavoric;
  abi::ConectarBancoDadosFn FuncConectar = nullptr;
  abi::MensagemFalhaFn FuncMensagem = nullptr;
  abi::HabilitarLogFn ProcHabilitarLog = nullptr;
  abi::HabilitarLogSqlFn ProcHabilitarLogSql = nullptr;
  abi::ExecJSonFn FuncExecJSon = nullptr;
  abi::VersaoFn FuncVersao = nullptr;
  abi::LimpaCacheFn FuncLimpaCache = nullptr;
};

State &S() {
  static NoDestructor<State> state;  // lives until the process ends, like the library
  return state.get();
}

LibraryGate &Gate() {
  static NoDestructor<LibraryGate> gate;
  return gate.get();
}

// "Above 32" means loaded; a dlopen handle is a pointer, far above that.
bool LoadedLocked() { return S().library.value() > 32; }

std::u16string Number(std::uint64_t n) { return text::Ascii(std::to_string(n)); }
std::u16string Signed(std::int64_t n) { return text::Ascii(std::to_string(n)); }

template <typename Fn>
Fn Resolve(const char *name) {
  return reinterpret_cast<Fn>(S().library.symbol(name));
}

void ClearSlotsLocked() {
  State &s = S();
  s.FuncConectar = nullptr;
  s.FuncMensagem = nullptr;
  s.ProcHabilitarLog = nullptr;
  s.ProcHabilitarLogSql = nullptr;
  s.FuncExecJSon = nullptr;
  s.FuncVersao = nullptr;
  s.FuncLimpaCache = nullptr;
}

void AtivarLogProcLocked(bool iVal) {
  if (S().ProcHabilitarLog == nullptr) {
    RegistraLog(u"Função \"HabilitarLog\" não encontrada.");
    return;
  }
  S().ProcHabilitarLog(iVal ? 1 : 0);
  RegistraLog(iVal ? u"Habilita Log: Sim" : u"Habilita Log: Não");
}

void AtivarLogSqlLocked(bool iVal) {
  if (S().ProcHabilitarLogSql == nullptr) {
    RegistraLog(u"Função \"HabilitarLogSql\" não encontrada.");
    return;
  }
  S().ProcHabilitarLogSql(iVal ? 1 : 0);
  RegistraLog(iVal ? u"Habilita Sql: Sim" : u"Habilita Sql: Não");
}

std::u16string MensagemFalhaLocked() {
  if (!LoadedLocked() || S().FuncMensagem == nullptr) return {};
  Bstr message;
  S().FuncMensagem(message.out());
  return message.text();
}

// Runs with the gate held exclusively. Failures raised inside are dropped.
void AbreDllLocked(std::u16string_view iDiretorioTavoric, std::u16string_view iUsuario, std::u16string_view iSenha,
                   bool iHabilitaLog, bool iHabilitarLogSql) {
  State &s = S();
  try {
    RegistraLog(u"Valor HInst : " + Number(s.library.value()) + u" Habilitar Log " +
                (iHabilitaLog ? u"SIM" : u"NAO") + u" Habilitar Log Sql " + (iHabilitarLogSql ? u"SIM" : u"NAO"));
    if (LoadedLocked()) {
      RegistraLog(u"Dll já aberta");
      return;
    }
    s.mArquivoDLL = files::Join(iDiretorioTavoric, abi::kLibraryFile);
    s.mArquivoIniTavSrv = files::Join(iDiretorioTavoric, abi::kIniFile);
    s.mUsuarioTavoric = iUsuario;
    s.mSenhaTavoric = iSenha;
    // The password never reaches the log in clear.
    const std::u16string senha = s.mSenhaTavoric.empty() ? u"" : u"********";
    RegistraLog(u"Parametros...: \r\nDiretorio Dll...............: " + s.mArquivoDLL +
                u"\r\nDiretorio DozUzedoda.ini....: " + s.mArquivoIniTavSrv +
                u"\r\nUsuario.....................: " + s.mUsuarioTavoric +
                u"\r\nSenha.......................: " + senha +
                u"\r\nHabilita LogProc............: " + (iHabilitaLog ? u"Sim" : u"Não"));
    RegistraLog(u"Etapa 01 Dll> " + s.mArquivoDLL);
    s.library = DynamicLibrary::Open(files::ResolveNoCase(files::ToNative(s.mArquivoDLL)));
    RegistraLog(u"Valor HInst : " + Number(s.library.value()));
    if (!LoadedLocked()) {
      RegistraLog(u"Dll não aberta");
      ClearSlotsLocked();
      return;
    }
    RegistraLog(u"Dll aberta");
    s.FuncConectar = Resolve<abi::ConectarBancoDadosFn>("ConectarBancoDados");
    s.FuncMensagem = Resolve<abi::MensagemFalhaFn>("MensagemFalha");
    s.ProcHabilitarLog = Resolve<abi::HabilitarLogFn>("HabilitarLog");
    s.ProcHabilitarLogSql = Resolve<abi::HabilitarLogSqlFn>("HabilitarLogSql");
    s.FuncExecJSon = Resolve<abi::ExecJSonFn>("ExecJSon");
    s.FuncVersao = Resolve<abi::VersaoFn>("Versao");
    s.FuncLimpaCache = Resolve<abi::LimpaCacheFn>("LimpaCache");
    AtivarLogProcLocked(iHabilitaLog);
    AtivarLogSqlLocked(iHabilitarLogSql);
  } catch (...) {
    // The state stays as it was at the failure.
  }
}

// Runs with the gate held exclusively. Failures raised inside are dropped.
void ConectarBancoLocked() {
  State &s = S();
  try {
    if (s.FuncConectar == nullptr) {
      RegistraLog(u"Função \"ConectarBancoDados\" não encontrada.");
      return;
    }
    const Bstr ini(s.mArquivoIniTavSrv);
    if (s.FuncConectar(ini.get()) != 0) {
      s.mConectado = true;
      RegistraLog(u"Conectado");
    } else {
      RegistraLog(u"Não conectado, msg: " + MensagemFalhaLocked());
    }
  } catch (...) {
  }
}

}  // namespace

void RegistraLog(std::u16string_view iTexto) { log::RegistraLog(iTexto); }

void AbreDll(std::u16string_view iDiretorioTavoric, std::u16string_view iUsuario, std::u16string_view iSenha,
             bool iHabilitaLog, bool iHabilitarLogSql) {
  std::lock_guard lock(Gate());
  AbreDllLocked(iDiretorioTavoric, iUsuario, iSenha, iHabilitaLog, iHabilitarLogSql);
}

void FechaDll() {
  std::lock_guard lock(Gate());  // waits for the calls in flight; none starts meanwhile
  State &s = S();
  if (!LoadedLocked()) {
    RegistraLog(u"Dll já fechada");
    return;
  }
  std::string reason;
  const bool closed = s.library.close(&reason);
  s.mConectado = false;
  ClearSlotsLocked();
  RegistraLog(u"Dll fechada");
  if (!closed) throw Error("The business library could not be unloaded: " + reason);
}

void ConectarBanco() {
  std::lock_guard lock(Gate());
  ConectarBancoLocked();
}

std::u16string MensagemFalha() {
  std::shared_lock lock(Gate());
  return MensagemFalhaLocked();
}

void AtivarLogProc(bool iVal) {
  std::shared_lock lock(Gate());
  AtivarLogProcLocked(iVal);
}

void AtivarLogSql(bool iVal) {
  std::shared_lock lock(Gate());
  AtivarLogSqlLocked(iVal);
}

std::int32_t ExecutaJSon(std::u16string_view iJson, std::u16string_view iUsuario, std::u16string_view iSenha,
                         std::u16string_view iNivel, std::u16string &oJsonRetorno, Execucao *oExecucao) {
  std::shared_lock call(Gate());
  if (!LoadedLocked() || !S().mConectado) {
    // Open and connect need the gate to themselves; the call proper shares it again.
    call.unlock();
    {
      std::lock_guard exclusive(Gate());
      if (!LoadedLocked()) AbreDllLocked(files::CurrentDirectory(), iUsuario, iSenha, false, false);
      if (!LoadedLocked()) RegistraLog(u"Dll não aberta");
      else if (!S().mConectado) ConectarBancoLocked();
    }
    call.lock();
  }
  const abi::ExecJSonFn exec = S().FuncExecJSon;
  if (exec == nullptr) {
    RegistraLog(u"Função \"ExecJSon\" não encontrada.");
    if (oExecucao != nullptr) *oExecucao = LoadedLocked() ? Execucao::SemExecJSon : Execucao::DllNaoAberta;
    return 0;
  }
  if (oExecucao != nullptr) *oExecucao = Execucao::Executada;
  const Bstr json(iJson), usuario(iUsuario), senha(iSenha), nivel(iNivel);
  Bstr lRes;
  const std::int32_t lCodRetorno = exec(json.get(), usuario.get(), senha.get(), nivel.get(), 0, lRes.out());
  oJsonRetorno = lRes.text();
  RegistraLog(Signed(lCodRetorno));
  RegistraLog(oJsonRetorno);
  return lCodRetorno;
}

std::u16string Versao() {
  std::shared_lock lock(Gate());
  try {
    if (S().FuncVersao == nullptr) return {};
    Bstr version;
    S().FuncVersao(version.out());
    return version.text();
  } catch (...) {
    return {};
  }
}

void LimparCache() {
  RegistraLog(u"Rotina...: LimparCache() ");
  {
    std::shared_lock lock(Gate());
    if (S().FuncLimpaCache != nullptr) {
      try {
        (void)S().FuncLimpaCache();
      } catch (...) {
      }
    } else {
      RegistraLog(u"Função LimpaCache não encontrada.");
    }
  }
  RegistraLog(u"Rotina...: LimparCache() - FIM ");
}

void LimparPonteiroFuncoesDLLs() {
  std::lock_guard lock(Gate());
  ClearSlotsLocked();
}

bool Carregada() {
  std::shared_lock lock(Gate());
  return LoadedLocked();
}

bool Conectado() {
  std::shared_lock lock(Gate());
  return S().mConectado;
}

std::uintptr_t HInst() {
  std::shared_lock lock(Gate());
  return S().library.value();
}

}  // namespace tav::bizlib
