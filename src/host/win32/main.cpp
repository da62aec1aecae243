// TavWebService: the service host's window program on Windows.
#include <windows.h>
#include <commctrl.h>

#include "host/win32/form_principal.h"
#include "http/module/web_module.h"
#include "platform/https.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tav::https::GlobalInit();
  // The themed common controls of the manifest.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  tav::http::RegisterWebModule();
  int code;
  {
    tav::host::win32::TFormPrincipal form(instance);
    form.Show();
    code = form.Run();
  }  // the listener stops and waits for the requests in flight
  return code;
}
