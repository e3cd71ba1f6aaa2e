// The removal plan, from the install journal or, for older installations,
// from the project.
#include "RemovalPlan.h"

#include <algorithm>
#include <map>
#include <set>

#include "InstallLocation.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "Setupfn.h"

namespace {

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

// A comparison key for paths and registry items: normal form, upper case.
std::wstring PathKey(const std::wstring& path) {
  const std::wstring normal = NormalPath(path);
  return UpperCase(normal.empty() ? path : normal);
}

std::wstring ValueKey(int32_t root, const std::wstring& key, const std::wstring& name) {
  return IntToStr(root) + L"|" + UpperCase(key) + L"|" + UpperCase(name);
}

std::wstring ValueText(TRegRootKey root, const std::wstring& key, const std::wstring& name) {
  return RegistryRootName(root) + L"\\" + key + L"\\" + name;
}

// A list of paths, each once (compared in the normal form, ignoring case).
class TPathList {
public:
  explicit TPathList(std::vector<std::wstring>& list) : FList(list) {}
  bool Add(const std::wstring& path) {
    if (!FKeys.insert(PathKey(path)).second) return false;
    FList.push_back(path);
    return true;
  }

private:
  std::vector<std::wstring>& FList;
  std::set<std::wstring> FKeys;
};

void SortDeepestFirst(std::vector<std::wstring>& folders) {
  std::stable_sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
    return ExcludeTrailingBackslash(a).size() > ExcludeTrailingBackslash(b).size();
  });
}

void SortKeysDeepestFirst(std::vector<TRegKeyRef>& keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const TRegKeyRef& a, const TRegKeyRef& b) {
    return std::count(a.Key.begin(), a.Key.end(), L'\\') > std::count(b.Key.begin(), b.Key.end(), L'\\');
  });
}

// Whether the file at path still holds what state says the install left.
// A file another program holds open without sharing cannot be read: its size
// and last-write time decide then (the removal will meet it in use).
bool Unchanged(const TMachineView& machine, const std::wstring& path, const TJournalEntry& state) {
  uint64_t size = 0, time = 0;
  if (!machine.FileState(path, size, time)) return false;
  if (size != state.Size || time != state.WriteTime) return false;
  uint32_t checksum = 0;
  if (!machine.FileChecksum(path, checksum)) return true;
  return checksum == state.Checksum;
}

void AddDataFiles(TRemovalPlan& plan) {
  for (const wchar_t* name : {UninstallProjectFileName, UninstallIconFileName, JournalFileName})
    plan.DataFiles.push_back(plan.AppDir + name);
}

}  // namespace

std::wstring TKeptItem::Text() const {
  switch (Why) {
    case kwShared:
      return Format(L"已保留其他产品共用的项目：%s", {Item});
    case kwOutside:
      return Format(L"已跳过产品文件夹以外的项目：%s", {Item});
    case kwChanged:
      break;
  }
  // A registry value is named by its root ("HKEY_..."), a file by its path.
  if (Item.rfind(L"HKEY_", 0) == 0) return Format(L"已保留修改过的项目：%s", {Item});
  return Format(L"已保留修改过的文件：%s", {Item});
}

