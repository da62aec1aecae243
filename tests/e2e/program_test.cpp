// The real program, started offscreen in a scratch working directory with the
// stand-in library, driven with raw HTTP over loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/http_client.h"
#include "support/test_gateway.h"

namespace fs = std::filesystem;
using tav::testing::Exchange;

namespace {

std::string Body(const std::string &r) { return r.substr(r.find("\r\n\r\n") + 4); }
std::string StatusLine(const std::string &r) { return r.substr(0, r.find("\r\n")); }

std::string ReadFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A port the program can bind: below the ephemeral range, so that the client
// sockets of tests running alongside (their local ports come from that range)
// never take it between this check and the program's bind.
std::uint16_t FreePort() {
  static std::uint16_t next = static_cast<std::uint16_t>(20000 + (::getpid() * 37) % 10000);
  for (int attempt = 0; attempt < 2000; ++attempt) {
    const std::uint16_t port = next;
    next = next >= 31999 ? 20000 : static_cast<std::uint16_t>(next + 1);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

// The program in its own working directory; stopped (SIGTERM, then SIGKILL) at the end.
class Program {
 public:
  Program(const fs::path &dir, std::uint16_t port) : port_(port) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::freopen((dir / "program.out").c_str(), "w", stderr);
      ::execl(TAV_PROGRAM, TAV_PROGRAM, static_cast<char *>(nullptr));
      ::_exit(127);
    }
  }
  ~Program() {
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // Waits until the listener answers.
  bool Ready() const {
    for (int i = 0; i < 300; ++i) {
      tav::testing::RawClient probe(port_);
      if (probe.connected()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  pid_t pid_;
  std::uint16_t port_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    dir_ = fs::temp_directory_path() / ("program_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    port_ = FreePort();
  }
  void TearDown() override {
    program_.reset();
    fs::remove_all(dir_);
  }
  // `serverIni`: more lines of [SERVIDOR]; `extraIni`: more sections.
  void Start(bool withLibrary, const std::string &extraIni = "", const std::string &serverIni = "") {
    std::ofstream(dir_ / "TavWebService.ini")
        << "[SERVIDOR]\r\nPORTA=" << port_ << "\r\n" << serverIni << "[DLL]\r\nUSUARIO=demo\r\nSENHA=demo123\r\n[GERAIS]\r\nINICIARAUTO=S\r\n"
        << extraIni;
    std::ofstream(dir_ / "DozUzedoda.ini") << "[LOG]\r\nAtivo=NAO\r\n[BANCO]\r\nARQUIVO=teste.db\r\n";
    if (withLibrary) fs::copy_file(TAV_STANDIN, dir_ / "DozUzedoda.so");
    program_ = std::make_unique<Program>(dir_, port_);
    ASSERT_TRUE(program_->Ready()) << ReadFile(dir_ / "program.out");
  }
  std::string Post(const std::string &target, const std::string &body, const std::string &headers = "") const {
    return Exchange(port_, "POST " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "Content-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
  }
  std::vector<fs::path> IntakeFiles() const {
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(dir_))
      if (e.path().extension() == ".txt") files.push_back(e.path());
    return files;
  }

  fs::path dir_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Program> program_;
};

}  // namespace

TEST_F(ProgramTest, BusinessRequestsAgainstTheStandIn) {
  Start(true);
  const std::string query = Post("/WsTavoric?usuario=demo&senha=demo123",
                                 "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"clientes\",\"FILTRO\":{\"nome\":\"Jo\xC3\xA3o Lima\"}}",
                                 "Content-Type: application/json; charset=UTF-8\r\n");
  EXPECT_EQ(StatusLine(query), "HTTP/1.1 200 OK");
  EXPECT_NE(query.find("Content-Type: application/json; charset=ISO-8859-1\r\n"), std::string::npos);
  EXPECT_NE(Body(query).find("\"nome\":\"Jo\xE3o Lima\""), std::string::npos) << Body(query);  // ISO-8859-1 bytes

  // Credentials from the headers when the query has none.
  const std::string inserted = Post("/WsTavoric", "{\"ACAO\":\"INSERIR\",\"TABELA\":\"produtos\",\"DADOS\":{\"descricao\":\"Sal\",\"preco\":2.5}}",
                                    "usuario: demo\r\nsenha: demo123\r\n");
  EXPECT_EQ(StatusLine(inserted), "HTTP/1.1 201 Created");
  EXPECT_EQ(StatusLine(Post("/WsTavoric?usuario=demo&senha=errada", "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"produtos\"}")),
            "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(StatusLine(Post("/WsTavoric?usuario=demo&senha=demo123", "{\"ACAO\":\"CONSULTAR\",\"TABELA\":\"usuarios\"}")),
            "HTTP/1.1 400 Bad Request");
  // A keyword in lower case does not change the route.
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"ACAO\":\"PING\",\"x\":\"enviarwhatsapp\"}")), "HTTP/1.1 200 OK");
}

