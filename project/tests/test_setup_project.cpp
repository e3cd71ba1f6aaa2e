// The setup project model: stored layout, defaults, variables, loading rules,
// version numbers and the save/load round trip.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "NvSysUtils.h"
#include "SetupProject.h"

namespace {

// One start tag of a saved document, as written: name, attributes in order,
// and the tags nested in it.
struct TTag {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Attrs;
  std::vector<TTag> Children;

  std::vector<std::string> AttrNames() const {
    std::vector<std::string> names;
    for (const auto& a : Attrs) names.push_back(a.first);
    return names;
  }
  std::vector<std::string> ChildNames() const {
    std::vector<std::string> names;
    for (const auto& c : Children) names.push_back(c.Name);
    return names;
  }
  std::string Attr(const std::string& name) const {
    for (const auto& a : Attrs)
      if (a.first == name) return a.second;
    ADD_FAILURE() << "no attribute " << name << " on " << Name;
    return {};
  }
  const TTag& Child(const std::string& name) const {
    for (const auto& c : Children)
      if (c.Name == name) return c;
    ADD_FAILURE() << "no child " << name << " in " << Name;
    static const TTag none;
    return none;
  }
};

// Reads the element structure of the XML text the model writes (no comments,
// CDATA or DTD; values are kept with their entity references undone for the
// five predefined entities).
class TTagReader {
public:
  explicit TTagReader(const std::string& text) : S(text) {}

  TTag Root() {
    std::vector<TTag> top = ReadContent("");
    EXPECT_EQ(top.size(), 1u) << "one root element";
    return top.empty() ? TTag{} : top.front();
  }

private:
  const std::string& S;
  size_t P = 0;

  static std::string Unescape(const std::string& v) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    std::string out;
    for (size_t i = 0; i < v.size();) {
      bool done = false;
      for (const auto& [from, to] : entities) {
        if (v.compare(i, std::char_traits<char>::length(from), from) == 0) {
          out += to;
          i += std::char_traits<char>::length(from);
          done = true;
          break;
        }
      }
      if (!done) out += v[i++];
    }
    return out;
  }

  void SkipSpace() {
    while (P < S.size() && static_cast<unsigned char>(S[P]) <= ' ') ++P;
  }

  std::string ReadName() {
    size_t start = P;
    while (P < S.size() && !std::isspace(static_cast<unsigned char>(S[P])) && S[P] != '=' && S[P] != '>' &&
           S[P] != '/')
      ++P;
    return S.substr(start, P - start);
  }

  std::vector<TTag> ReadContent(const std::string& closing) {
    std::vector<TTag> tags;
    while (true) {
      size_t lt = S.find('<', P);
      if (lt == std::string::npos) {
        EXPECT_TRUE(closing.empty()) << "unclosed " << closing;
        P = S.size();
        return tags;
      }
      P = lt + 1;
      if (S.compare(P, 1, "?") == 0) {
        P = S.find("?>", P) + 2;
        continue;
      }
      if (S.compare(P, 1, "/") == 0) {
        ++P;
        std::string name = ReadName();
        EXPECT_EQ(name, closing);
        P = S.find('>', P) + 1;
        return tags;
      }
      TTag tag;
      tag.Name = ReadName();
      bool selfClosing = false;
      while (true) {
        SkipSpace();
        if (S.compare(P, 2, "/>") == 0) {
          P += 2;
          selfClosing = true;
          break;
        }
        if (S.compare(P, 1, ">") == 0) {
          ++P;
          break;
        }
        std::string attr = ReadName();
        SkipSpace();
        EXPECT_EQ(S[P], '=');
        ++P;
        SkipSpace();
        char quote = S[P++];
        size_t end = S.find(quote, P);
        tag.Attrs.emplace_back(attr, Unescape(S.substr(P, end - P)));
        P = end + 1;
      }
      if (!selfClosing) tag.Children = ReadContent(tag.Name);
      tags.push_back(std::move(tag));
    }
  }
};

TTag SavedTree(const TXmlPersistent& object) {
  TMemoryStream stream;
  object.SaveToStream(stream, 0);
  return TTagReader(stream.Bytes()).Root();
}

void LoadText(TXmlPersistent& object, const std::string& xml) {
  TMemoryStream stream(xml);
  object.LoadFromStream(stream, 0);
}

