// Program entry: the application object, the one main window, the message loop.
#include <windows.h>

#include "MainFrm.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  TApplication app;
  Application = &app;
  unsigned code = kExitOk;
  {
    TMainForm form;
    app.SetMainForm(&form);
    // A silent install has run by now and left the message that ends the
    // process: its window is never shown, not even for that moment.
    if (!form.SilentInstall()) form.ShowForm();
    app.Run();
    code = form.ExitCode();
    app.SetMainForm(nullptr);
  }
  Application = nullptr;
  return static_cast<int>(code);
}