TEST_F(ProgramTest, IntakeFilesOnDisk) {
  Start(true);
  const std::string big(6000, 'x');
  const std::string body = "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"" + big + "\"}";
  // The route sees the first 5900 bytes only: cut, the JSON is invalid and nothing is stored.
  EXPECT_EQ(StatusLine(Post("/WsTavoric", body)), "HTTP/1.1 200 OK");
  EXPECT_TRUE(IntakeFiles().empty());
  const std::string note = "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"Avi\xC3\xA3o\"}";
  EXPECT_EQ(StatusLine(Post("/WsTavoric", note, "Content-Type: application/json; charset=UTF-8\r\n")), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(Post("/WsTavoric", note, "Content-Type: application/json; charset=UTF-8\r\n")), "HTTP/1.1 200 OK");
  const auto files = IntakeFiles();
  ASSERT_EQ(files.size(), 2u);  // even within one second, nothing is overwritten
  const std::string content = ReadFile(files[0]);
  EXPECT_EQ(content.rfind("Informa\xE7\xE3o recebida em ", 0), 0u);
  EXPECT_EQ(content.substr(content.find("\r\n") + 2), "{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"Avi\xE3o\"}");
}

TEST_F(ProgramTest, WithoutTheLibraryBusinessRequestsGet503) {
  Start(false);
  const std::string response = Post("/WsTavoric", "{\"ACAO\":\"PING\"}");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 503 Service Unavailable");
  EXPECT_NE(Body(response).find("erro"), std::string::npos);
}

TEST_F(ProgramTest, WhatsAppThroughALocalGateway) {
  tav::testing::TestGateway gateway(TAV_GATEWAY_SCRIPT);
  gateway.SetPlan(R"({"/conta/api/v1/status":{"status":200},"/conta/api/v1/send_message":{"status":200}})");
  Start(true, "[WHATSAPP]\r\nENDERECO=" + gateway.base() + "\r\nTOKEN=tok123\r\nCERTIFICADOS=" + gateway.ca() + "\r\n");
  const std::string response = Post("/WsTavoric", "{\"a\":\"ENVIARWHATSAPP\",\"f\":\"+55 81 9\",\"m\":\"Ol\xE1 \\\"voc\xEA\\\"\"}",
                                    "Content-Type: application/json; charset=ISO-8859-1\r\n");
  EXPECT_EQ(StatusLine(response), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(response), "");
  const auto requests = gateway.TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  const auto send = nlohmann::json::parse(requests[1]);
  EXPECT_EQ(send["path"], "/conta/api/v1/send_message");
  const auto message = nlohmann::json::parse(send["body"].get<std::string>());
  EXPECT_EQ(message["message"], "Ola \"voce\"");
  EXPECT_EQ(message["number"], "55819");

  gateway.SetPlan(R"({"/conta/api/v1/status":{"status":500}})");
  EXPECT_EQ(StatusLine(Post("/WsTavoric", "{\"a\":\"ENVIARWHATSAPP\",\"f\":\"1\",\"m\":\"x\"}")), "HTTP/1.1 400 Bad Request");
}

TEST_F(ProgramTest, ConnectionLimitsFromTheIni) {
  Start(true, "", "TEMPOREQUISICAO=1\r\nMAXCONEXOESPORCLIENTE=2\r\n");
  // A client that sends a byte every 200 ms is never idle, but is closed at the 1 s deadline.
  tav::testing::RawClient trickle(port_);
  const std::string request = "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\n{}";
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t sent = 0; !trickle.closedByPeer() && sent < request.size(); ++sent) {
    trickle.Send(request.substr(sent, 1));
    EXPECT_EQ(trickle.ReadSome(std::chrono::milliseconds(200)), "");
  }
  EXPECT_TRUE(trickle.closedByPeer());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  // Two connections per address: a third from the same address is refused, others are served.
  tav::testing::RawClient first(port_, false, "127.0.0.1"), second(port_, false, "127.0.0.1");
  first.Send("POST /WsTavoric HTTP/1.1\r\n");
  second.Send("POST /WsTavoric HTTP/1.1\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(StatusLine(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n", "127.0.0.1")),
            "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(StatusLine(Exchange(port_, "POST /WsTavoric HTTP/1.0\r\nContent-Length: 15\r\n\r\n{\"ACAO\":\"PING\"}",
                                "127.0.0.9")),
            "HTTP/1.1 200 OK");
}
