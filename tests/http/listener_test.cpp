// The listener and request bridge end to end over loopback, with a test module
// whose one action the test controls.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
#endif

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "http/detail/connection_register.h"
#include "http/detail/deadline.h"
#include "http/handler_pool.h"
#include "http/listener.h"
#include "http/web.h"
#include "platform/errors.h"
#include "support/http_client.h"
#include "support/log_capture.h"

using namespace tav::http;
using tav::testing::Exchange;
using tav::testing::RawClient;
using tav::testing::WithoutDate;

namespace {

using Handler = std::function<void(WebRequest &, WebResponse &)>;

class TestModule : public WebModule {
 public:
  explicit TestModule(std::shared_ptr<Handler> handler) {
    WebAction action;
    action.Name = u"WsTavoric";
    action.PathInfo = u"/WsTavoric";
    action.OnAction = [handler](WebAction &, WebRequest &rq, WebResponse &rs, bool &) { (*handler)(rq, rs); };
    actions_.push_back(std::move(action));
  }
};

class Server : public ::testing::Test {
 protected:
  void Start(Limits limits = Limits{}) {
    pool_.RegisterModuleClass([h = handler_] { return std::make_unique<TestModule>(h); });
    listener_ = std::make_unique<HttpListener>(&pool_, limits);
    listener_->SetDefaultPort(0);
    listener_->SetActive(true);
    port_ = listener_->Bindings().at(0).port;
  }
  void TearDown() override {
    if (listener_) listener_->SetActive(false);  // stops and joins even after a failed assertion
  }
  void Handle(Handler h) { *handler_ = std::move(h); }

  std::shared_ptr<Handler> handler_ = std::make_shared<Handler>([](WebRequest &, WebResponse &) {});
  HandlerPool pool_;
  std::unique_ptr<HttpListener> listener_;
  std::uint16_t port_ = 0;
};

}  // namespace

