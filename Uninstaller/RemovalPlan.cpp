#include "RemovalPlan.h"

#include <algorithm>
#include <set>

#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "Setupfn.h"
#include "Win/RegRootKey.h"

namespace {

// The full form of a path (".", ".." and "/" resolved), as given when the
// system cannot make one.
std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return path;
  full.resize(n);
  return full;
}

std::vector<std::wstring> SplitKey(const std::wstring& key) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find(L'\\', start);
    if (end == std::wstring::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Names of keys that many programs share; a product titled like one of them
// does not make such a key its own.
bool IsSharedKeyName(const std::wstring& name) {
  static const wchar_t* const shared[] = {L"Software", L"Microsoft", L"Windows", L"CurrentVersion", L"Classes",
                                          L"Wow6432Node", L"Policies", L"Run", L"RunOnce", L"Uninstall",
                                          L"Environment", L"Control Panel", L"System", L"CurrentControlSet",
                                          L"Services", L"CLSID", L"Interface", L"TypeLib", L"AppID"};
  for (const wchar_t* s : shared)
    if (SameText(name, s)) return true;
  return false;
}

// A list of full paths, each once (compared ignoring case and a trailing
// backslash); a set keeps large products linear.
class TPathList {
public:
  explicit TPathList(std::vector<std::wstring>& list) : FList(list) {}
  // False when the path is in the list already.
  bool Add(const std::wstring& fullPath) {
    if (!FKeys.insert(UpperCase(ExcludeTrailingBackslash(fullPath))).second) return false;
    FList.push_back(fullPath);
    return true;
  }

private:
  std::vector<std::wstring>& FList;
  std::set<std::wstring> FKeys;
};

// folder and its parents up to and including top (folder must lie in top or be it).
void AddFolderChain(TPathList& folders, std::wstring folder, const std::wstring& top) {
  folder = IncludeTrailingBackslash(folder);
  while (SamePath(folder, top) || PathInside(folder, top)) {
    if (!folders.Add(folder)) break;  // its parents are in already
    if (SamePath(folder, top)) break;
    folder = ExtractFilePath(ExcludeTrailingBackslash(folder));
  }
}

std::wstring TrimKey(std::wstring key) {
  while (!key.empty() && key.front() == L'\\') key.erase(0, 1);
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

}  // namespace

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return SameText(ExcludeTrailingBackslash(FullPath(a)), ExcludeTrailingBackslash(FullPath(b)));
}

bool PathInside(const std::wstring& path, const std::wstring& folder) {
  const std::wstring p = ExcludeTrailingBackslash(FullPath(path));
  const std::wstring f = IncludeTrailingBackslash(FullPath(folder));
  return p.size() > f.size() && SameText(p.substr(0, f.size()), f);
}

int OwnedKeyDepth(const std::wstring& keyPath, const std::wstring& title, const std::wstring& guid) {
  const std::vector<std::wstring> parts = SplitKey(keyPath);
  const std::wstring upperGuid = UpperCase(guid);
  for (size_t i = 1; i < parts.size(); ++i) {
    const bool byTitle = !title.empty() && SameText(parts[i], title) && !IsSharedKeyName(parts[i]);
    const bool byGuid = guid.size() >= 32 && UpperCase(parts[i]).find(upperGuid) != std::wstring::npos;
    if (byTitle || byGuid) return static_cast<int>(parts.size() - i);
  }
  return 0;
}

int TRemovalPlan::StepCount() const {
  return static_cast<int>(Files.size() + Shortcuts.size() + Values.size() + DataFiles.size());
}

