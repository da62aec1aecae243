// Serves a trivial action on the given port (0: any) until SIGINT or SIGTERM.
// Prints the port on its first line.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "http/handler_pool.h"
#include "http/listener.h"
#include "http/web.h"
#include "platform/sockets.h"

namespace {

class TrivialModule : public tav::http::WebModule {
 public:
  TrivialModule() {
    tav::http::WebAction action;
    action.Name = u"WsTavoric";
    action.PathInfo = u"/WsTavoric";
    action.OnAction = [](tav::http::WebAction &, tav::http::WebRequest &, tav::http::WebResponse &response, bool &) {
      response.SetContentType(u"application/json; charset=ISO-8859-1");
      response.SetContent(u"{\"ok\":true}");
    };
    actions_.push_back(std::move(action));
  }
};

}  // namespace

int main(int argc, char **argv) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // threads inherit the mask; main waits below

  tav::http::HandlerPool::Global().RegisterModuleClass([] { return std::make_unique<TrivialModule>(); });
  tav::net::RaiseOpenFileLimit();  // the idle-connection figures hold ten thousand sockets
  tav::http::HttpListener listener;
  listener.SetDefaultPort(static_cast<std::uint16_t>(argc > 1 ? std::atoi(argv[1]) : 0));
  listener.SetActive(true);
  std::printf("%u\n", static_cast<unsigned>(listener.Bindings().at(0).port));
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  listener.SetActive(false);
  return 0;
}
