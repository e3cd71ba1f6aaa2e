// The registry values that the project lists.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "InstallChanges.h"
#include "InstallLocation.h"
#include "SetupProject.h"
#include "Setupfn.h"

void TInstallEngine::WriteRegistryEntries() {
  FHost.SetDetail(L"正在修改注册表......");
  TSetupRegList* regs = FScript->RegList();
  for (int i = 0; i < regs->Count(); ++i) {
    const TSetupReg* item = regs->Items(i);
    FHost.StepProgress();
    const TRegistryTarget target = RegistryTarget(*item);
    const std::wstring valueData = TSetupfn::ExpandConstants(item->ValueData);
    // A value that cannot be written fails the install: a skipped one would
    // leave an install reported whole without it.
    TRegData data;
    switch (item->ValueType) {
      case rvtString:
        data = RegStringData(valueData);
        break;
      case rvtDWord:
        data = RegDWordData(static_cast<uint32_t>(StrToInt(valueData)));
        break;
      default:
        continue;
    }
    Changes().SetValue(target.Root, target.Key, target.ValueName, data, TJournalRole::jrRegistry);
  }
}