bool IsRegistryGuid(const std::wstring& text) {
  static const std::wregex form(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  return std::regex_match(text, form);
}

struct TVersion {
  int32_t Major, Minor, Release, Build;
  bool operator==(const TVersion&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TVersion& v) {
  return os << v.Major << ", " << v.Minor << ", " << v.Release << ", " << v.Build;
}

TVersion VersionOf(const std::wstring& version) {
  TSetupBaseInfo info;
  info.Version = version;
  TVersion v{-1, -1, -1, -1};
  info.GetVersionNumbers(v.Major, v.Minor, v.Release, v.Build);
  return v;
}

const std::vector<std::wstring> kDefaultVarNames = {
    L"{AppTitle}", L"{Version}",     L"{MainExeName}", L"{GUID}",          L"{AppID}",
    L"{Copyright}", L"{CompanyName}", L"{CompanyUrl}", L"{DefaultFolder}", L"{Condition}"};

}  // namespace

// ---- stored layout of a new project -------------------------------------------------

TEST(SetupScriptLayout, NewScriptWritesSevenChildElementsInOrder) {
  TSetupScript script;
  TTag root = SavedTree(script);
  EXPECT_EQ(root.Name, "TSetupScript");
  EXPECT_TRUE(root.Attrs.empty());
  EXPECT_EQ(root.ChildNames(), (std::vector<std::string>{"BaseInfo", "FileList", "RegList", "RunList",
                                                          "ShortCutList", "SwiperList", "VarList"}));
  for (const char* list : {"FileList", "RegList", "RunList", "ShortCutList", "SwiperList"}) {
    const TTag& element = root.Child(list);
    EXPECT_TRUE(element.Attrs.empty()) << list;
    ASSERT_EQ(element.ChildNames(), std::vector<std::string>{"Items"}) << list;
    EXPECT_TRUE(element.Children[0].Children.empty()) << list;
  }
}

TEST(SetupScriptLayout, NewScriptWritesTenDefaultVariables) {
  TSetupScript script;
  TTag root = SavedTree(script);
  const TTag& varList = root.Child("VarList");
  ASSERT_EQ(varList.ChildNames(), std::vector<std::string>{"Items"});
  const TTag& items = varList.Children[0];
  ASSERT_EQ(items.Children.size(), 10u);
  const std::vector<std::string> values = {"AppTitle", "1.0.0.0", "MyApp", "", "10033", "", "", "", "", ""};
  for (size_t i = 0; i < items.Children.size(); ++i) {
    const TTag& var = items.Children[i];
    EXPECT_EQ(var.Name, "TSetupVar");
    EXPECT_EQ(var.AttrNames(), (std::vector<std::string>{"Checked", "VarName", "VarValue"}));
    EXPECT_EQ(var.Attr("Checked"), "True");
    EXPECT_EQ(AsciiToWide(var.Attr("VarName")), kDefaultVarNames[i]);
    if (i != 3) {
      EXPECT_EQ(var.Attr("VarValue"), values[i]) << i;
    }
  }
  EXPECT_TRUE(IsRegistryGuid(AsciiToWide(items.Children[3].Attr("VarValue"))));
}

TEST(SetupScriptLayout, BaseInfoWritesItsAttributesInTableOrder) {
  TSetupScript script;
  script.BaseInfo()->GotoUrlMode = gumByBrowser;
  TTag info = SavedTree(script).Child("BaseInfo");
  EXPECT_EQ(info.AttrNames(),
            (std::vector<std::string>{"AllowModify", "AppTitle", "CompanyName", "CompanyUrl", "Condition",
                                      "DefInstallPath", "FullDownloadUrl", "FullSetupFile", "GotoUrl",
                                      "GotoUrlMode", "GUID", "IconFile", "IconResID", "InstallFileDescription",
                                      "LegalCopyright", "LicenseFile", "LicenseResID", "MiniSetupFile",
                                      "ProductName", "UninstallFileDescription", "Version"}));
  EXPECT_TRUE(info.Children.empty());
  EXPECT_EQ(info.Attr("AllowModify"), "False");
  EXPECT_EQ(info.Attr("GotoUrlMode"), "gumByBrowser");
  EXPECT_EQ(AsciiToWide(info.Attr("GUID")), script.BaseInfo()->GUID);
}

TEST(SetupScriptLayout, ItemsWriteInheritedAttributesFirst) {
  TSetupScript script;
  script.FileList()->AddNew();
  script.RegList()->AddNew();
  script.RunList()->AddNew();
  script.ShortCutList()->AddNew();
  script.SwiperList()->AddNew();
  TTag root = SavedTree(script);

  auto only = [&](const char* list, const char* itemClass) -> TTag {
    const TTag& items = root.Child(list).Child("Items");
    EXPECT_EQ(items.ChildNames(), std::vector<std::string>{itemClass});
    return items.Children.empty() ? TTag{} : items.Children[0];
  };
  TTag file = only("FileList", "TSetupFile");
  EXPECT_EQ(file.AttrNames(), (std::vector<std::string>{"Checked", "Condition", "DestDir", "FileBytes",
                                                         "IncludeSubPath", "LastWriteDate", "ResID",
                                                         "SourceMask", "SourcePath"}));
  EXPECT_EQ(file.Attr("Checked"), "True");
  EXPECT_EQ(file.Attr("FileBytes"), "0");
  EXPECT_EQ(file.Attr("IncludeSubPath"), "False");
  EXPECT_EQ(file.Attr("LastWriteDate"), "0");

  TTag reg = only("RegList", "TSetupReg");
  EXPECT_EQ(reg.AttrNames(), (std::vector<std::string>{"Checked", "Condition", "RootKey", "SubKey", "ValueData",
                                                        "ValueName", "ValueType"}));
  EXPECT_EQ(reg.Attr("RootKey"), "rrkClassesRoot");
  EXPECT_EQ(reg.Attr("ValueType"), "rvtString");

  EXPECT_EQ(only("RunList", "TSetupRun").AttrNames(),
            (std::vector<std::string>{"Checked", "Condition", "FileName", "Params", "Wait", "WorkDir"}));
  EXPECT_EQ(only("RunList", "TSetupRun").Attr("Wait"), "False");
  EXPECT_EQ(only("ShortCutList", "TSetupShortCut").AttrNames(),
            (std::vector<std::string>{"Checked", "Condition", "DstFile", "IconFile", "Name", "SaveDir", "WorkDir"}));
  EXPECT_EQ(only("SwiperList", "TSetupSwiper").AttrNames(),
            (std::vector<std::string>{"Checked", "Condition", "FileName", "ResID"}));
}

// ---- defaults ------------------------------------------------------------------------

TEST(SetupScriptDefaults, EachProjectGetsItsOwnGuids) {
  TSetupScript a, b;
  EXPECT_TRUE(IsRegistryGuid(a.BaseInfo()->GUID)) << Utf8Encode(a.BaseInfo()->GUID);
  EXPECT_NE(a.BaseInfo()->GUID, b.BaseInfo()->GUID);
  const TSetupVar* guidVar = a.VarList()->FindVar(L"{GUID}");
  ASSERT_NE(guidVar, nullptr);
  EXPECT_TRUE(IsRegistryGuid(guidVar->VarValue));
  EXPECT_NE(guidVar->VarValue, a.BaseInfo()->GUID);
  EXPECT_NE(guidVar->VarValue, b.VarList()->FindVar(L"{GUID}")->VarValue);
}

TEST(SetupScriptDefaults, NewScriptHasEmptyItemListsAndTenCheckedVariables) {
  TSetupScript script;
  EXPECT_EQ(script.FileList()->Count(), 0);
  EXPECT_EQ(script.RegList()->Count(), 0);
  EXPECT_EQ(script.RunList()->Count(), 0);
  EXPECT_EQ(script.ShortCutList()->Count(), 0);
  EXPECT_EQ(script.SwiperList()->Count(), 0);
  ASSERT_EQ(script.VarList()->Count(), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(script.VarList()->Items(i)->VarName, kDefaultVarNames[i]);
    EXPECT_TRUE(script.VarList()->Items(i)->Checked);
  }
  EXPECT_EQ(script.VarList()->Items(-1)->VarName, L"{Condition}");
  EXPECT_EQ(script.BaseInfo()->GotoUrlMode, gumSilent);
  EXPECT_FALSE(script.BaseInfo()->AllowModify);
}

TEST(SetupScriptDefaults, AddDefaultVarsResetsValuesWithoutDuplicating) {
  TSetupVarList list;
  list.FindVar(L"{Version}")->VarValue = L"9.9";
  list.EnsureVar(L"{Extra}");
  list.AddDefaultVars();
  EXPECT_EQ(list.Count(), 11);
  EXPECT_EQ(list.FindVar(L"{Version}")->VarValue, L"1.0.0.0");
  EXPECT_EQ(list.Items(-1)->VarName, L"{Extra}");
}

// ---- variables ---------------------------------------------------------------------------

TEST(SetupVariables, DefaultListExpandsIgnoringCase) {
  TSetupVarList list;
  EXPECT_EQ(list.ExpandVars(L"{appTITLE} {Version}"), L"AppTitle 1.0.0.0");
  EXPECT_EQ(list.ExpandVars(L"{AppID}-{appid}-{APPID}"), L"10033-10033-10033");
}

TEST(SetupVariables, LaterVariableExpandsInsideEarlierValueOnly) {
  TSetupVarList list;
  list.Clear();
  TSetupVar* a = list.EnsureVar(L"{a}");
  a->VarValue = L"x{b}";
  list.EnsureVar(L"{b}")->VarValue = L"y";
  EXPECT_EQ(list.ExpandVars(L"{a}"), L"xy");

  TSetupVarList reversed;
  reversed.Clear();
  reversed.EnsureVar(L"{b}")->VarValue = L"y";
  reversed.EnsureVar(L"{a}")->VarValue = L"x{b}";
  EXPECT_EQ(reversed.ExpandVars(L"{a}"), L"x{b}");
}

TEST(SetupVariables, UncheckedAndUnknownPlaceholdersStay) {
  TSetupVarList list;
  list.FindVar(L"{AppTitle}")->Checked = false;
  EXPECT_EQ(list.ExpandVars(L"{AppTitle} {Nope} {Version}"), L"{AppTitle} {Nope} 1.0.0.0");
}

TEST(SetupVariables, ExpandIsOneLeftToRightPassWithoutOverlap) {
  TSetupVar var;
  var.VarName = L"aa";
  var.VarValue = L"b";
  EXPECT_EQ(var.Expand(L"aaa"), L"ba");
  EXPECT_EQ(var.Expand(L"AaAA"), L"bb");

  var.VarName = L"{x}";
  var.VarValue = L"{X}{x}";
  EXPECT_EQ(var.Expand(L"{x}-{x}"), L"{X}{x}-{X}{x}");

  var.VarName = L"";
  var.VarValue = L"boom";
  EXPECT_EQ(var.Expand(L"abc"), L"abc");
  EXPECT_EQ(var.Expand(L""), L"");

  var.VarName = L"{产品}";
  var.VarValue = L"安装程序";
  EXPECT_EQ(var.Expand(L"欢迎使用{产品}！"), L"欢迎使用安装程序！");
  var.Checked = false;
  EXPECT_EQ(var.Expand(L"欢迎使用{产品}！"), L"欢迎使用{产品}！");
}

TEST(SetupVariables, EnsureVarFindsExistingIgnoringCase) {
  TSetupVarList list;
  TSetupVar* existing = list.FindVar(L"{Version}");
  EXPECT_EQ(list.EnsureVar(L"{version}"), existing);
  EXPECT_EQ(list.Count(), 10);
  EXPECT_EQ(list.IndexOfVar(L"{VERSION}"), 1);
  EXPECT_EQ(list.IndexOfVar(L"{Version"), -1);
  EXPECT_EQ(list.FindVar(L"{Missing}"), nullptr);
}

TEST(SetupVariables, EnsureVarAppendsCheckedEmptyVariable) {
  TSetupVarList list;
  TSetupVar* added = list.EnsureVar(L"{New}");
  ASSERT_EQ(list.Count(), 11);
  EXPECT_EQ(list.Items(-1), added);
  EXPECT_EQ(added->VarName, L"{New}");
  EXPECT_TRUE(added->Checked);
  EXPECT_EQ(added->VarValue, L"");
  EXPECT_EQ(list.EnsureVar(L"{NEW}"), added);
  EXPECT_EQ(list.Count(), 11);
}

TEST(SetupVariables, IndexOfVarReturnsFirstOfDuplicates) {
  TSetupVarList list;
  list.Clear();
  list.AddNew()->VarName = L"{D}";
  list.AddNew()->VarName = L"{d}";
  EXPECT_EQ(list.IndexOfVar(L"{d}"), 0);
}

TEST(SetupVariables, ItemsExpandTheirTextFields) {
  TSetupVarList list;
  list.Clear();
  list.EnsureVar(L"{v}")->VarValue = L"V";
  const std::wstring t = L"<{v}>";
  const std::wstring e = L"<V>";

  TSetupFile file;
  file.Condition = file.DestDir = file.SourceMask = file.SourcePath = file.ResID = t;
  static_cast<TBaseSetupItem&>(file).ExpandVars(list);
  EXPECT_EQ(file.Condition, e);
  EXPECT_EQ(file.DestDir, e);
  EXPECT_EQ(file.SourceMask, e);
  EXPECT_EQ(file.SourcePath, e);
  EXPECT_EQ(file.ResID, t);

  TSetupReg reg;
  reg.Condition = reg.SubKey = reg.ValueData = reg.ValueName = t;
  static_cast<TBaseSetupItem&>(reg).ExpandVars(list);
  EXPECT_EQ(reg.Condition, e);
  EXPECT_EQ(reg.SubKey, e);
  EXPECT_EQ(reg.ValueData, e);
  EXPECT_EQ(reg.ValueName, e);

  TSetupRun run;
  run.Condition = run.Params = run.FileName = run.WorkDir = t;
  static_cast<TBaseSetupItem&>(run).ExpandVars(list);
  EXPECT_EQ(run.Condition, e);
  EXPECT_EQ(run.Params, e);
  EXPECT_EQ(run.FileName, e);
  EXPECT_EQ(run.WorkDir, e);

  TSetupShortCut link;
  link.Condition = link.DstFile = link.IconFile = link.Name = link.SaveDir = link.WorkDir = t;
  static_cast<TBaseSetupItem&>(link).ExpandVars(list);
  EXPECT_EQ(link.Condition, e);
  EXPECT_EQ(link.DstFile, e);
  EXPECT_EQ(link.IconFile, e);
  EXPECT_EQ(link.Name, e);
  EXPECT_EQ(link.SaveDir, e);
  EXPECT_EQ(link.WorkDir, e);

  TSetupSwiper swiper;
  swiper.Condition = swiper.FileName = swiper.ResID = t;
  static_cast<TBaseSetupItem&>(swiper).ExpandVars(list);
  EXPECT_EQ(swiper.Condition, e);
  EXPECT_EQ(swiper.FileName, e);
  EXPECT_EQ(swiper.ResID, t);
}

// ---- loading -------------------------------------------------------------------------------

TEST(SetupScriptLoading, AbsentVarListKeepsDefaultsAndAbsentGuidKeepsGenerated) {
  TSetupScript script;
  const std::wstring guid = script.BaseInfo()->GUID;
  LoadText(script, R"(<?xml version="1.0" encoding="UTF-8"?>
<TSetupScript><BaseInfo AppTitle="Demo"/></TSetupScript>)");
  EXPECT_EQ(script.BaseInfo()->AppTitle, L"Demo");
  EXPECT_EQ(script.BaseInfo()->GUID, guid);
  ASSERT_EQ(script.VarList()->Count(), 10);
  EXPECT_EQ(script.VarList()->Items(0)->VarName, L"{AppTitle}");
}

TEST(SetupScriptLoading, StoredGuidReplacesGenerated) {
  TSetupScript script;
  LoadText(script, R"(<TSetupScript><BaseInfo GUID="{11111111-2222-3333-4444-555555555555}"/></TSetupScript>)");
  EXPECT_EQ(script.BaseInfo()->GUID, L"{11111111-2222-3333-4444-555555555555}");
}

TEST(SetupScriptLoading, EmptyVarListClearsDefaults) {
  TSetupScript script;
  LoadText(script, "<TSetupScript><VarList><Items/></VarList></TSetupScript>");
  EXPECT_EQ(script.VarList()->Count(), 0);
  EXPECT_EQ(script.VarList()->ExpandVars(L"{AppTitle}"), L"{AppTitle}");
}

TEST(SetupScriptLoading, StoredVarListReplacesDefaults) {
  TSetupScript script;
  LoadText(script, R"(<TSetupScript><VarList><Items>
  <TSetupVar Checked="False" VarName="{Version}" VarValue="2.0"/>
  <TSetupVar VarName="{Own}" VarValue="mine"/>
</Items></VarList></TSetupScript>)");
  ASSERT_EQ(script.VarList()->Count(), 2);
  EXPECT_FALSE(script.VarList()->Items(0)->Checked);
  EXPECT_TRUE(script.VarList()->Items(1)->Checked);
  EXPECT_EQ(script.VarList()->ExpandVars(L"{Version} {own} {AppTitle}"), L"{Version} mine {AppTitle}");
}

TEST(SetupScriptLoading, ItemListsAreClearedThenFilled) {
  TSetupScript script;
  for (int i = 0; i < 3; ++i) script.FileList()->AddNew()->ResID = L"old";
  script.RegList()->AddNew();
  script.RunList()->AddNew();
  LoadText(script, R"(<TSetupScript>
  <FileList><Items><TSetupFile ResID="new" FileBytes="12"/></Items></FileList>
  <RegList><Items/></RegList>
</TSetupScript>)");
  ASSERT_EQ(script.FileList()->Count(), 1);
  EXPECT_EQ(script.FileList()->Items(0)->ResID, L"new");
  EXPECT_EQ(script.FileList()->Items(0)->FileBytes, 12);
  EXPECT_EQ(script.RegList()->Count(), 0);
  EXPECT_EQ(script.RunList()->Count(), 1);  // no RunList element: untouched
}

TEST(SetupScriptLoading, ItemsUnderElementsOfAnyNameBecomeTheListsItemClass) {
  TSetupScript script;
  LoadText(script, R"(<TSetupScript>
  <FileList><Items><Whatever SourceMask="a.exe"/><TSetupReg SourceMask="b.dll"/></Items></FileList>
  <ShortCutList><Items><x Name="Demo"/></Items></ShortCutList>
</TSetupScript>)");
  ASSERT_EQ(script.FileList()->Count(), 2);
  EXPECT_EQ(script.FileList()->Items(0)->ClassName(), "TSetupFile");
  EXPECT_EQ(script.FileList()->Items(0)->SourceMask, L"a.exe");
  EXPECT_EQ(script.FileList()->Items(1)->ClassName(), "TSetupFile");
  EXPECT_EQ(script.FileList()->Items(1)->SourceMask, L"b.dll");
  ASSERT_EQ(script.ShortCutList()->Count(), 1);
  EXPECT_EQ(script.ShortCutList()->Items(0)->Name, L"Demo");
}

TEST(SetupScriptLoading, EnumerationsLoadByName) {
  TSetupScript script;
  LoadText(script, R"(<TSetupScript><BaseInfo GotoUrlMode="GUMBYBROWSER"/><RegList><Items>
  <TSetupReg RootKey="rrkLocalMachine" ValueType="rvtDWord"/>
  <TSetupReg RootKey="rrkCurrentConfig" ValueType="nonsense"/>
</Items></RegList></TSetupScript>)");
  EXPECT_EQ(script.BaseInfo()->GotoUrlMode, gumByBrowser);
  ASSERT_EQ(script.RegList()->Count(), 2);
  EXPECT_EQ(script.RegList()->Items(0)->RootKey, rrkLocalMachine);
  EXPECT_EQ(script.RegList()->Items(0)->ValueType, rvtDWord);
  EXPECT_EQ(script.RegList()->Items(1)->RootKey, rrkCurrentConfig);
  EXPECT_EQ(script.RegList()->Items(1)->ValueType, rvtString);
}

// ---- version numbers -----------------------------------------------------------------------

TEST(SetupVersionNumbers, GivenCases) {
  EXPECT_EQ(VersionOf(L"1.2.3.4"), (TVersion{1, 2, 3, 4}));
  EXPECT_EQ(VersionOf(L"2.5"), (TVersion{2, 5, 0, 0}));
  EXPECT_EQ(VersionOf(L""), (TVersion{0, 0, 0, 0}));
  EXPECT_EQ(VersionOf(L"3.x.1"), (TVersion{3, 0, 0, 0}));
  EXPECT_EQ(VersionOf(L"1.2b.3"), (TVersion{1, 2, 0, 0}));
}

TEST(SetupVersionNumbers, DelimitedTextRules) {
  EXPECT_EQ(VersionOf(L"1.2.3.4.5"), (TVersion{1, 2, 3, 4}));   // parts after the fourth ignored
  EXPECT_EQ(VersionOf(L"10.20.30.40.x"), (TVersion{10, 20, 30, 40}));
  EXPECT_EQ(VersionOf(L"1..3.4"), (TVersion{1, 0, 0, 0}));      // empty part stops
  EXPECT_EQ(VersionOf(L"  7 "), (TVersion{7, 0, 0, 0}));        // blanks around skipped
  EXPECT_EQ(VersionOf(L"1 2.3"), (TVersion{1, 2, 3, 0}));       // a blank ends a part
  EXPECT_EQ(VersionOf(L"1 . 2"), (TVersion{1, 2, 0, 0}));
  EXPECT_EQ(VersionOf(L"\"4\".\"5\""), (TVersion{4, 5, 0, 0}));  // quoted parts
  EXPECT_EQ(VersionOf(L"\"1.2\".3"), (TVersion{1, 0, 0, 0}));   // a quoted "." does not split
  EXPECT_EQ(VersionOf(L"1.\t2"), (TVersion{1, 2, 0, 0}));
  EXPECT_EQ(VersionOf(L"v1.2"), (TVersion{0, 0, 0, 0}));
  EXPECT_EQ(VersionOf(L"5.99999999999.1"), (TVersion{5, 0, 0, 0}));  // does not fit: stops
  EXPECT_EQ(VersionOf(L"2147483647.1"), (TVersion{2147483647, 1, 0, 0}));
}

// ---- round trip ----------------------------------------------------------------------------

namespace {

void FillRealisticProject(TSetupScript& script) {
  TSetupBaseInfo* info = script.BaseInfo();
  info->AllowModify = true;
  info->AppTitle = L"极速浏览器";
  info->CompanyName = L"示例软件有限公司";
  info->CompanyUrl = L"https://www.example.com/?a=1&b=<2>";
  info->Condition = L"\"quoted\" 'single'";
  info->DefInstallPath = L"{pf}\\极速浏览器";
  info->FullDownloadUrl = L"http://dl.example.com/full/setup.exe";
  info->FullSetupFile = L"D:\\build\\full.exe";
  info->GotoUrl = L"http://www.example.com/installed?x=1";
  info->GotoUrlMode = gumByBrowser;
  info->GUID = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  info->IconFile = L"D:\\art\\icon.png";
  info->IconResID = L"{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  info->InstallFileDescription = L"安装程序";
  info->LegalCopyright = L"版权所有 © 2026";
  info->LicenseFile = L"D:\\docs\\license.txt";
  info->LicenseResID = L"{12345678-1234-1234-1234-123456789ABC}";
  info->MiniSetupFile = L"D:\\build\\mini.exe";
  info->ProductName = L"极速浏览器 2026";
  info->UninstallFileDescription = L"卸载程序";
  info->Version = L"3.1.4.15";

  TSetupFile* exe = script.FileList()->AddNew();
  exe->DestDir = L"{app}";
  exe->FileBytes = 1234567;
  exe->LastWriteDate = 46000.5;
  exe->ResID = L"{00000000-0000-0000-0000-000000000001}";
  exe->SourceMask = L"浏览器.exe";
  exe->SourcePath = L"D:\\src\\";
  TSetupFile* empty = script.FileList()->AddNew();
  empty->Checked = false;
  empty->Condition = L"never";
  empty->DestDir = L"{app}\\data";
  empty->IncludeSubPath = true;
  empty->SourceMask = L"sub\\空文件.txt";

  TSetupReg* reg = script.RegList()->AddNew();
  reg->RootKey = rrkLocalMachine;
  reg->SubKey = L"Software\\示例\\浏览器";
  reg->ValueName = L"InstallPath";
  reg->ValueData = L"{app}";
  TSetupReg* dword = script.RegList()->AddNew();
  dword->RootKey = rrkCurrentConfig;
  dword->SubKey = L"Software\\Example";
  dword->ValueName = L"Count";
  dword->ValueData = L"42";
  dword->ValueType = rvtDWord;

  TSetupShortCut* link = script.ShortCutList()->AddNew();
  link->DstFile = L"{app}\\浏览器.exe";
  link->IconFile = L"{app}\\浏览器.exe";
  link->Name = L"极速浏览器";
  link->SaveDir = L"{desktop}";
  link->WorkDir = L"{app}";

  TSetupRun* run = script.RunList()->AddNew();
  run->FileName = L"{app}\\浏览器.exe";
  run->Params = L"--first-run \"x y\"";
  run->Wait = true;
  run->WorkDir = L"{app}";

  TSetupSwiper* swiper = script.SwiperList()->AddNew();
  swiper->FileName = L"欢迎.png";
  swiper->ResID = L"{00000000-0000-0000-0000-000000000002}";

  script.VarList()->FindVar(L"{AppTitle}")->VarValue = L"极速浏览器";
  script.VarList()->FindVar(L"{Copyright}")->Checked = false;
  script.VarList()->EnsureVar(L"{渠道}")->VarValue = L"官方 & <合作>";
}

void ExpectSameProject(const TSetupScript& a, const TSetupScript& b) {
  EXPECT_TRUE(a.IsEqual(&b));
  EXPECT_TRUE(a.BaseInfo()->IsEqual(b.BaseInfo()));
  EXPECT_TRUE(a.FileList()->ItemsEqual(b.FileList()));
  EXPECT_TRUE(a.RegList()->ItemsEqual(b.RegList()));
  EXPECT_TRUE(a.RunList()->ItemsEqual(b.RunList()));
  EXPECT_TRUE(a.ShortCutList()->ItemsEqual(b.ShortCutList()));
  EXPECT_TRUE(a.SwiperList()->ItemsEqual(b.SwiperList()));
  EXPECT_TRUE(a.VarList()->ItemsEqual(b.VarList()));
}

}  // namespace

TEST(SetupScriptRoundTrip, SaveThenLoadGivesAnEqualProject) {
  TSetupScript original;
  FillRealisticProject(original);
  TMemoryStream stream;
  original.SaveToStream(stream, 0);

  TSetupScript loaded;
  stream.Rewind();
  loaded.LoadFromStream(stream, 0);
  ExpectSameProject(original, loaded);
  EXPECT_EQ(loaded.BaseInfo()->AppTitle, L"极速浏览器");
  EXPECT_EQ(loaded.BaseInfo()->GUID, L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  ASSERT_EQ(loaded.FileList()->Count(), 2);
  EXPECT_EQ(loaded.FileList()->Items(0)->LastWriteDate, 46000.5);
  EXPECT_EQ(loaded.FileList()->Items(-1)->SourceMask, L"sub\\空文件.txt");
  EXPECT_EQ(loaded.RegList()->Items(1)->ValueType, rvtDWord);
  EXPECT_EQ(loaded.VarList()->Count(), 11);
  EXPECT_EQ(loaded.VarList()->ExpandVars(L"{渠道}"), L"官方 & <合作>");

  // The saved text of the loaded project is the same text again.
  TMemoryStream again;
  loaded.SaveToStream(again, 0);
  EXPECT_EQ(again.Bytes(), stream.Bytes());
}

TEST(SetupScriptRoundTrip, ADifferenceInAnyItemIsSeen) {
  TSetupScript original;
  FillRealisticProject(original);
  TSetupScript loaded;
  LoadText(loaded, original.SaveToXmlText());
  loaded.ShortCutList()->Items(0)->WorkDir = L"{app}\\bin";
  EXPECT_FALSE(original.ShortCutList()->ItemsEqual(loaded.ShortCutList()));
  loaded.BaseInfo()->Version = L"3.1.4.16";
  EXPECT_FALSE(original.IsEqual(&loaded));
}

TEST(SetupScriptRoundTrip, CloneIsDeepAndEqual) {
  TSetupScript original;
  FillRealisticProject(original);
  std::unique_ptr<TXmlPersistent> copy = original.Clone();
  ASSERT_EQ(copy->ClassName(), "TSetupScript");
  auto* script = static_cast<TSetupScript*>(copy.get());
  ExpectSameProject(original, *script);
  EXPECT_NE(script->FileList()->Items(0), original.FileList()->Items(0));
  script->FileList()->Items(0)->DestDir = L"elsewhere";
  EXPECT_EQ(original.FileList()->Items(0)->DestDir, L"{app}");
  EXPECT_EQ(script->VarList()->Count(), 11);
}
