// The registry values that the project lists.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvSysUtils.h"
#include "NvRegKey.h"
#include "Win/RegRootKey.h"
#include "SetupProject.h"
#include "Setupfn.h"

void TInstallEngine::WriteRegistryEntries() {
  FHost.SetDetail(L"正在修改注册表......");
  TSetupRegList* regs = FScript->RegList();
  for (int i = 0; i < regs->Count(); ++i) {
    const TSetupReg* item = regs->Items(i);
    FHost.StepProgress();
    std::wstring subKey = TSetupfn::ExpandConstants(item->SubKey);
    const std::wstring valueName = TSetupfn::ExpandConstants(item->ValueName);
    const std::wstring valueData = TSetupfn::ExpandConstants(item->ValueData);
    if (!subKey.empty() && subKey[0] == L'\\') subKey.erase(0, 1);
    TNvRegKey key;
    if (!key.OpenOrCreate(RegRootKeyToHKey(item->RootKey), subKey)) continue;
    switch (item->ValueType) {
      case rvtString:
        key.WriteString(valueName, valueData);
        break;
      case rvtDWord:
        key.WriteInteger(valueName, static_cast<uint32_t>(StrToInt(valueData)));
        break;
      default:
        break;
    }
  }
}
