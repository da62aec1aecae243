#include "bizlib/bridge.h"
#include "bizlib/detail/state.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "bizlib/dozuzedoda_abi.h"
#include "log/execution_log.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/guarded_call.h"
#include "platform/no_destructor.h"
#include "platform/text.h"

namespace tav::bizlib {
namespace {

std::u16string Number(std::uint64_t n) { return text::Ascii(std::to_string(n)); }
std::u16string Signed(std::int64_t n) { return text::Ascii(std::to_string(n)); }

// Calls into the library through the one guard: whatever escapes becomes an
// ordinary error naming the export, in the log's language.
template <typename Body>
void CallLibrary(std::u16string_view exportName, Body &&body) {
  if (const std::optional<Escaped> escaped = Guard(body))
    throw Error(escaped->description + u" na biblioteca de negócio (" + std::u16string(exportName) + u")");
}

// The seven entry points: FuncConectar, FuncMensagem, ProcHabilitarLog, ...
struct Slots {
  abi::ConectarBancoDadosFn FuncConectar = nullptr;
  abi::MensagemFalhaFn FuncMensagem = nullptr;
  abi::HabilitarLogFn ProcHabilitarLog = nullptr;
  abi::HabilitarLogSqlFn ProcHabilitarLogSql = nullptr;
  abi::ExecJSonFn FuncExecJSon = nullptr;
  abi::VersaoFn FuncVersao = nullptr;
  abi::LimpaCacheFn FuncLimpaCache = nullptr;
};

// One load of the library (HInst with its entry points and mConectado), shared by
// the calls running in it. FechaDll takes it out of the module state at once, so
// no new call enters it; it is unloaded when no call is inside any more: by
// FechaDll when they leave within its wait, otherwise by the last one to leave.
class LoadedLibrary {
 public:
  LoadedLibrary(DynamicLibrary module, std::u16string iniPath)
      : module_(std::move(module)), handle_(module_.value()), iniPath_(std::move(iniPath)) {}

  std::uintptr_t Handle() const { return handle_; }
  const std::u16string &IniPath() const { return iniPath_; }
  void *Symbol(const char *name) const { return module_.symbol(name); }

  std::mutex connecting;                // one ConectarBancoDados at a time
  std::atomic<bool> mConectado{false};  // set under `connecting`

  // Calls in flight.
  void Enter() {
    std::lock_guard lock(mutex_);
    ++calls_;
  }
  void Leave() {
    bool unloadNow;
    {
      std::lock_guard lock(mutex_);
      unloadNow = --calls_ == 0 && deferred_;
      if (calls_ == 0) idle_.notify_all();
    }
    if (unloadNow) UnloadLater();
  }
  // Waits until no call is inside, or until `deadline`; then the caller unloads
  // (true), or the last call to leave will (false, with the count still inside).
  bool WaitIdle(std::chrono::steady_clock::time_point deadline, int *inside) {
    std::unique_lock lock(mutex_);
    if (idle_.wait_until(lock, deadline, [&] { return calls_ == 0; })) return true;
    deferred_ = true;
    *inside = calls_;
    return false;
  }

  // Unloads now ("Dll fechada"); throws when the loader refused or the library's
  // shutdown code failed.
  void Unload() {
    std::string reason;
    bool closed = true;
    const std::optional<Escaped> escaped = Guard([&] { closed = module_.close(&reason); });
    log::RegistraLog(u"Dll fechada");
    if (escaped) throw Error(escaped->description + u" na biblioteca de negócio (FreeLibrary)");
    if (!closed) throw Error("The business library could not be unloaded: " + reason);
  }

 private:
  // The unload FechaDll left to the last call, on that call's thread.
  void UnloadLater() {
    try {
      Unload();
    } catch (...) {
      log::ExecutionLog::Global().RegistraLogErro(u"FechaDll()", u"0", ErrorText(std::current_exception()));
    }
  }