TEST_F(Server, ResponseBytesAndPaths) {
  std::atomic<int> runs{0};
  Handle([&](WebRequest &, WebResponse &rs) {
    ++runs;
    rs.SetContentType(u"application/json; charset=ISO-8859-1");
    rs.SetStatusCode(201);
    rs.SetContent(u"ç€");
  });
  Start();
  const std::string expected =
      "HTTP/1.1 201 Created\r\nConnection: close\r\nContent-Type: application/json; charset=ISO-8859-1\r\n"
      "Content-Length: 2\r\n\r\n\xE7?";
  for (const char *path : {"/WsTavoric", "/wstavoric", "/Ws%54avoric", "/WsTavoric?usuario=x"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(WithoutDate(Exchange(port_, std::string("POST ") + path + " HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n")),
              expected);
  }
  EXPECT_EQ(runs.load(), 4);
  for (const char *path : {"/WsTavoric/", "/", "/WsTavoric2"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(WithoutDate(Exchange(port_, std::string("GET ") + path + " HTTP/1.0\r\n\r\n")),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  }
  EXPECT_EQ(runs.load(), 4);
  const std::string head = Exchange(port_, "HEAD /WsTavoric HTTP/1.0\r\n\r\n");
  EXPECT_EQ(WithoutDate(head), expected.substr(0, expected.size() - 2));  // length announced, no body
  EXPECT_NE(head.find("\r\nDate: "), std::string::npos);

  RawClient v6(listener_->Bindings().at(1).port, true);
  if (v6.connected()) {
    v6.Send("GET /WsTavoric HTTP/1.0\r\n\r\n");
    EXPECT_EQ(v6.ReadAll().rfind("HTTP/1.1 201 Created\r\n", 0), 0u);
  }
}

TEST_F(Server, QueryHeadersAndBodyReachTheAction) {
  Handle([](WebRequest &rq, WebResponse &rs) {
    rs.SetContentType(u"text/plain; charset=UTF-8");
    rs.SetContent(rq.QueryField(u"usuario") + u"|" + rq.GetFieldByName(u"senha") + u"|" + rq.ReadString(5900));
  });
  Start();
  struct Row { const char *name; std::string request; std::string body; };
  const Row rows[] = {
      {"no charset", "POST /WsTavoric?usuario=a+b HTTP/1.1\r\nHost: h\r\nsenha: s\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n\xC3\xA7",
       "a b|s|\xC3\x83\xC2\xA7"},
      {"UTF-8", "POST /WsTavoric?usuario=Jo%C3%A3o HTTP/1.1\r\nHost: h\r\nContent-Type: application/json; charset=UTF-8\r\nContent-Length: 2\r\n\r\n\xC3\xA7",
       "Jo\xC3\xA3o||\xC3\xA7"},
      {"utf8 is not a registry name", "POST /WsTavoric HTTP/1.1\r\nHost: h\r\nContent-Type: application/json; charset=utf8\r\nContent-Length: 2\r\n\r\n\xC3\xA7",
       "||\xC3\x83\xC2\xA7"},
      {"GET query as content", "GET /WsTavoric?a=1&b=2 HTTP/1.0\r\n\r\n", "||a=1&b=2"},
      {"chunked", "POST /WsTavoric HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", "||abc"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string response = Exchange(port_, row.request);
    EXPECT_EQ(response.substr(response.find("\r\n\r\n") + 4), row.body);
  }
}

TEST_F(Server, ErrorsBecomeTheErrorPage) {
  Handle([](WebRequest &rq, WebResponse &rs) {
    if (rq.Method() == "DELETE") throw tav::Error("<falhou>");
    rs.SetContent(rq.QueryField(u"usuario"));
  });
  Start();
  const std::string decoding = WithoutDate(Exchange(port_, "GET /WsTavoric?usuario=a%zz HTTP/1.0\r\n\r\n"));
  const std::string page =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>Invalid URL encoded character (%zz) at position 10"
      "\r\n<p><hr width=\"100%\"><i>/WsTavoric</i></body></html>";
  EXPECT_EQ(decoding, "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\n"
                      "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
  const std::string thrown = Exchange(port_, "DELETE /WsTavoric HTTP/1.0\r\n\r\n");
  EXPECT_NE(thrown.find("<p>&lt;falhou&gt;\r\n"), std::string::npos);
}

TEST_F(Server, RefusalsAndExpect) {
  Handle([](WebRequest &rq, WebResponse &rs) { rs.SetContent(rq.ReadString(-1)); });
  Start();
  EXPECT_EQ(WithoutDate(Exchange(port_, "GET /WsTavoric HTTP/1.1\r\nHost: a\r\nAuthorization: Bearer t\r\n\r\n")),
            "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Type: text/html; charset=ISO-8859-1\r\n"
            "Content-Length: 33\r\nWWW-Authenticate: Basic\r\n\r\nUnsupported authorization scheme.");
  EXPECT_EQ(WithoutDate(Exchange(port_, "GET /WsTavoric HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Exchange(port_, "NONSENSE\r\n\r\n"), "");

  RawClient client(port_);
  client.Send("POST /WsTavoric HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n");
  EXPECT_EQ(client.ReadSome(std::chrono::seconds(5)), "HTTP/1.1 100 Continue\r\n\r\n");
  client.Send("body");
  const std::string final = client.ReadAll();
  EXPECT_EQ(final.substr(final.find("\r\n\r\n") + 4), "body");
}

TEST_F(Server, TheThirtyThirdConcurrentRequestIsRefused) {
  std::mutex m;
  std::condition_variable cv;
  int inside = 0;
  bool release = false;
  Handle([&](WebRequest &, WebResponse &rs) {
    std::unique_lock lock(m);
    ++inside;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
    rs.SetContent(u"ok");
  });
  Start();
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 32; ++i) {
    clients.push_back(std::make_unique<RawClient>(port_));
    clients.back()->Send("GET /WsTavoric HTTP/1.0\r\n\r\n");
  }
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return inside == 32; }));
  }
  EXPECT_EQ(WithoutDate(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n")),
            "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html; charset=ISO-8859-1\r\n"
            "Content-Length: 74\r\n\r\nMaximum number of concurrent connections exceeded.  Please try again later");
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  for (auto &c : clients) EXPECT_EQ(c->ReadAll().substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(pool_.Idle(), 32u);  // instances are kept for reuse
}

TEST_F(Server, StopWaitsForARunningHandler) {
  std::promise<void> entered;
  std::atomic<bool> finished{false};
  Handle([&](WebRequest &, WebResponse &) {
    entered.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    finished = true;
  });
  Start();
  RawClient client(port_);
  client.Send("GET /WsTavoric HTTP/1.0\r\n\r\n");
  entered.get_future().wait();
  listener_->SetActive(false);
  EXPECT_TRUE(finished.load());
  EXPECT_FALSE(listener_->Active());
  EXPECT_EQ(listener_->OpenConnections(), 0u);
}

// An action that does not return (a business call hung on a database lock) holds
// Stop up only until its deadline; the listener starts again meanwhile, and the
// action's thread ends when the action does.
TEST_F(Server, StopWithAHungActionReturnsAtItsDeadline) {
  // Shared with the action, which outlives this test's body when an assertion fails.
  struct Flags {
    std::promise<void> entered;
    std::atomic<bool> release{false}, finished{false}, first{true};
  };
  const auto flags = std::make_shared<Flags>();
  struct Releaser {
    std::shared_ptr<Flags> flags;
    ~Releaser() { flags->release = true; }
  } releaser{flags};
  Handle([flags](WebRequest &, WebResponse &) {
    if (!flags->first.exchange(false)) return;
    flags->entered.set_value();
    while (!flags->release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    flags->finished = true;
  });
  Start();
  RawClient client(port_);
  client.Send("GET /WsTavoric HTTP/1.0\r\n\r\n");
  flags->entered.get_future().wait();
  listener_->Stop(std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
  EXPECT_FALSE(listener_->Active());
  EXPECT_FALSE(flags->finished.load());
  EXPECT_EQ(client.ReadAll(), "");  // its connection was closed; the answer is dropped
  listener_->SetActive(true);
  EXPECT_EQ(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n").substr(0, 15), "HTTP/1.1 200 OK");
  flags->release = true;
  for (int i = 0; i < 5000 && !flags->finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(flags->finished.load());
  listener_->SetActive(false);  // reaps the earlier run, whose action has ended
}

TEST_F(Server, StartOnAPortInUseThenAgainWhenFree) {
  Start();
  HttpListener second(&pool_);
  second.SetDefaultPort(port_);
  try {
    second.SetActive(true);
    FAIL() << "the port is taken";
  } catch (const tav::Error &e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  // A connection left in TIME_WAIT does not keep a restart from binding.
  Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n");
  listener_->SetActive(false);
  second.ClearBindings();
  second.SetActive(true);
  EXPECT_TRUE(second.Active());
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.0\r\n\r\n").substr(0, 15), "HTTP/1.1 200 OK");
  second.SetActive(false);
}

TEST_F(Server, Limits) {
  Limits limits;
  limits.idleTimeout = std::chrono::milliseconds(300);
  limits.maxConnections = 4;
  Start(limits);
  // A body over the limit is refused before it is read.
  EXPECT_EQ(WithoutDate(Exchange(port_, "POST /WsTavoric HTTP/1.1\r\nHost: a\r\nContent-Length: 2000000\r\n\r\nabc")),
            "HTTP/1.1 413 Request Entity Too Long\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  // A silent connection is closed.
  {
    RawClient idle(port_);
    idle.Send("GET /WsTav");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(idle.ReadAll(std::chrono::seconds(5)), "");
    EXPECT_TRUE(idle.closedByPeer());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
  // Over the connection limit: 503 and closed.
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<RawClient>(port_));
    held.back()->Send("G");
  }
  for (int i = 0; i < 100 && listener_->OpenConnections() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(WithoutDate(Exchange(port_, "GET / HTTP/1.0\r\n\r\n")),
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}

namespace {

std::size_t ProcessThreads() {
#if defined(_WIN32)
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
#else
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::stoul(line.substr(8));
  }
  return 0;
#endif
}

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

TEST_F(Server, OnePeerGetsItsShareOthersAreServed) {
  Handle([](WebRequest &, WebResponse &rs) { rs.SetContent(u"ok"); });
  Start();  // 64 connections per peer address
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 64; ++i) {
    held.push_back(std::make_unique<RawClient>(port_, false, "127.0.0.1"));
    held.back()->Send("POST /WsTavoric HTTP/1.1\r\n");
  }
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 64; }));
  EXPECT_EQ(WithoutDate(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n", "127.0.0.1")),
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n", "127.0.0.2").substr(0, 15), "HTTP/1.1 200 OK");
  // A connection that ends gives its place back.
  held.pop_back();
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 63; }));
  EXPECT_EQ(Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n", "127.0.0.1").substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(Server, TheWholeRequestMustArriveInTime) {
  Handle([](WebRequest &rq, WebResponse &rs) { rs.SetContent(rq.ReadString(-1)); });
  Limits limits;
  limits.requestTimeout = std::chrono::milliseconds(600);
  limits.minBodyRate = 1000;  // each 1000 body bytes buy one more second
  Start(limits);
  // A client that trickles one byte at a time is never idle, but is cut at the deadline.
  {
    RawClient trickle(port_);
    const std::string request = "POST /WsTavoric HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\n\r\nx";
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (!trickle.closedByPeer() && sent < request.size()) {
      trickle.Send(request.substr(sent++, 1));
      EXPECT_EQ(trickle.ReadSome(std::chrono::milliseconds(100)), "");
    }
    EXPECT_TRUE(trickle.closedByPeer());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
  }
  // A body that keeps coming at more than the minimum rate may take longer.
  {
    RawClient upload(port_);
    upload.Send("POST /WsTavoric HTTP/1.1\r\nHost: a\r\nContent-Length: 3000\r\n\r\n");
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      upload.Send(std::string(300, 'b'));
    }
    const std::string response = upload.ReadAll();
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(response.substr(response.find("\r\n\r\n") + 4), std::string(3000, 'b'));
  }
}

TEST_F(Server, IdleConnectionsCostNoThreadAndBlockNoOne) {
  std::atomic<int> runs{0};
  Handle([&](WebRequest &, WebResponse &rs) {
    ++runs;
    rs.SetContent(std::u16string(3 << 20, u'z'));  // larger than the socket buffers: written in turns
  });
  Start();
  std::vector<std::unique_ptr<RawClient>> idle;
  const std::string sources[] = {"127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7"};
  for (int i = 0; i < 300; ++i) {  // 60 from each address, within the share of each
    idle.push_back(std::make_unique<RawClient>(port_, false, sources[i % 5].c_str()));
    idle.back()->Send("POST /WsTavoric HTTP/1.1\r\nHost: a\r\nContent-Le");
  }
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 300; }));
  EXPECT_LE(listener_->Threads(), 2u);  // the loop and its supervisor
  const auto start = std::chrono::steady_clock::now();
  const std::string response = Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(response.size() - response.find("\r\n\r\n") - 4, std::size_t{3} << 20);
  EXPECT_EQ(runs.load(), 1);
}

TEST_F(Server, StopClosesEveryConnectionAndLeavesNoThread) {
  std::thread([] {}).join();  // sanitizers start a helper thread of their own with the first thread
  const std::size_t threadsBefore = ProcessThreads();
  std::promise<void> entered;
  std::atomic<bool> finished{false};
  Handle([&](WebRequest &, WebResponse &rs) {
    entered.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    finished = true;
    rs.SetContent(u"late");
  });
  Start();
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 20; ++i) {
    idle.push_back(std::make_unique<RawClient>(port_));
    idle.back()->Send("GET /WsTav");
  }
  RawClient inFlight(port_);
  inFlight.Send("GET /WsTavoric HTTP/1.0\r\n\r\n");
  entered.get_future().wait();
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 21; }));

  listener_->SetActive(false);
  EXPECT_TRUE(finished.load());  // the action in flight ran to its end
  EXPECT_EQ(listener_->OpenConnections(), 0u);
  EXPECT_EQ(listener_->Threads(), 0u);
  EXPECT_EQ(ProcessThreads(), threadsBefore);
  EXPECT_EQ(inFlight.ReadAll(std::chrono::seconds(2)), "");  // its answer could not be written
  EXPECT_TRUE(inFlight.closedByPeer());
  for (auto &client : idle) {
    EXPECT_EQ(client->ReadAll(std::chrono::seconds(2)), "");
    EXPECT_TRUE(client->closedByPeer());
  }

  Handle([](WebRequest &, WebResponse &rs) { rs.SetContent(u"again"); });
  listener_->ClearBindings();
  listener_->SetActive(true);
  port_ = listener_->Bindings().at(0).port;
  const std::string again = Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n");
  EXPECT_EQ(again.substr(again.find("\r\n\r\n") + 4), "again");
}

