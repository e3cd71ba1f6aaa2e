// The removal plan: a journal (or an older installation's project) and the
// machine as it is now in, the removal's actions out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "InstallLocation.h"
#include "NvSysUtils.h"
#include "RemovalPlan.h"
#include "Setupfn.h"

namespace {

const wchar_t kGuid[] = L"{11111111-2222-3333-4444-555555555555}";
const wchar_t kApp[] = L"C:\\Apps\\Demo\\";

struct TFakeFile {
  uint64_t Size, Time;
  uint32_t Checksum;
};

// The machine of a test: files, values and the folders no product owns.
class TFakeMachine : public TMachineView {
public:
  std::map<std::wstring, TFakeFile> Files;
  std::map<std::wstring, TRegData> Values;  // "root|key|name"
  std::vector<std::wstring> Protected{L"C:\\", L"C:\\Users\\u\\Desktop", L"C:\\Program Files (x86)"};

  bool FileState(const std::wstring& path, uint64_t& size, uint64_t& time) const override {
    auto it = Files.find(path);
    if (it == Files.end()) return false;
    size = it->second.Size;
    time = it->second.Time;
    return true;
  }
  bool FileChecksum(const std::wstring& path, uint32_t& checksum) const override {
    auto it = Files.find(path);
    if (it == Files.end()) return false;
    checksum = it->second.Checksum;
    return true;
  }
  bool ValueData(TRegRootKey root, const std::wstring& key, const std::wstring& name, TRegData& data) const override {
    auto it = Values.find(IntToStr(root) + L"|" + key + L"|" + name);
    if (it == Values.end()) return false;
    data = it->second;
    return true;
  }
  bool IsProtectedFolder(const std::wstring& folder) const override {
    for (const std::wstring& p : Protected)
      if (SameText(NormalPath(p), NormalPath(folder))) return true;
    return false;
  }
};

// Journals written the way the installer writes them.
class TJournalText {
public:
  explicit TJournalText(std::vector<std::wstring> roots = {kApp, L"C:\\Users\\u\\Desktop\\"}) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkBegin;
    e.Guid = kGuid;
    e.AppDir = kApp;
    e.Roots = std::move(roots);
    J.Entries.push_back(e);
  }
  TJournalText& Folder(const std::wstring& path) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkFolderCreated;
    e.Role = TJournalRole::jrFolder;
    e.Path = path;
    J.Entries.push_back(e);
    return *this;
  }
  TJournalText& File(const std::wstring& path, uint64_t size, uint32_t checksum,
                     TJournalRole role = TJournalRole::jrFile) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkFileCreated;
    e.Role = role;
    e.Path = path;
    J.Entries.push_back(e);
    e.Kind = TJournalKind::jkFileState;
    e.Size = size;
    e.WriteTime = 1000 + size;
    e.Checksum = checksum;
    J.Entries.push_back(e);
    return *this;
  }
  TJournalText& Key(int32_t root, const std::wstring& key) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkKeyCreated;
    e.Role = TJournalRole::jrRegistry;
    e.Root = root;
    e.Path = key;
    J.Entries.push_back(e);
    return *this;
  }
  TJournalText& Value(int32_t root, const std::wstring& key, const std::wstring& name, const std::wstring& data,
                      TJournalRole role = TJournalRole::jrRegistry) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkValueWritten;
    e.Role = role;
    e.Root = root;
    e.Path = key;
    e.Name = name;
    e.New = RegStringData(data);
    J.Entries.push_back(e);
    return *this;
  }
  TJournalContents Done() {
    TJournalEntry e;
    e.Kind = TJournalKind::jkCommitted;
    J.Entries.push_back(e);
    return J;
  }

private:
  TJournalContents J;
};

TRemovalContext Context() { return {kApp, std::wstring(kApp) + L"Uninstall.exe", kGuid}; }

std::vector<std::string> Texts(const std::vector<std::wstring>& items) {
  std::vector<std::string> out;
  for (const std::wstring& s : items) out.push_back(Utf8Encode(s));
  return out;
}

std::vector<std::string> KeptTexts(const TRemovalPlan& plan) {
  std::vector<std::string> out;
  for (const TKeptItem& k : plan.Kept) out.push_back(Utf8Encode(k.Text()));
  return out;
}

}  // namespace