  DynamicLibrary module_;
  std::uintptr_t handle_;
  std::u16string iniPath_;
  std::mutex mutex_;
  std::condition_variable idle_;
  int calls_ = 0;
  bool deferred_ = false;
};

// Module state: one business library per process. Open, close, the slots and the
// paths change under `mutex`; a call holds a Lease instead, so that a hung call
// never holds up the others or the window.
struct State {
  std::mutex mutex;
  std::shared_ptr<LoadedLibrary> loaded;  // null: not loaded (HInst 0)
  Slots slots;
  std::u16string mArquivoDLL;
  std::u16string mArquivoIniTavSrv;
  std::u16string mUsuarioTavoric;
  std::u16string mSenhaTavoric;
};

State &S() {
  static NoDestructor<State> state;  // lives until the process ends, like the library
  return state.get();
}

// A call's hold on the loaded library, with the entry points as they were when it
// began: while any Lease lives, the library stays loaded.
class Lease {
 public:
  Lease() = default;
  // Takes the library that is loaded now, if any; the module state's lock is held.
  static Lease TakeLocked() {
    Lease lease;
    if (S().loaded) {
      lease.library_ = S().loaded;
      lease.slots_ = S().slots;
      lease.library_->Enter();
    }
    return lease;
  }
  static Lease Take() {
    std::lock_guard lock(S().mutex);
    return TakeLocked();
  }
  Lease(Lease &&other) noexcept : library_(std::move(other.library_)), slots_(other.slots_) {}
  Lease &operator=(Lease &&other) noexcept {
    if (this != &other) {
      Release();
      library_ = std::move(other.library_);
      slots_ = other.slots_;
    }
    return *this;
  }
  Lease(const Lease &) = delete;
  Lease &operator=(const Lease &) = delete;
  ~Lease() { Release(); }

  explicit operator bool() const { return library_ != nullptr; }
  LoadedLibrary &library() const { return *library_; }
  const Slots &slots() const { return slots_; }

