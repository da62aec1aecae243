// DozUzedoda.so (DozUzedoda.dll on Windows), the stand-in business library: customers and products in a
// SQLite database, reached through JSON requests.
//
// Requests (JSON objects; "ACAO" says what is wanted):
//   {"ACAO":"PING"}                                              200, no login needed
//   {"ACAO":"CONSULTAR","TABELA":"clientes","FILTRO":{"cidade":"Recife"},"LIMITE":10}
//   {"ACAO":"INSERIR","TABELA":"clientes","DADOS":{"nome":"Ana","cidade":"Natal"}}   201 and the new id
//   {"ACAO":"EXCLUIR","TABELA":"clientes","ID":3}                 200, or 404 when there is no such row
// Every request but PING needs a user and password of the usuarios table (401 otherwise).
// Bad JSON, an unknown action, table or column: 400 with an "erro" text.
#include <sqlite3.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>
#endif

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "bizlib/dozuzedoda_abi.h"

#if defined(_WIN32)
#define EXPORT extern "C" /* the names are listed in dozuzedoda.def */
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// What differs between the systems: the library's own file, the clock, names.
#if defined(_WIN32)
constexpr char kSeparators[] = "\\/";
bool SameNoCase(const char *a, const char *b) { return _stricmp(a, b) == 0; }
bool Absolute(const std::string &p) { return p.size() > 1 && (p[1] == ':' || p[0] == '\\' || p[0] == '/'); }
std::tm LocalParts(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}
std::string OwnFile() {
  HMODULE self = nullptr;
  wchar_t path[MAX_PATH] = {};
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnFile), &self) ||
      GetModuleFileNameW(self, path, MAX_PATH) == 0)
    return {};
  char utf8[4 * MAX_PATH] = {};
  WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}
#else
constexpr char kSeparators[] = "/";
bool SameNoCase(const char *a, const char *b) { return strcasecmp(a, b) == 0; }
bool Absolute(const std::string &p) { return !p.empty() && p[0] == '/'; }
std::tm LocalParts(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}
std::string OwnFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&OwnFile), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}
#endif

using nlohmann::json;

constexpr char kVersion[] = "1.0.0";

// ---- text -----------------------------------------------------------------------

std::string ToUtf8(BSTR text) {
  std::string out;
  const std::uint32_t n = tav::SysStringLen(text);
  for (std::uint32_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

BSTR FromUtf8(const std::string &s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c;
    int extra;
    if (b < 0x80) { c = b; extra = 0; }
    else if ((b >> 5) == 6) { c = b & 0x1F; extra = 1; }
    else if ((b >> 4) == 14) { c = b & 0x0F; extra = 2; }
    else if ((b >> 3) == 30) { c = b & 0x07; extra = 3; }
    else { out.push_back(0xFFFD); ++i; continue; }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) >> 6) != 2) { ok = false; break; }
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!ok) { out.push_back(0xFFFD); ++i; continue; }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return tav::SysAllocStringLen(out.data(), static_cast<std::uint32_t>(out.size()));
}

// ---- state ----------------------------------------------------------------------

