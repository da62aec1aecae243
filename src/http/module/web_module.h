// TWebModule1: the service's one action, WsTavoric, which routes each request to
// the WhatsApp gateway, the communication intake or the business library.
#pragma once

#include "http/web.h"

namespace tav::http {

class TWebModule1 : public WebModule {
 public:
  TWebModule1();

  // The action's handler.
  void WsTavoric(WebAction &sender, WebRequest &request, WebResponse &response, bool &handled);
};

// Registers TWebModule1 as the module class of the process-wide handler pool.
void RegisterWebModule();

}  // namespace tav::http
