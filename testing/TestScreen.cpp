#include "TestScreen.h"

#include "NvSysUtils.h"
#include "TestProcess.h"

namespace nvtest {

void Screenshot(const std::wstring& name) {
  // Host programs, started through Wine's loader by their Unix paths.
  const std::wstring dir = Utf8Decode(NV_SHOT_DIR);
  Sleep(400);
  TProcess(L"/bin/mkdir -p " + dir).WaitFor(20000);
  TProcess(L"/usr/bin/import -window root " + dir + L"/" + name + L".png").WaitFor(20000);
}

}  // namespace nvtest