TEST(JournalRemoval, FilesGoOnlyWhileTheyHoldWhatTheInstallWrote) {
  TFakeMachine m;
  const std::wstring a = L"C:\\Apps\\Demo\\a.exe", b = L"C:\\Apps\\Demo\\b.cfg", c = L"C:\\Apps\\Demo\\c.txt",
                     d = L"C:\\Apps\\Demo\\d.txt", e = L"C:\\Apps\\Demo\\e.txt", lnk = L"C:\\Users\\u\\Desktop\\Demo.lnk";
  const TJournalContents journal = TJournalText()
                                       .File(a, 10, 0xA)
                                       .File(b, 20, 0xB)
                                       .File(c, 30, 0xC)
                                       .File(d, 40, 0xD)
                                       .File(e, 50, 0xE)
                                       .File(e, 55, 0xF)  // written twice: the last state counts
                                       .File(lnk, 5, 0x5, TJournalRole::jrShortcut)
                                       .File(L"C:\\Apps\\Demo\\Uninstall.exe", 7, 7)
                                       .File(L"C:\\Apps\\Demo\\Uninstall.da1", 8, 8, TJournalRole::jrUninstallData)
                                       .Done();
  m.Files[a] = {10, 1010, 0xA};
  m.Files[b] = {21, 1020, 0xB};  // the user edited it: another size
  m.Files[c] = {30, 9999, 0xC};  // another time
  m.Files[d] = {40, 1040, 0x0};  // same size and time, other content
  m.Files[e] = {55, 1055, 0xF};
  m.Files[lnk] = {5, 1005, 0x5};
  const TRemovalPlan plan = MakeJournalRemovalPlan(journal, Context(), m, {});
  EXPECT_EQ(Texts(plan.Files), Texts({a, e}));
  EXPECT_EQ(Texts(plan.Programs), Texts({a}));
  EXPECT_EQ(Texts(plan.Shortcuts), Texts({lnk}));
  EXPECT_EQ(KeptTexts(plan), Texts({L"已保留修改过的文件：" + b, L"已保留修改过的文件：" + c, L"已保留修改过的文件：" + d}));
  EXPECT_EQ(Texts(plan.DataFiles), Texts({L"C:\\Apps\\Demo\\Uninstall.da1", L"C:\\Apps\\Demo\\Uninstall.da2",
                                          L"C:\\Apps\\Demo\\Uninstall.jnl"}));
}

TEST(JournalRemoval, OutsideTheRootsOrSharedStays) {
  TFakeMachine m;
  const std::wstring win = L"C:\\Windows\\system32\\x.dll", shared = L"C:\\Apps\\Demo\\shared.dll";
  const TJournalContents journal =
      TJournalText().File(win, 1, 1).File(shared, 2, 2).Value(1, L"Software\\Co", L"Shared", L"v").Done();
  m.Files[win] = {1, 1001, 1};
  m.Files[shared] = {2, 1002, 2};
  m.Values[L"1|Software\\Co|Shared"] = RegStringData(L"v");
  // Another product recorded the file and the value too.
  TJournalText other;
  other.File(L"c:\\apps\\DEMO\\shared.dll", 2, 2).Value(1, L"SOFTWARE\\co", L"shared", L"v");
  const TRemovalPlan plan = MakeJournalRemovalPlan(journal, Context(), m, {other.Done()});
  EXPECT_TRUE(plan.Files.empty());
  EXPECT_TRUE(plan.Values.empty());
  EXPECT_EQ(KeptTexts(plan), Texts({L"已跳过产品文件夹以外的项目：" + win, L"已保留其他产品共用的项目：" + shared,
                                    L"已保留其他产品共用的项目：HKEY_CURRENT_USER\\Software\\Co\\Shared"}));
}