struct StatementCloser {
  void operator()(sqlite3_stmt *s) const noexcept { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

struct Library {
  std::mutex mutex;
  sqlite3 *db = nullptr;
  std::map<std::string, Statement> cache;  // prepared statements by SQL text
  std::string failure;
  bool log = false;
  bool logSql = false;

  ~Library() {
    cache.clear();
    if (db != nullptr) sqlite3_close(db);
  }
};

Library &Lib() {
  static Library library;
  return library;
}

std::string OwnFolder() {
  const std::string path = OwnFile();
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

void WriteLog(const std::string &line) {
  std::ofstream out(OwnFolder() + "/DozUzedoda.log", std::ios::app);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  const std::tm tm = LocalParts(now);
  std::strftime(stamp, sizeof stamp, "%d/%m/%Y %H:%M:%S", &tm);
  out << stamp << ' ' << line << '\n';
}

// ---- configuration --------------------------------------------------------------

// The file itself, or a file of the same name in another case in the same folder
// (Windows compares names without regard to case already).
std::string ResolveNoCase(const std::string &path) {
#if defined(_WIN32)
  return path;
#else
  struct stat st{};
  if (stat(path.c_str(), &st) == 0) return path;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return path;
  std::string found = path;
  while (dirent *entry = readdir(dir)) {
    if (SameNoCase(entry->d_name, name.c_str())) {
      found = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
#endif
}

std::string Trim(const std::string &s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::string IniValue(const std::string &path, const std::string &section, const std::string &key) {
  std::ifstream in(path);
  std::string line, current;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (!line.empty() && line.front() == '[') {
      current = Trim(line.substr(1, line.find(']') - 1));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || !SameNoCase(current.c_str(), section.c_str())) continue;
    if (SameNoCase(Trim(line.substr(0, eq)).c_str(), key.c_str())) return Trim(line.substr(eq + 1));
  }
  return {};
}

// ---- database -------------------------------------------------------------------

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS usuarios (
  id INTEGER PRIMARY KEY, usuario TEXT NOT NULL UNIQUE, senha TEXT NOT NULL, nivel INTEGER NOT NULL DEFAULT 1);
CREATE TABLE IF NOT EXISTS clientes (
  id INTEGER PRIMARY KEY, nome TEXT NOT NULL, cidade TEXT, telefone TEXT);
CREATE TABLE IF NOT EXISTS produtos (
  id INTEGER PRIMARY KEY, descricao TEXT NOT NULL, preco REAL NOT NULL, estoque INTEGER NOT NULL DEFAULT 0);
INSERT INTO usuarios (usuario, senha, nivel) SELECT 'demo', 'demo123', 1 WHERE NOT EXISTS (SELECT 1 FROM usuarios);
INSERT INTO clientes (nome, cidade, telefone) SELECT * FROM (
  SELECT 'Maria Souza', 'Recife', '+55 81 99999-0001' UNION ALL
  SELECT 'João Lima', 'Natal', '+55 84 98888-0002' UNION ALL
  SELECT 'Ana Ribeiro', 'Recife', '+55 81 97777-0003') WHERE NOT EXISTS (SELECT 1 FROM clientes);
INSERT INTO produtos (descricao, preco, estoque) SELECT * FROM (
  SELECT 'Café 500 g', 18.9, 40 UNION ALL
  SELECT 'Açúcar 1 kg', 5.49, 120 UNION ALL
  SELECT 'Leite 1 l', 4.99, 75) WHERE NOT EXISTS (SELECT 1 FROM produtos);
)sql";

// Tables a request may name; the users table is not among them.
const std::set<std::string> kTables = {"clientes", "produtos"};

struct Failure {
  int code;
  std::string message;
};

sqlite3_stmt *Prepare(Library &lib, const std::string &sql) {
  auto it = lib.cache.find(sql);
  if (it == lib.cache.end()) {
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(lib.db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
      throw Failure{500, std::string("Erro de SQL: ") + sqlite3_errmsg(lib.db)};
    it = lib.cache.emplace(sql, Statement(raw)).first;
  }
  sqlite3_reset(it->second.get());
  sqlite3_clear_bindings(it->second.get());
  if (lib.logSql) WriteLog("SQL: " + sql);
  return it->second.get();
}

void Bind(sqlite3_stmt *s, int index, const json &value) {
  if (value.is_null()) sqlite3_bind_null(s, index);
  else if (value.is_boolean()) sqlite3_bind_int(s, index, value.get<bool>() ? 1 : 0);
  else if (value.is_number_integer()) sqlite3_bind_int64(s, index, value.get<std::int64_t>());
  else if (value.is_number()) sqlite3_bind_double(s, index, value.get<double>());
  else if (value.is_string()) sqlite3_bind_text(s, index, value.get_ref<const std::string &>().c_str(), -1, SQLITE_TRANSIENT);
  else throw Failure{400, "Valor não suportado: " + value.dump()};
}

std::set<std::string> Columns(Library &lib, const std::string &table) {
  std::set<std::string> columns;
  sqlite3_stmt *s = Prepare(lib, "PRAGMA table_info(" + table + ")");  // table is one of kTables
  while (sqlite3_step(s) == SQLITE_ROW) columns.insert(reinterpret_cast<const char *>(sqlite3_column_text(s, 1)));
  return columns;
}

std::string Table(Library &lib, const json &request, std::set<std::string> &columns) {
  if (!request.contains("TABELA") || !request["TABELA"].is_string()) throw Failure{400, "Informe a TABELA."};
  const std::string table = request["TABELA"];
  if (kTables.count(table) == 0) throw Failure{400, "Tabela desconhecida: " + table};
  columns = Columns(lib, table);
  return table;
}

void CheckColumn(const std::set<std::string> &columns, const std::string &name) {
  if (columns.count(name) == 0) throw Failure{400, "Coluna desconhecida: " + name};
}

json Consultar(Library &lib, const json &request) {
  std::set<std::string> columns;
  const std::string table = Table(lib, request, columns);
  std::string sql = "SELECT * FROM " + table;
  std::vector<json> values;
  if (request.contains("FILTRO")) {
    if (!request["FILTRO"].is_object()) throw Failure{400, "FILTRO deve ser um objeto."};
    const char *glue = " WHERE ";
    for (const auto &[column, value] : request["FILTRO"].items()) {
      CheckColumn(columns, column);
      sql += glue + column + " = ?";
      glue = " AND ";
      values.push_back(value);
    }
  }
  sql += " ORDER BY id LIMIT ?";
  std::int64_t limit = 100;
  if (request.contains("LIMITE")) {
    if (!request["LIMITE"].is_number_integer() || request["LIMITE"].get<std::int64_t>() < 0)
      throw Failure{400, "LIMITE deve ser um número inteiro."};
    limit = request["LIMITE"];
  }
  sqlite3_stmt *s = Prepare(lib, sql);
  int index = 1;
  for (const auto &v : values) Bind(s, index++, v);
  sqlite3_bind_int64(s, index, limit);
  json rows = json::array();
  while (sqlite3_step(s) == SQLITE_ROW) {
    json row = json::object();
    for (int c = 0; c < sqlite3_column_count(s); ++c) {
      const std::string name = sqlite3_column_name(s, c);
      switch (sqlite3_column_type(s, c)) {
        case SQLITE_INTEGER: row[name] = sqlite3_column_int64(s, c); break;
        case SQLITE_FLOAT: row[name] = sqlite3_column_double(s, c); break;
        case SQLITE_NULL: row[name] = nullptr; break;
        default: row[name] = reinterpret_cast<const char *>(sqlite3_column_text(s, c));
      }
    }
    rows.push_back(std::move(row));
  }
  return json{{"tabela", table}, {"registros", rows}};
}

json Inserir(Library &lib, const json &request) {
  std::set<std::string> columns;
  const std::string table = Table(lib, request, columns);
  if (!request.contains("DADOS") || !request["DADOS"].is_object() || request["DADOS"].empty())
    throw Failure{400, "Informe os DADOS a inserir."};
  std::string names, marks;
  std::vector<json> values;
  for (const auto &[column, value] : request["DADOS"].items()) {
    CheckColumn(columns, column);
    names += (names.empty() ? "" : ", ") + column;
    marks += marks.empty() ? "?" : ", ?";
    values.push_back(value);
  }
  sqlite3_stmt *s = Prepare(lib, "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")");
  int index = 1;
  for (const auto &v : values) Bind(s, index++, v);
  if (sqlite3_step(s) != SQLITE_DONE) throw Failure{400, std::string("Não foi possível inserir: ") + sqlite3_errmsg(lib.db)};
  return json{{"tabela", table}, {"id", sqlite3_last_insert_rowid(lib.db)}};
}

json Excluir(Library &lib, const json &request, int &code) {
  std::set<std::string> columns;
  const std::string table = Table(lib, request, columns);
  if (!request.contains("ID") || !request["ID"].is_number_integer()) throw Failure{400, "Informe o ID a excluir."};
  sqlite3_stmt *s = Prepare(lib, "DELETE FROM " + table + " WHERE id = ?");
  sqlite3_bind_int64(s, 1, request["ID"].get<std::int64_t>());
  if (sqlite3_step(s) != SQLITE_DONE) throw Failure{500, std::string("Não foi possível excluir: ") + sqlite3_errmsg(lib.db)};
  const int removed = sqlite3_changes(lib.db);
  code = removed > 0 ? 200 : 404;
  return json{{"tabela", table}, {"excluidos", removed}};
}

bool Authenticated(Library &lib, const std::string &user, const std::string &password) {
  sqlite3_stmt *s = Prepare(lib, "SELECT senha FROM usuarios WHERE usuario = ?");
  sqlite3_bind_text(s, 1, user.c_str(), -1, SQLITE_TRANSIENT);
  const bool found = sqlite3_step(s) == SQLITE_ROW;
  return found && password == reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
}

int Execute(Library &lib, const std::string &text, const std::string &user, const std::string &password, json &answer) {
  json request;
  try {
    request = json::parse(text);
  } catch (const json::parse_error &e) {
    throw Failure{400, std::string("JSON inválido: ") + e.what()};
  }
  if (!request.is_object() || !request.contains("ACAO") || !request["ACAO"].is_string())
    throw Failure{400, "O pedido deve ser um objeto JSON com a ACAO."};
  const std::string action = request["ACAO"];
  if (action == "PING") {
    answer = {{"status", "ok"}, {"versao", kVersion}, {"conectado", lib.db != nullptr}};
    return 200;
  }
  if (lib.db == nullptr) throw Failure{503, "Banco de dados não conectado."};
  if (!Authenticated(lib, user, password)) throw Failure{401, "Usuário ou senha inválidos."};
  int code = 200;
  if (action == "CONSULTAR") answer = Consultar(lib, request);
  else if (action == "INSERIR") { answer = Inserir(lib, request); code = 201; }
  else if (action == "EXCLUIR") answer = Excluir(lib, request, code);
  else throw Failure{400, "Ação desconhecida: " + action};
  return code;
}

}  // namespace

EXPORT unsigned char TAV_STDCALL ConectarBancoDados(BSTR iniPath) {
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  const std::string ini = ResolveNoCase(ToUtf8(iniPath));
  const std::size_t slash = ini.find_last_of(kSeparators);
  const std::string folder = slash == std::string::npos ? "." : ini.substr(0, slash);
  std::string file = IniValue(ini, "BANCO", "ARQUIVO");
  if (file.empty()) file = "DozUzedoda.db";
  if (!Absolute(file)) file = folder + kSeparators[0] + file;
  if (lib.db != nullptr) {
    lib.cache.clear();
    sqlite3_close(lib.db);
    lib.db = nullptr;
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
    lib.failure = "Não foi possível abrir o banco " + file + ": " + (db ? sqlite3_errmsg(db) : "sem memória");
    sqlite3_close(db);
    return 0;
  }
  sqlite3_busy_timeout(db, 5000);
  char *error = nullptr;
  if (sqlite3_exec(db, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
    lib.failure = "Não foi possível preparar o banco " + file + ": " + (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    return 0;
  }
  lib.db = db;
  lib.failure.clear();
  if (lib.log) WriteLog("Conectado ao banco " + file);
  return 1;
}

EXPORT void TAV_STDCALL MensagemFalha(BSTR *out) {
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  *out = FromUtf8(lib.failure);
}

EXPORT void TAV_STDCALL HabilitarLog(unsigned char on) {
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  lib.log = (on & 0xFF) != 0;
  if (lib.log) WriteLog("Log ativado");
}

EXPORT void TAV_STDCALL HabilitarLogSql(unsigned char on) {
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  lib.logSql = (on & 0xFF) != 0;
}

EXPORT std::int32_t TAV_STDCALL ExecJSon(BSTR json, BSTR user, BSTR pass, BSTR level, std::int32_t zero, BSTR *answer) {
  (void)level;
  (void)zero;
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  nlohmann::json result;
  int code;
  try {
    code = Execute(lib, ToUtf8(json), ToUtf8(user), ToUtf8(pass), result);
  } catch (const Failure &f) {
    code = f.code;
    result = {{"erro", f.message}};
  } catch (const std::exception &e) {
    code = 500;
    result = {{"erro", e.what()}};
  }
  if (lib.log) WriteLog("ExecJSon " + std::to_string(code) + " usuario=" + ToUtf8(user));
  *answer = FromUtf8(result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  return code;
}

EXPORT void TAV_STDCALL Versao(BSTR *out) { *out = FromUtf8(kVersion); }

EXPORT unsigned char TAV_STDCALL LimpaCache(void) {
  Library &lib = Lib();
  std::lock_guard lock(lib.mutex);
  lib.cache.clear();
  if (lib.log) WriteLog("Cache de comandos limpo");
  return 1;
}