TEST_F(Server, ALongActionDoesNotHoldUpTheOthers) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  Handle([&](WebRequest &rq, WebResponse &rs) {
    if (rq.QueryField(u"slow") == u"1") released.wait();
    rs.SetContent(u"done");
  });
  Start();
  RawClient slow(port_);
  slow.Send("GET /WsTavoric?slow=1 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 1; }));
  for (int i = 0; i < 5; ++i) {
    const std::string quick = Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n");
    EXPECT_EQ(quick.substr(quick.find("\r\n\r\n") + 4), "done");
  }
  release.set_value();
  const std::string late = slow.ReadAll();
  EXPECT_EQ(late.substr(late.find("\r\n\r\n") + 4), "done");
}

// Once the loop has grown to several threads, one slow action must still not hold
// up accepting: a fresh request is answered while the slow one is held.
TEST_F(Server, AfterTheLoopHasGrownASlowActionDoesNotHoldUpAccepting) {
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int inside = 0;
  };
  const auto gate = std::make_shared<Gate>();
  struct Opener {
    std::shared_ptr<Gate> gate;
    ~Opener() {
      std::lock_guard lock(gate->m);
      gate->open = true;
      gate->cv.notify_all();
    }
  } opener{gate};
  const auto setOpen = [&](bool open) {
    std::lock_guard lock(gate->m);
    gate->open = open;
    gate->cv.notify_all();
  };
  Handle([gate](WebRequest &rq, WebResponse &rs) {
    if (rq.QueryField(u"slow") == u"1") {
      std::unique_lock lock(gate->m);
      ++gate->inside;
      gate->cv.notify_all();
      gate->cv.wait(lock, [&] { return gate->open; });
      --gate->inside;
    }
    rs.SetContent(u"done");
  });
  Start();
  // Two slow actions at once: the loop grows.
  RawClient a(port_), b(port_);
  a.Send("GET /WsTavoric?slow=1 HTTP/1.0\r\n\r\n");
  b.Send("GET /WsTavoric?slow=1 HTTP/1.0\r\n\r\n");
  {
    std::unique_lock lock(gate->m);
    ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(20), [&] { return gate->inside == 2; }));
  }
  setOpen(true);
  EXPECT_NE(a.ReadAll().find("done"), std::string::npos);
  EXPECT_NE(b.ReadAll().find("done"), std::string::npos);
  ASSERT_GE(listener_->Threads(), 3u);  // loop threads (and the supervisor) stay a while
  // The loop settles: every thread back from its action, one waiting to accept.
  ASSERT_TRUE(Eventually([&] { return listener_->OpenConnections() == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  setOpen(false);
  RawClient slow(port_);
  slow.Send("GET /WsTavoric?slow=1 HTTP/1.0\r\n\r\n");
  {
    std::unique_lock lock(gate->m);
    ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(20), [&] { return gate->inside == 1; }));
  }
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::string quick = Exchange(port_, "GET /WsTavoric HTTP/1.0\r\n\r\n");
    EXPECT_EQ(quick.substr(quick.find("\r\n\r\n") + 4), "done");
  }
  setOpen(true);
  EXPECT_NE(slow.ReadAll().find("done"), std::string::npos);
}

