// The registry values that the project lists.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "NvRegKey.h"
#include "Win/RegRootKey.h"
#include "SetupProject.h"
#include "Setupfn.h"

namespace {

const wchar_t* RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return L"HKEY_CURRENT_CONFIG";
  return L"HKEY_CURRENT_USER";
}

}  // namespace

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
    // A value that cannot be written fails the install: a skipped one would
    // leave an install reported whole without it.
    const HKEY root = RegRootKeyToHKey(item->RootKey);
    TNvRegKey key;
    if (!key.OpenOrCreate(root, subKey))
      throw ERegistryException(Format(L"Failed to open the key '%s\\%s'", {std::wstring(RootName(root)), subKey}));
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