TRemovalPlan MakeRemovalPlan(const TSetupScript& script, const std::wstring& appDir, const std::wstring& selfPath) {
  TRemovalPlan plan;
  plan.AppDir = IncludeTrailingBackslash(FullPath(appDir));
  plan.SelfPath = FullPath(selfPath);
  const TSetupBaseInfo& info = *script.BaseInfo();
  for (const wchar_t* name : {UninstallProjectFileName, UninstallIconFileName, JournalFileName})
    plan.DataFiles.push_back(plan.AppDir + name);

  TPathList files(plan.Files), folders(plan.Folders), shortcuts(plan.Shortcuts);
  // Files: as the installer placed them.
  const TSetupFileList& fileItems = *script.FileList();
  for (int i = 0; i < fileItems.Count(); ++i) {
    const TSetupFile* item = fileItems.Items(i);
    if (item->SourceMask.empty() || item->SourceMask.find_first_of(L"*?") != std::wstring::npos) continue;
    const std::wstring dest =
        FullPath(IncludeTrailingBackslash(TSetupfn::ExpandConstants(item->DestDir)) + item->SourceMask);
    if (SamePath(dest, plan.SelfPath)) continue;
    bool isData = false;
    for (const std::wstring& d : plan.DataFiles) isData = isData || SamePath(d, dest);
    if (isData) continue;
    if (!files.Add(dest)) continue;
    if (SameText(ExtractFileExt(dest), L".exe")) plan.Programs.push_back(dest);
    if (PathInside(dest, plan.AppDir)) AddFolderChain(folders, ExtractFilePath(dest), plan.AppDir);
  }

  // Shortcuts; their folders only inside the product's own Start-menu group
  // (which exists only with a title) or the installation folder.
  const std::wstring group = info.AppTitle.empty() ? std::wstring() : TSetupfn::GroupPath();
  const TSetupShortCutList& links = *script.ShortCutList();
  for (int i = 0; i < links.Count(); ++i) {
    const TSetupShortCut* item = links.Items(i);
    const std::wstring saveDir = IncludeTrailingBackslash(TSetupfn::ExpandConstants(item->SaveDir));
    const std::wstring name = TSetupfn::ExpandConstants(item->Name);
    if (name.empty()) continue;
    shortcuts.Add(FullPath(saveDir + name + L".lnk"));
    if (!group.empty() && (SamePath(saveDir, group) || PathInside(saveDir, group)))
      AddFolderChain(folders, FullPath(saveDir), group);
    else if (SamePath(saveDir, plan.AppDir) || PathInside(saveDir, plan.AppDir))
      AddFolderChain(folders, FullPath(saveDir), plan.AppDir);
  }

  // Registry values, and the keys named after the product.
  const TSetupRegList& regs = *script.RegList();
  for (int i = 0; i < regs.Count(); ++i) {
    const TSetupReg* item = regs.Items(i);
    TRegValueRef value{RegRootKeyToHKey(item->RootKey), TrimKey(TSetupfn::ExpandConstants(item->SubKey)),
                       TSetupfn::ExpandConstants(item->ValueName)};
    if (value.Key.empty()) continue;
    int depth = OwnedKeyDepth(value.Key, info.AppTitle, info.GUID);
    std::wstring key = value.Key;
    for (; depth > 0; --depth) {
      bool known = false;
      for (const TRegKeyRef& k : plan.Keys) known = known || (k.Root == value.Root && SameText(k.Key, key));
      if (!known) plan.Keys.push_back({value.Root, key});
      key = key.substr(0, key.rfind(L'\\') == std::wstring::npos ? 0 : key.rfind(L'\\'));
    }
    plan.Values.push_back(std::move(value));
  }
  std::stable_sort(plan.Keys.begin(), plan.Keys.end(), [](const TRegKeyRef& a, const TRegKeyRef& b) {
    return std::count(a.Key.begin(), a.Key.end(), L'\\') > std::count(b.Key.begin(), b.Key.end(), L'\\');
  });

  plan.UninstallKey = Format(UninstallKeyFormat, {std::wstring(UninstallKeyRoot), info.GUID});

  folders.Add(plan.AppDir);
  std::stable_sort(plan.Folders.begin(), plan.Folders.end(),
                   [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  return plan;
}