// Trailers count: a flood is cut off at the header-line limit, unanswered, and
// trailer bytes buy no time, so a client trickling trailers faster than the body
// rate is still closed at the total deadline.
TEST_F(Server, TrailersAreBoundedAndBuyNoTime) {
  Limits limits;
  limits.requestTimeout = std::chrono::milliseconds(400);
  Start(limits);
  const std::string head = "POST /WsTavoric HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n";
  RawClient flood(port_);
  flood.Send(head);
  for (int i = 0; i < 4000 && !flood.closedByPeer(); ++i) {
    flood.Send("X-Trailer: " + std::string(100, 't') + "\r\n");
    if (i % 100 == 0) (void)flood.ReadSome(std::chrono::milliseconds(0));
  }
  EXPECT_EQ(flood.ReadAll(), "");
  EXPECT_TRUE(flood.closedByPeer());

  RawClient trickle(port_);
  trickle.Send(head);
  for (int i = 0; i < 100 && !trickle.closedByPeer(); ++i) {  // 20 KB/s for 5 s at most
    trickle.Send("X-Trailer: " + std::string(1000, 't') + "\r\n");
    EXPECT_EQ(trickle.ReadSome(std::chrono::milliseconds(50)), "");
  }
  EXPECT_TRUE(trickle.closedByPeer());
  EXPECT_EQ(listener_->OpenConnections(), 0u);
}