int TRemovalPlan::StepCount() const {
  return static_cast<int>(Files.size() + Shortcuts.size() + Values.size() + DataFiles.size());
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

bool IsAnotherProductsEntry(const std::wstring& key, const std::wstring& guid) {
  // The 32-bit view's node spelled out leads to the same keys.
  std::vector<std::wstring> parts;
  for (const std::wstring& part : SplitKey(key))
    if (!SameText(part, L"Wow6432Node")) parts.push_back(part);
  const std::vector<std::wstring> root = SplitKey(UninstallKeyRoot);
  if (parts.size() <= root.size()) return false;  // above the entries, or their root
  for (std::size_t i = 0; i < root.size(); ++i)
    if (!SameText(parts[i], root[i])) return false;
  return !SameText(parts[root.size()], guid + L"_lm");
}

TRemovalPlan MakeJournalRemovalPlan(const TJournalContents& journal, const TRemovalContext& context,
                                    const TMachineView& machine, const std::vector<TJournalContents>& others) {
  TRemovalPlan plan;
  plan.AppDir = IncludeTrailingBackslash(context.AppDir);
  plan.SelfPath = context.SelfPath;
  plan.UninstallKey = UninstallKeyPath(context.Guid);
  AddDataFiles(plan);

  std::vector<std::wstring> roots;
  if (const TJournalEntry* begin = journal.Begin()) roots = begin->Roots;
  if (roots.empty()) roots.push_back(plan.AppDir);
  auto allowed = [&](const std::wstring& path) {
    for (const std::wstring& root : roots)
      if (PathWithin(path, root)) return true;
    return false;
  };

  // What the other products recorded.
  std::set<std::wstring> othersFiles, othersValues;
  for (const TJournalContents& other : others)
    for (const TJournalEntry& e : other.Entries) {
      if (e.Kind == TJournalKind::jkFileState) othersFiles.insert(PathKey(e.Path));
      if (e.Kind == TJournalKind::jkValueWritten && e.Role == TJournalRole::jrRegistry)
        othersValues.insert(ValueKey(e.Root, e.Path, e.Name));
    }

  // The end state of each file and value, in the order first written.
  std::vector<const TJournalEntry*> files, values;
  std::map<std::wstring, std::size_t> fileAt, valueAt;
  std::vector<TRegKeyRef> keys;
  std::vector<std::wstring> folders;
  const std::wstring self = PathKey(plan.SelfPath);
  std::set<std::wstring> dataFiles;
  for (const std::wstring& d : plan.DataFiles) dataFiles.insert(PathKey(d));
  for (const TJournalEntry& e : journal.Entries) {
    switch (e.Kind) {
      case TJournalKind::jkFileState: {
        const std::wstring key = PathKey(e.Path);
        if (key == self || dataFiles.count(key) || e.Role == TJournalRole::jrUninstallData) break;
        auto [it, added] = fileAt.emplace(key, files.size());
        if (added) files.push_back(&e);
        else files[it->second] = &e;
        break;
      }
      case TJournalKind::jkValueWritten: {
        if (e.Role != TJournalRole::jrRegistry) break;  // the uninstall entry goes whole
        const std::wstring key = ValueKey(e.Root, e.Path, e.Name);
        auto [it, added] = valueAt.emplace(key, values.size());
        if (added) values.push_back(&e);
        else values[it->second] = &e;
        break;
      }
      case TJournalKind::jkKeyCreated:
        if (e.Role == TJournalRole::jrRegistry) keys.push_back({static_cast<TRegRootKey>(e.Root), e.Path});
        break;
      case TJournalKind::jkFolderCreated:
        folders.push_back(IncludeTrailingBackslash(e.Path));
        break;
      default:
        break;
    }
  }

  TPathList fileList(plan.Files), linkList(plan.Shortcuts);
  for (const TJournalEntry* e : files) {
    if (!allowed(e->Path)) {
      plan.Kept.push_back({TKeptItem::kwOutside, e->Path});
      continue;
    }
    uint64_t size = 0, time = 0;
    if (!machine.FileState(e->Path, size, time)) continue;  // gone already
    if (othersFiles.count(PathKey(e->Path))) {
      plan.Kept.push_back({TKeptItem::kwShared, e->Path});
      continue;
    }
    if (!Unchanged(machine, e->Path, *e)) {
      plan.Kept.push_back({TKeptItem::kwChanged, e->Path});
      continue;
    }
    if (e->Role == TJournalRole::jrShortcut) {
      linkList.Add(e->Path);
    } else if (fileList.Add(e->Path) && SameText(ExtractFileExt(e->Path), L".exe")) {
      plan.Programs.push_back(e->Path);
    }
  }
  for (const TJournalEntry* e : values) {
    const TRegRootKey root = static_cast<TRegRootKey>(e->Root);
    const std::wstring text = ValueText(root, e->Path, e->Name);
    if (root == rrkLocalMachine && IsAnotherProductsEntry(e->Path, context.Guid)) {
      plan.Kept.push_back({TKeptItem::kwOutside, text});
      continue;
    }
    TRegData now;
    if (!machine.ValueData(root, e->Path, e->Name, now)) continue;  // gone already
    if (othersValues.count(ValueKey(e->Root, e->Path, e->Name))) {
      plan.Kept.push_back({TKeptItem::kwShared, text});
      continue;
    }
    if (!(now == e->New)) {
      plan.Kept.push_back({TKeptItem::kwChanged, text});
      continue;
    }
    plan.Values.push_back({root, e->Path, e->Name});
  }
  for (const TRegKeyRef& k : keys)
    if (!(k.Root == rrkLocalMachine && IsAnotherProductsEntry(k.Key, context.Guid))) plan.Keys.push_back(k);
  SortKeysDeepestFirst(plan.Keys);

  // The folders the install created in its roots, and those above the
  // installation folder that it created for it (a company's folder).
  TPathList folderList(plan.Folders);
  for (const std::wstring& folder : folders)
    if ((allowed(folder) || PathWithin(plan.AppDir, folder)) && !machine.IsProtectedFolder(folder))
      folderList.Add(folder);
  SortDeepestFirst(plan.Folders);
  return plan;
}

TRemovalPlan MakeProjectRemovalPlan(const TSetupScript& script, const TRemovalContext& context,
                                    const TMachineView& machine) {
  TRemovalPlan plan;
  plan.AppDir = IncludeTrailingBackslash(context.AppDir);
  plan.SelfPath = context.SelfPath;
  const TSetupBaseInfo& info = *script.BaseInfo();
  plan.UninstallKey = UninstallKeyPath(info.GUID);
  AddDataFiles(plan);
  const std::wstring self = PathKey(plan.SelfPath);
  std::set<std::wstring> dataFiles;
  for (const std::wstring& d : plan.DataFiles) dataFiles.insert(PathKey(d));

  // The folders an older install's items may be taken from: its own, and
  // for shortcuts the product's Start-menu group and the desktop.
  std::vector<std::wstring> linkRoots{plan.AppDir};
  std::wstring group;
  for (const wchar_t* constant : {L"{group}", L"{desktop}"}) {
    try {
      const std::wstring folder = ExpandLocation(constant);
      linkRoots.push_back(folder);
      if (SameText(constant, L"{group}") && !info.AppTitle.empty()) group = folder;
    } catch (const ELocationError&) {
    }
  }
  auto addFolderChain = [&](TPathList& list, std::wstring folder, const std::wstring& top) {
    folder = IncludeTrailingBackslash(folder);
    while (PathWithin(folder, top)) {
      if (machine.IsProtectedFolder(folder) || !list.Add(folder)) break;
      if (SameText(NormalPath(folder), NormalPath(top))) break;
      folder = ExtractFilePath(ExcludeTrailingBackslash(folder));
    }
  };

  TPathList files(plan.Files), folders(plan.Folders), shortcuts(plan.Shortcuts);
  const TSetupFileList& fileItems = *script.FileList();
  for (int i = 0; i < fileItems.Count(); ++i) {
    const TSetupFile* item = fileItems.Items(i);
    if (item->SourceMask.empty() || item->SourceMask.find_first_of(L"*?") != std::wstring::npos) continue;
    std::wstring dest;
    try {
      dest = FileTarget(*item);
    } catch (const ELocationError&) {
      plan.Kept.push_back({TKeptItem::kwOutside, FileLocationValue(*item)});
      continue;
    }
    const std::wstring key = PathKey(dest);
    if (key == self || dataFiles.count(key)) continue;
    // Only what the project places in the installation folder: without a
    // record, a file elsewhere may as well be another program's.
    if (ParseLocation(FileLocationValue(*item)).Root != TLocationRoot::lrApp || !PathBelow(dest, plan.AppDir)) {
      plan.Kept.push_back({TKeptItem::kwOutside, dest});
      continue;
    }
    if (!files.Add(dest)) continue;
    if (SameText(ExtractFileExt(dest), L".exe")) plan.Programs.push_back(dest);
    addFolderChain(folders, ExtractFilePath(dest), plan.AppDir);
  }

  const TSetupShortCutList& links = *script.ShortCutList();
  for (int i = 0; i < links.Count(); ++i) {
    std::wstring link;
    try {
      link = ShortcutTarget(*links.Items(i));
    } catch (const ELocationError&) {
      plan.Kept.push_back({TKeptItem::kwOutside, links.Items(i)->SaveDir + L"\\" + links.Items(i)->Name});
      continue;
    }
    bool inRoot = false;
    for (const std::wstring& root : linkRoots) inRoot = inRoot || PathBelow(link, root);
    if (!inRoot) {
      plan.Kept.push_back({TKeptItem::kwOutside, link});
      continue;
    }
    shortcuts.Add(link);
    if (!group.empty() && PathWithin(link, group)) addFolderChain(folders, ExtractFilePath(link), group);
    else if (PathWithin(link, plan.AppDir)) addFolderChain(folders, ExtractFilePath(link), plan.AppDir);
  }

  // Registry values, while they hold the project's data, and the keys named
  // after the product.
  const TSetupRegList& regs = *script.RegList();
  for (int i = 0; i < regs.Count(); ++i) {
    const TSetupReg* item = regs.Items(i);
    TRegistryTarget target;
    try {
      target = RegistryTarget(*item);
    } catch (const ELocationError&) {
      continue;
    }
    const std::wstring text = ValueText(target.Root, target.Key, target.ValueName);
    if (target.Root == rrkLocalMachine && IsAnotherProductsEntry(target.Key, info.GUID)) {
      plan.Kept.push_back({TKeptItem::kwOutside, text});
      continue;
    }
    // The keys named after the product go when they are left empty.
    std::wstring key = target.Key;
    for (int depth = OwnedKeyDepth(key, info.AppTitle, info.GUID); depth > 0; --depth) {
      bool known = false;
      for (const TRegKeyRef& k : plan.Keys) known = known || (k.Root == target.Root && SameText(k.Key, key));
      if (!known) plan.Keys.push_back({target.Root, key});
      const std::size_t cut = key.rfind(L'\\');
      key = key.substr(0, cut == std::wstring::npos ? 0 : cut);
    }
    TRegData now;
    if (machine.ValueData(target.Root, target.Key, target.ValueName, now)) {
      const std::wstring data = TSetupfn::ExpandConstants(item->ValueData);
      TRegData expected;
      bool comparable = true;
      if (item->ValueType == rvtString) {
        expected = RegStringData(data);
      } else {
        int32_t number = 0;
        comparable = TryStrToInt(data, number);
        expected = RegDWordData(static_cast<uint32_t>(number));
      }
      if (!comparable || !(now == expected)) {
        plan.Kept.push_back({TKeptItem::kwChanged, text});
        continue;
      }
      plan.Values.push_back({target.Root, target.Key, target.ValueName});
    }
  }
  SortKeysDeepestFirst(plan.Keys);

  if (!machine.IsProtectedFolder(plan.AppDir)) folders.Add(plan.AppDir);
  SortDeepestFirst(plan.Folders);
  return plan;
}