TEST(JournalRemoval, ValuesKeysAndFolders) {
  TFakeMachine m;
  const std::wstring entries = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const TJournalContents journal = TJournalText()
                                       .Folder(L"C:\\Apps\\")
                                       .Folder(kApp)
                                       .Folder(L"C:\\Apps\\Demo\\sub\\")
                                       .Folder(L"C:\\Users\\u\\Desktop\\")  // recorded, but no product's
                                       .Folder(L"D:\\Elsewhere\\")          // outside the roots
                                       .Key(1, L"Software\\Co")
                                       .Key(1, L"Software\\Co\\Demo")
                                       .Value(1, L"Software\\Co\\Demo", L"Path", L"C:\\Apps\\Demo")
                                       .Value(1, L"Software\\Co\\Demo", L"Edited", L"old")
                                       .Value(1, L"Software\\Co\\Demo", L"Gone", L"x")
                                       .Value(2, entries + L"{OTHER}_lm", L"DisplayName", L"x")
                                       .Value(2, entries + std::wstring(kGuid) + L"_lm", L"DisplayName", L"Demo",
                                              TJournalRole::jrUninstallEntry)
                                       .Done();
  m.Values[L"1|Software\\Co\\Demo|Path"] = RegStringData(L"C:\\Apps\\Demo");
  m.Values[L"1|Software\\Co\\Demo|Edited"] = RegStringData(L"new");
  m.Values[L"2|" + entries + L"{OTHER}_lm|DisplayName"] = RegStringData(L"x");
  const TRemovalPlan plan = MakeJournalRemovalPlan(journal, Context(), m, {});
  ASSERT_EQ(plan.Values.size(), 1u);
  EXPECT_EQ(plan.Values[0].Name, L"Path");
  EXPECT_EQ(KeptTexts(plan),
            Texts({L"已保留修改过的项目：HKEY_CURRENT_USER\\Software\\Co\\Demo\\Edited",
                   L"已跳过产品文件夹以外的项目：HKEY_LOCAL_MACHINE\\" + entries + L"{OTHER}_lm\\DisplayName"}));
  ASSERT_EQ(plan.Keys.size(), 2u);
  EXPECT_EQ(plan.Keys[0].Key, L"Software\\Co\\Demo");  // deepest first
  EXPECT_EQ(Texts(plan.Folders), Texts({L"C:\\Apps\\Demo\\sub\\", kApp, L"C:\\Apps\\"}));
  EXPECT_EQ(plan.UninstallKey, entries + std::wstring(kGuid) + L"_lm");
}

TEST(JournalRemoval, OtherProductsEntriesAreRecognised) {
  const std::wstring root = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  const struct {
    std::wstring key;
    bool other;
  } cases[] = {
      {root + L"\\{X}_lm", true},
      {root + L"\\" + kGuid + L"_LM", false},
      {root + L"\\" + kGuid + L"_lm\\sub", false},
      {L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Foo", true},
      {root, false},
      {L"Software\\Co", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAnotherProductsEntry(c.key, kGuid), c.other) << Utf8Encode(c.key);
}

// An installation from before journals: its project decides, restricted.
TEST(ProjectRemoval, OnlyInsideTheInstallFolderAndTheShortcutFolders) {
  TSetupfn::SetAppPath(L"C:\\");  // installed into a drive's root
  TSetupfn::SetProductTitle(L"Demo");
  TSetupfn::SetDesktopPath(L"C:\\Users\\u\\Desktop\\");
  TSetupfn::SetProgramsPath(L"C:\\ProgramData\\Programs\\");
  TSetupScript script;
  script.BaseInfo()->GUID = kGuid;
  script.BaseInfo()->AppTitle = L"Demo";
  auto file = [&](const wchar_t* dir, const wchar_t* name) {
    TSetupFile* f = script.FileList()->AddNew();
    f->DestDir = dir;
    f->SourceMask = name;
  };
  file(L"{app}", L"a.exe");
  file(L"{app}\\docs", L"b.txt");
  file(L"{app}\\..\\x", L"c.txt");  // not a place this package can install to
  file(L"C:\\Windows", L"d.dll");
  TSetupShortCut* link = script.ShortCutList()->AddNew();
  link->SaveDir = L"{desktop}";
  link->Name = L"Demo";
  TSetupReg* reg = script.RegList()->AddNew();
  reg->RootKey = rrkCurrentUser;
  reg->SubKey = L"Software\\Co\\Demo";
  reg->ValueName = L"Kept";
  reg->ValueData = L"original";
  TFakeMachine m;
  m.Values[L"1|Software\\Co\\Demo|Kept"] = RegStringData(L"changed by the user");

  TRemovalContext context{L"C:\\", L"C:\\Uninstall.exe", kGuid};
  const TRemovalPlan plan = MakeProjectRemovalPlan(script, context, m);
  EXPECT_EQ(Texts(plan.Files), Texts({L"C:\\a.exe", L"C:\\docs\\b.txt"}));
  EXPECT_EQ(Texts(plan.Shortcuts), Texts({L"C:\\Users\\u\\Desktop\\Demo.lnk"}));
  // The desktop holding the shortcut and the drive's root are no product's.
  EXPECT_EQ(Texts(plan.Folders), Texts({L"C:\\docs\\"}));
  EXPECT_TRUE(plan.Values.empty());
  EXPECT_EQ(plan.Keys.size(), 1u);  // "Demo", named after the product, when empty
  EXPECT_EQ(KeptTexts(plan), Texts({L"已跳过产品文件夹以外的项目：{app}\\..\\x\\c.txt",
                                    L"已跳过产品文件夹以外的项目：C:\\Windows\\d.dll",
                                    L"已保留修改过的项目：HKEY_CURRENT_USER\\Software\\Co\\Demo\\Kept"}));
  TSetupfn::SetAppPath(L"");
}