// The register's caps and snapshots, without sockets.
TEST(ConnectionRegister, CapsServingAndStop) {
  struct Conn {
    int id;
  };
  using Register = tav::http::detail::ConnectionRegister<Conn, int>;
  Register reg(4, 2);  // four in all, two from one peer
  std::vector<std::shared_ptr<Conn>> conns;
  for (int i = 0; i < 6; ++i) conns.push_back(std::make_shared<Conn>(Conn{i}));
  const auto admit = [&](int i, int peer) { return reg.Admit(conns[i].get(), peer, conns[i]); };
  EXPECT_EQ(admit(0, 1), Register::Admission::Accept);
  EXPECT_EQ(admit(1, 1), Register::Admission::Accept);
  EXPECT_EQ(admit(2, 1), Register::Admission::Refuse);  // a third from peer 1
  EXPECT_EQ(admit(2, 2), Register::Admission::Accept);
  EXPECT_EQ(admit(3, 3), Register::Admission::Accept);
  EXPECT_EQ(admit(4, 4), Register::Admission::Refuse);  // five in all
  EXPECT_EQ(reg.Open(), 4u);
  reg.Leave(conns[0].get());
  reg.Leave(conns[0].get());  // twice: nothing more
  EXPECT_EQ(admit(4, 1), Register::Admission::Accept);  // peer 1 has room again
  EXPECT_EQ(reg.Open(), 4u);

  // The sweep never picks a connection inside its action.
  EXPECT_TRUE(reg.BeginServing(conns[1].get()));
  const auto late = reg.Select([](Conn *) { return true; });
  EXPECT_EQ(late.size(), 3u);
  for (const auto &c : late) EXPECT_NE(c->id, 1);
  reg.EndServing(conns[1].get());
  EXPECT_EQ(reg.Select([](Conn *c) { return c->id == 1; }).size(), 1u);

  // Stop: the one serving is handed to the callback, the others returned; nothing
  // new is admitted and no action begins.
  EXPECT_TRUE(reg.BeginServing(conns[2].get()));
  std::vector<int> serving;
  const auto others = reg.Stop([&](Conn *c) { serving.push_back(c->id); });
  EXPECT_EQ(serving, std::vector<int>{2});
  EXPECT_EQ(others.size(), 3u);
  EXPECT_EQ(admit(5, 9), Register::Admission::Stopping);
  EXPECT_FALSE(reg.BeginServing(conns[3].get()));
}

