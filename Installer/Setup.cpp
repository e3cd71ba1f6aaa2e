// Program entry: the application object, the one main window, the message loop.
#include <windows.h>

#include <memory>

#include "MainFrm.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return static_cast<int>(RunMainForm([] { return std::make_unique<TMainForm>(); }));
}