 private:
  void Release() {
    if (library_) std::exchange(library_, nullptr)->Leave();
  }
  std::shared_ptr<LoadedLibrary> library_;
  Slots slots_;
};

template <typename Fn>
Fn Resolve(const LoadedLibrary &library, const char *name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

void AtivarLogProcIn(const Slots &slots, bool iVal) {
  if (slots.ProcHabilitarLog == nullptr) {
    RegistraLog(u"Função \"HabilitarLog\" não encontrada.");
    return;
  }
  CallLibrary(u"HabilitarLog", [&] { slots.ProcHabilitarLog(iVal ? 1 : 0); });
  RegistraLog(iVal ? u"Habilita Log: Sim" : u"Habilita Log: Não");
}

void AtivarLogSqlIn(const Slots &slots, bool iVal) {
  if (slots.ProcHabilitarLogSql == nullptr) {
    RegistraLog(u"Função \"HabilitarLogSql\" não encontrada.");
    return;
  }
  CallLibrary(u"HabilitarLogSql", [&] { slots.ProcHabilitarLogSql(iVal ? 1 : 0); });
  RegistraLog(iVal ? u"Habilita Sql: Sim" : u"Habilita Sql: Não");
}

std::u16string MensagemFalhaIn(const Slots &slots) {
  if (slots.FuncMensagem == nullptr) return {};
  Bstr message;
  CallLibrary(u"MensagemFalha", [&] { slots.FuncMensagem(message.out()); });
  return message.text();
}

// Runs with the module state's lock held. Failures raised inside are dropped.
void AbreDllLocked(std::u16string_view iDiretorioTavoric, std::u16string_view iUsuario, std::u16string_view iSenha,
                   bool iHabilitaLog, bool iHabilitarLogSql) {
  State &s = S();
  try {
    RegistraLog(u"Valor HInst : " + Number(s.loaded ? s.loaded->Handle() : 0) + u" Habilitar Log " +
                (iHabilitaLog ? u"SIM" : u"NAO") + u" Habilitar Log Sql " + (iHabilitarLogSql ? u"SIM" : u"NAO"));
    if (s.loaded) {
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
    // The library's start-up code runs inside the load: guarded like any call.
    DynamicLibrary module;
    const std::string path = files::ResolveNoCase(files::ToNative(s.mArquivoDLL));
    CallLibrary(u"LoadLibrary", [&] { module = DynamicLibrary::Open(path); });
    RegistraLog(u"Valor HInst : " + Number(module.value()));
    if (module.value() <= 32) {  // "above 32" means loaded
      RegistraLog(u"Dll não aberta");
      s.slots = Slots{};
      return;
    }
    RegistraLog(u"Dll aberta");
    auto library = std::make_shared<LoadedLibrary>(std::move(module), s.mArquivoIniTavSrv);
    s.slots.FuncConectar = Resolve<abi::ConectarBancoDadosFn>(*library, "ConectarBancoDados");
    s.slots.FuncMensagem = Resolve<abi::MensagemFalhaFn>(*library, "MensagemFalha");
    s.slots.ProcHabilitarLog = Resolve<abi::HabilitarLogFn>(*library, "HabilitarLog");
    s.slots.ProcHabilitarLogSql = Resolve<abi::HabilitarLogSqlFn>(*library, "HabilitarLogSql");
    s.slots.FuncExecJSon = Resolve<abi::ExecJSonFn>(*library, "ExecJSon");
    s.slots.FuncVersao = Resolve<abi::VersaoFn>(*library, "Versao");
    s.slots.FuncLimpaCache = Resolve<abi::LimpaCacheFn>(*library, "LimpaCache");
    s.loaded = std::move(library);
    AtivarLogProcIn(s.slots, iHabilitaLog);
    AtivarLogSqlIn(s.slots, iHabilitarLogSql);
  } catch (...) {
    // The state stays as it was at the failure.
  }
}

// Connects the leased library unless another request did meanwhile. Failures
// raised inside are dropped.
void ConectarBancoIn(const Lease &lease) {
  if (!lease) {
    RegistraLog(u"Função \"ConectarBancoDados\" não encontrada.");
    return;
  }
  LoadedLibrary &library = lease.library();
  std::lock_guard connecting(library.connecting);
  if (library.mConectado) return;
  try {
    const abi::ConectarBancoDadosFn conectar = lease.slots().FuncConectar;
    if (conectar == nullptr) {
      RegistraLog(u"Função \"ConectarBancoDados\" não encontrada.");
      return;
    }
    const Bstr ini(library.IniPath());
    unsigned char connected = 0;
    CallLibrary(u"ConectarBancoDados", [&] { connected = conectar(ini.get()); });
    if (connected != 0) {
      library.mConectado = true;
      RegistraLog(u"Conectado");
    } else {
      RegistraLog(u"Não conectado, msg: " + MensagemFalhaIn(lease.slots()));
    }
  } catch (...) {
  }
}

}  // namespace

void RegistraLog(std::u16string_view iTexto) { log::RegistraLog(iTexto); }

void AbreDll(std::u16string_view iDiretorioTavoric, std::u16string_view iUsuario, std::u16string_view iSenha,
             bool iHabilitaLog, bool iHabilitarLogSql) {
  std::lock_guard lock(S().mutex);
  AbreDllLocked(iDiretorioTavoric, iUsuario, iSenha, iHabilitaLog, iHabilitarLogSql);
}

void FechaDll() { FechaDll(std::chrono::steady_clock::now() + kCloseWait); }

void FechaDll(std::chrono::steady_clock::time_point deadline) {
  std::shared_ptr<LoadedLibrary> closing;
  {
    std::lock_guard lock(S().mutex);
    if (!S().loaded) {
      RegistraLog(u"Dll já fechada");
      return;
    }
    // Not loaded from here on: HInst 0, no entry points, mConectado false; no new
    // call enters this library.
    closing = std::move(S().loaded);
    S().slots = Slots{};
  }
  int inside = 0;
  if (!closing->WaitIdle(deadline, &inside)) {
    RegistraLog(u"Dll em uso por " + Number(static_cast<std::uint64_t>(inside)) +
                u" chamada(s): será fechada quando a última terminar");
    return;
  }
  closing->Unload();
}

void ConectarBanco() { ConectarBancoIn(Lease::Take()); }

std::u16string MensagemFalha() { return MensagemFalhaIn(Lease::Take().slots()); }

void AtivarLogProc(bool iVal) { AtivarLogProcIn(Lease::Take().slots(), iVal); }

void AtivarLogSql(bool iVal) { AtivarLogSqlIn(Lease::Take().slots(), iVal); }

std::int32_t ExecutaJSon(std::u16string_view iJson, std::u16string_view iUsuario, std::u16string_view iSenha,
                         std::u16string_view iNivel, std::u16string &oJsonRetorno, Execucao *oExecucao) {
  Lease lease = Lease::Take();
  if (!lease) {
    std::lock_guard lock(S().mutex);  // two requests never load the library at once
    if (!S().loaded) AbreDllLocked(files::CurrentDirectory(), iUsuario, iSenha, false, false);
    if (!S().loaded) RegistraLog(u"Dll não aberta");
    lease = Lease::TakeLocked();
  }
  if (lease && !lease.library().mConectado) ConectarBancoIn(lease);
  const abi::ExecJSonFn exec = lease.slots().FuncExecJSon;
  if (exec == nullptr) {
    RegistraLog(u"Função \"ExecJSon\" não encontrada.");
    if (oExecucao != nullptr) *oExecucao = lease ? Execucao::SemExecJSon : Execucao::DllNaoAberta;
    return 0;
  }
  if (oExecucao != nullptr) *oExecucao = Execucao::Executada;
  const Bstr json(iJson), usuario(iUsuario), senha(iSenha), nivel(iNivel);
  Bstr lRes;
  std::int32_t lCodRetorno = 0;
  CallLibrary(u"ExecJSon",
              [&] { lCodRetorno = exec(json.get(), usuario.get(), senha.get(), nivel.get(), 0, lRes.out()); });
  oJsonRetorno = lRes.text();
  RegistraLog(Signed(lCodRetorno));
  RegistraLog(oJsonRetorno);
  return lCodRetorno;
}

std::u16string Versao() {
  const Lease lease = Lease::Take();
  try {
    const abi::VersaoFn versao = lease.slots().FuncVersao;
    if (versao == nullptr) return {};
    Bstr version;
    CallLibrary(u"Versao", [&] { versao(version.out()); });
    return version.text();
  } catch (...) {
    return {};
  }
}

void LimparCache() {
  RegistraLog(u"Rotina...: LimparCache() ");
  {
    const Lease lease = Lease::Take();
    const abi::LimpaCacheFn limpa = lease.slots().FuncLimpaCache;
    if (limpa != nullptr) {
      try {
        CallLibrary(u"LimpaCache", [&] { (void)limpa(); });
      } catch (...) {
      }
    } else {
      RegistraLog(u"Função LimpaCache não encontrada.");
    }
  }
  RegistraLog(u"Rotina...: LimparCache() - FIM ");
}

void LimparPonteiroFuncoesDLLs() {
  std::lock_guard lock(S().mutex);
  S().slots = Slots{};
}

bool Carregada() {
  std::lock_guard lock(S().mutex);
  return S().loaded != nullptr;
}

bool Conectado() {
  std::lock_guard lock(S().mutex);
  return S().loaded != nullptr && S().loaded->mConectado;
}

std::uintptr_t HInst() {
  std::lock_guard lock(S().mutex);
  return S().loaded ? S().loaded->Handle() : 0;
}

}  // namespace tav::bizlib