TEST(ConnectionDeadline, Table) {
  using namespace std::chrono_literals;
  using tav::http::detail::ConnectionDeadline;
  using tav::http::detail::ConnectionTimes;
  const std::chrono::steady_clock::time_point t0{};
  Limits limits;  // idle 30 s, total 60 s, a second per 8192 body bytes
  struct Row {
    const char *name;
    ConnectionTimes times;
    std::chrono::steady_clock::duration expected;  // after t0
  };
  const Row rows[] = {
      {"fresh: the idle limit first", {t0, t0, {}, false, false, 0}, 30s},
      {"active lately: the total limit", {t0, t0 + 50s, {}, false, false, 0}, 60s},
      {"body received at the minimum rate buys time", {t0, t0 + 50s, {}, false, false, 8192 * 10}, 70s},
      {"the body only: a request done has the idle limit", {t0, t0 + 50s, {}, false, true, 0}, 80s},
      {"lingering ends at its own time", {t0, t0 + 50s, t0 + 1s, true, false, 0}, 1s},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ConnectionDeadline(row.times, limits) - t0, row.expected);
  }
  limits.minBodyRate = 0;  // no growth
  EXPECT_EQ(ConnectionDeadline({t0, t0 + 50s, {}, false, false, 1 << 20}, limits) - t0, 60s);
}

