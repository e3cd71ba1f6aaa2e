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
    form.ShowForm();
    app.Run();
    code = form.ExitCode();
    app.SetMainForm(nullptr);
  }
  Application = nullptr;
  return static_cast<int>(code);
}