TEST(LimitsSettings, ValuesFromTheIniSection) {
  struct Row {
    const char *name;
    std::map<std::u16string, std::u16string> values;
    std::u16string problems;
  };
  const Row rows[] = {
      {"nothing set", {}, u""},
      {"every key",
       {{u"MAXCONEXOES", u"20000"}, {u"MAXCONEXOESPORCLIENTE", u"8"}, {u"TEMPOOCIOSO", u"5"},
        {u"TEMPOREQUISICAO", u"$10"}, {u"TAXAMINIMACORPO", u"0"}},
       u""},
      {"bad values keep the default",
       {{u"MAXCONEXOES", u"0"}, {u"TEMPOOCIOSO", u"abc"}, {u"TEMPOREQUISICAO", u"-1"}, {u"MAXCONEXOESPORCLIENTE", u"  "}},
       u"MAXCONEXOES='0', TEMPOOCIOSO='abc', TEMPOREQUISICAO='-1'"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::u16string problems;
    const Limits limits = LimitsFromSettings(
        [&](std::u16string_view key) {
          const auto found = row.values.find(std::u16string(key));
          return found == row.values.end() ? std::u16string() : found->second;
        },
        &problems);
    EXPECT_EQ(problems, row.problems);
    const bool set = std::string(row.name) == "every key";
    EXPECT_EQ(limits.maxConnections, set ? 20000u : Limits{}.maxConnections);
    EXPECT_EQ(limits.maxConnectionsPerPeer, set ? 8u : Limits{}.maxConnectionsPerPeer);
    EXPECT_EQ(limits.idleTimeout, set ? std::chrono::seconds(5) : Limits{}.idleTimeout);
    EXPECT_EQ(limits.requestTimeout, set ? std::chrono::seconds(16) : Limits{}.requestTimeout);
    EXPECT_EQ(limits.minBodyRate, set ? 0u : Limits{}.minBodyRate);
  }
}
