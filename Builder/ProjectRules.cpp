#include "ProjectRules.h"

#include <cwctype>
#include <set>

#include "BuilderText.h"
#include "InstallLocation.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "ProjectSchema.h"

namespace nvbuilder {

// ---- places ------------------------------------------------------------------------

TProjectPlaces TProjectPlaces::Of(const TXmlNode& root) {
  TProjectPlaces p;
  p.Root = &root;
  p.BaseInfo = root.FindChild(std::wstring(L"BaseInfo"));
  auto list = [&](const wchar_t* name, std::vector<const TXmlNode*>& out) {
    if (const TXmlNode* node = root.FindChild(std::wstring(name)))
      for (TXmlNode* item : ListItemNodes(*node)) out.push_back(item);
  };
  list(L"FileList", p.Files);
  list(L"RegList", p.Regs);
  list(L"RunList", p.Runs);
  list(L"ShortCutList", p.Shortcuts);
  list(L"SwiperList", p.Swipers);
  list(L"VarList", p.Vars);
  return p;
}

std::size_t TProjectPlaces::At(const TXmlNode* node, const char* attribute) {
  if (!node) return std::string::npos;
  if (attribute)
    if (const TXmlAttribute* a = node->FindAttribute(std::string(attribute))) return a->Offset;
  return node->Offset;
}

const TXmlNode* TProjectPlaces::Item(const std::vector<const TXmlNode*>& list, int i) {
  return i >= 0 && static_cast<std::size_t>(i) < list.size() ? list[static_cast<std::size_t>(i)] : nullptr;
}

// ---- value forms -------------------------------------------------------------------

bool IsHttpAddress(const std::wstring& text) {
  const std::wstring lower = LowerCase(text);
  std::size_t start = 0;
  if (lower.rfind(L"http://", 0) == 0) start = 7;
  else if (lower.rfind(L"https://", 0) == 0) start = 8;
  else return false;
  const std::size_t end = text.find_first_of(L"/?#", start);
  const std::wstring host = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  if (host.empty() || host[0] == L':' || host[0] == L'@') return false;
  for (wchar_t c : text)
    if (c <= 32) return false;
  return true;
}

namespace {

std::string Q(const std::wstring& s) { return "\"" + ToUtf8(s) + "\""; }

std::string ConstantList() {
  std::string s;
  for (const std::wstring& c : LocationConstants()) s += (s.empty() ? "" : ", ") + ToUtf8(c);
  return s;
}

bool IsNameChar(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_'; }

// The "{Name}" placeholders of text (names of letters, digits and "_",
// starting with a letter or "_") that are not path constants.
std::vector<std::wstring> Placeholders(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (std::size_t open = text.find(L'{'); open != std::wstring::npos; open = text.find(L'{', open + 1)) {
    std::size_t close = open + 1;
    while (close < text.size() && IsNameChar(text[close])) ++close;
    if (close == open + 1 || close >= text.size() || text[close] != L'}' || std::iswdigit(static_cast<wint_t>(text[open + 1])))
      continue;
    const std::wstring name = text.substr(open, close - open + 1);
    if (!IsPathConstant(name)) found.push_back(name);
  }
  return found;
}

class TRules {
public:
  TRules(const TSetupScript& script, const TProjectPlaces& places, TProblemList& problems)
      : FScript(script), FPlaces(places), FProblems(problems) {}

  void Run() {
    Placeholders();
    BaseInfo();
    Files();
    Registry();
    Shortcuts();
    RunEntries();
    Rest();
  }

private:
  // ---- placeholders left by the variables --------------------------------------------

  void Placeholders() {
    CheckObject(*FScript.BaseInfo(), FPlaces.BaseInfo, "BaseInfo");
    auto list = [&](const auto* items, const std::vector<const TXmlNode*>& places) {
      for (int i = 0; i < items->Count(); ++i)
        CheckObject(*items->Items(i), TProjectPlaces::Item(places, i), ItemLabel(items->Items(i)->ClassName(), i));
    };
    list(FScript.FileList(), FPlaces.Files);
    list(FScript.RegList(), FPlaces.Regs);
    list(FScript.RunList(), FPlaces.Runs);
    list(FScript.ShortCutList(), FPlaces.Shortcuts);
    list(FScript.SwiperList(), FPlaces.Swipers);
  }

  void CheckObject(const TPersistent& object, const TXmlNode* node, const std::string& what) {
    static const std::set<std::string> skipped = {"ResID", "IconResID", "LicenseResID", "GUID"};
    for (const TPropInfo& p : object.Props()) {
      if (p.Kind != TTypeKind::tkWString || !p.Get || skipped.count(p.Name)) continue;
      for (const std::wstring& name : nvbuilder::Placeholders(p.Get(object).Text)) {
        FUnresolved.insert({node, p.Name});
        FProblems.Error(TProjectPlaces::At(node, p.Name.c_str()), what + ": " + p.Name + ": " + ToUtf8(name) + " " + WhyLeft(name));
      }
    }
  }

  // Why a placeholder was left in the text.
  std::string WhyLeft(const std::wstring& name) const {
    const TSetupVarList& vars = *FScript.VarList();
    const int index = vars.IndexOfVar(name);
    if (index >= 0) {
      if (!vars.Items(index)->Checked) return "is a variable with Checked=\"False\", which is not applied";
      return "comes from a variable placed after " + ToUtf8(vars.Items(index)->VarName) +
             " in VarList (variables apply once, in list order)";
    }
    std::vector<std::string> names;
    for (int i = 0; i < vars.Count(); ++i) names.push_back(ToUtf8(vars.Items(i)->VarName));
    for (const std::wstring& c : LocationConstants()) names.push_back(ToUtf8(c));
    names.push_back("{srcexe}");
    const std::string nearest = DidYouMean(ToUtf8(name), names);
    return "is neither a variable of VarList nor a path constant" +
           (nearest.empty() ? " (the path constants are " + ConstantList() + ", {srcexe})" : nearest);
  }

  bool Unresolved(const TXmlNode* node, const char* property) const { return FUnresolved.count({node, property}) > 0; }

  // ---- locations ----------------------------------------------------------------------

  // Checks a location value; false when it has a problem (reported unless
  // the fault is in allowedFaults).
  bool Location(const std::wstring& value, const TXmlNode* node, const char* property, const std::string& what,
                bool relativeAllowed = false) {
    if (Unresolved(node, property)) return false;
    const TLocation loc = ParseLocation(value);
    if (loc.Fault == TLocationFault::lfNone) return true;
    if (relativeAllowed && loc.Fault == TLocationFault::lfRelative) return false;
    std::string message = what + ": " + property + ": " + ToUtf8(loc.Problem);
    if (loc.Fault == TLocationFault::lfEmpty)
      message = what + ": " + property + (node && node->FindAttribute(std::string(property)) ? " is empty" : " is missing") +
                ": it must be a folder constant and a path below it, such as {pf}\\Company\\Product, or an absolute path";
    if (loc.Fault == TLocationFault::lfUnknownConstant) {
      const std::wstring text = Trim(value);
      const std::string lead = ToUtf8(text.substr(0, text.find(L'}') + 1));
      std::vector<std::string> constants;
      for (const std::wstring& c : LocationConstants()) constants.push_back(ToUtf8(c));
      const std::string nearest = DidYouMean(lead, constants);
      message += nearest.empty() ? " (the folder constants are " + ConstantList() + ")" : nearest;
    }
    FProblems.Error(TProjectPlaces::At(node, property), message);
    return false;
  }

  void BaseInfo() {
    const TSetupBaseInfo& info = *FScript.BaseInfo();
    const TXmlNode* node = FPlaces.BaseInfo;
    const std::string what = "BaseInfo";
    if (Trim(info.AppTitle).empty())
      FProblems.Error(TProjectPlaces::At(node, "AppTitle"),
                      what + ": AppTitle is empty: it is the product's name in the window, the Start-menu group and the "
                             "list of installed programs");
    if (!node || !node->FindAttribute(std::string("GUID")))
      FProblems.Error(TProjectPlaces::At(node, nullptr),
                      what + ": GUID is missing: without one every build gives the product a new identity, and no "
                             "version can upgrade or find another (write GUID=\"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\"; "
                             "\"setup-builder new\" makes one)");
    else if (!TNvStrfn::IsGuidString(Trim(info.GUID)))
      FProblems.Error(TProjectPlaces::At(node, "GUID"),
                      what + ": GUID: " + Q(info.GUID) +
                          " is not a GUID in registry form ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hexadecimal digits); "
                          "the product's uninstall entry is named after it");
    if (Location(info.DefInstallPath, node, "DefInstallPath", what) &&
        ParseLocation(info.DefInstallPath).Root == TLocationRoot::lrApp)
      FProblems.Error(TProjectPlaces::At(node, "DefInstallPath"),
                      what + ": DefInstallPath: " + Q(info.DefInstallPath) +
                          " starts with {app}, the folder it is to choose; start it with {pf}");
    if (Trim(info.FullSetupFile).empty() && Trim(info.MiniSetupFile).empty())
      FProblems.Error(TProjectPlaces::At(node, nullptr),
                      what + ": neither FullSetupFile nor MiniSetupFile is set: nothing to build");
    if (!info.FullDownloadUrl.empty() && !Unresolved(node, "FullDownloadUrl") && !IsHttpAddress(info.FullDownloadUrl))
      FProblems.Error(TProjectPlaces::At(node, "FullDownloadUrl"),
                      what + ": FullDownloadUrl: " + Q(info.FullDownloadUrl) + " is not an http:// or https:// address");
    else if (info.FullDownloadUrl.empty() && !Trim(info.MiniSetupFile).empty())
      FProblems.Error(TProjectPlaces::At(node, "MiniSetupFile"),
                      what + ": the online stub (MiniSetupFile) needs a FullDownloadUrl, the address of the full package");
    if (!info.GotoUrl.empty() && !Unresolved(node, "GotoUrl") && !IsHttpAddress(info.GotoUrl))
      FProblems.Error(TProjectPlaces::At(node, "GotoUrl"),
                      what + ": GotoUrl: " + Q(info.GotoUrl) + " is not an http:// or https:// address");
    Version(info, node);
    if (info.AllowModify)
      FProblems.Warning(TProjectPlaces::At(node, "AllowModify"), what + ": AllowModify=\"True\" has no effect: the runtime does not read it");
    if (!info.Condition.empty())
      FProblems.Warning(TProjectPlaces::At(node, "Condition"), what + ": Condition has no effect: the runtime does not read it");
    FUsesGroup = info.DefInstallPath.find(L"{group}") != std::wstring::npos;
  }

  void Version(const TSetupBaseInfo& info, const TXmlNode* node) {
    if (Unresolved(node, "Version")) return;
    const std::size_t at = TProjectPlaces::At(node, "Version");
    if (Trim(info.Version).empty()) {
      FProblems.Warning(at, "BaseInfo: Version is empty: the version information and the uninstall entry say 0.0.0.0");
      return;
    }
    std::wstring part;
    int parts = 0;
    bool good = true;
    for (std::size_t i = 0; i <= info.Version.size(); ++i) {
      if (i < info.Version.size() && info.Version[i] != L'.') {
        part += info.Version[i];
        continue;
      }
      int32_t n = 0;
      ++parts;
      good = good && !part.empty() && part.find_first_not_of(L"0123456789") == std::wstring::npos && TryStrToInt(part, n) &&
             n <= 65535;
      part.clear();
    }
    if (!good || parts > 4)
      FProblems.Warning(at, "BaseInfo: Version: " + Q(info.Version) +
                                " is not up to four numbers from 0 to 65535 separated by \".\" (such as 1.2.0.0): the "
                                "version information takes only what reads as numbers");
  }

  void Defaults(const TBaseSetupItem& item, const TXmlNode* node, const std::string& what) {
    if (!item.Checked)
      FProblems.Warning(TProjectPlaces::At(node, "Checked"),
                        what + ": Checked=\"False\" does not leave the item out: the runtime processes every item");
    if (!item.Condition.empty())
      FProblems.Warning(TProjectPlaces::At(node, "Condition"),
                        what + ": Condition has no effect: the runtime processes every item");
  }

  void Files() {
    const TSetupFileList& files = *FScript.FileList();
    for (int i = 0; i < files.Count(); ++i) {
      const TSetupFile& f = *files.Items(i);
      const TXmlNode* node = TProjectPlaces::Item(FPlaces.Files, i);
      const std::string what = ItemLabel("TSetupFile", i);
      Defaults(f, node, what);
      const bool destOk = Location(f.DestDir, node, "DestDir", what);
      if (Trim(f.SourceMask).empty()) {
        FProblems.Error(TProjectPlaces::At(node, "SourceMask"),
                        what + ": SourceMask is empty: it names the file (or the files, with a mask such as *.dll)");
        continue;
      }
      if (destOk && !Unresolved(node, "SourceMask")) {
        const TLocation target = ParseLocation(FileLocationValue(f));
        if (target.Fault != TLocationFault::lfNone)
          FProblems.Error(TProjectPlaces::At(node, "SourceMask"), what + ": SourceMask: " + Q(f.SourceMask) +
                                                                      " puts the file outside DestDir: " + ToUtf8(target.Problem));
        else
          FUsesGroup = FUsesGroup || target.Root == TLocationRoot::lrGroup;
      }
      if (f.SourcePath.empty()) {
        if (f.SourceMask.find_first_of(L"*?") != std::wstring::npos)
          FProblems.Error(TProjectPlaces::At(node, "SourceMask"),
                          what + ": SourceMask " + Q(f.SourceMask) + " is a mask, which needs a SourcePath to look in");
        else if (f.FileBytes == 0)
          FProblems.Warning(TProjectPlaces::At(node, nullptr),
                            what + ": no SourcePath: an empty file " + Q(f.SourceMask) + " is installed");
        if (f.IncludeSubPath)
          FProblems.Warning(TProjectPlaces::At(node, "IncludeSubPath"),
                            what + ": IncludeSubPath has no effect without SourcePath");
      }
    }
  }

  void Registry() {
    const TSetupRegList& regs = *FScript.RegList();
    for (int i = 0; i < regs.Count(); ++i) {
      const TSetupReg& r = *regs.Items(i);
      const TXmlNode* node = TProjectPlaces::Item(FPlaces.Regs, i);
      const std::string what = ItemLabel("TSetupReg", i);
      Defaults(r, node, what);
      if (r.SubKey.find_first_not_of(L"\\ ") == std::wstring::npos)
        FProblems.Error(TProjectPlaces::At(node, "SubKey"),
                        what + ": SubKey is empty: a value directly under a root key belongs to no product");
      if (node && !node->FindAttribute(std::string("RootKey")))
        FProblems.Warning(node->Offset, what + ": no RootKey: the value goes to HKEY_CLASSES_ROOT (rrkClassesRoot, the "
                                               "default); write RootKey=\"rrkClassesRoot\" if that is meant");
    }
  }

  void Shortcuts() {
    const TSetupShortCutList& links = *FScript.ShortCutList();
    for (int i = 0; i < links.Count(); ++i) {
      const TSetupShortCut& s = *links.Items(i);
      const TXmlNode* node = TProjectPlaces::Item(FPlaces.Shortcuts, i);
      const std::string what = ItemLabel("TSetupShortCut", i);
      Defaults(s, node, what);
      if (!Unresolved(node, "Name")) {
        bool constant = false;
        for (const std::wstring& c : LocationConstants()) constant = constant || LowerCase(s.Name).find(c) != std::wstring::npos;
        if (constant || LowerCase(s.Name).find(L"{srcexe}") != std::wstring::npos || !IsValidShortcutName(s.Name))
          FProblems.Error(TProjectPlaces::At(node, "Name"),
                          what + ": Name: " + Q(s.Name) +
                              " is not a valid file name (no \\ / : * ? \" < > |, no path constant, not ending in a blank "
                              "or \".\"); the shortcut file is Name.lnk");
      }
      if (Location(s.SaveDir, node, "SaveDir", what)) FUsesGroup = FUsesGroup || ParseLocation(s.SaveDir).Root == TLocationRoot::lrGroup;
      Location(s.DstFile, node, "DstFile", what);
      if (!Trim(s.WorkDir).empty()) Location(s.WorkDir, node, "WorkDir", what);
      if (!Trim(s.IconFile).empty()) Location(s.IconFile, node, "IconFile", what);
    }
    const TSetupBaseInfo& info = *FScript.BaseInfo();
    if (FUsesGroup && !Trim(info.AppTitle).empty() && !IsValidShortcutName(info.AppTitle))
      FProblems.Error(TProjectPlaces::At(FPlaces.BaseInfo, "AppTitle"),
                      "BaseInfo: AppTitle: " + Q(info.AppTitle) +
                          " is not a valid folder name (no \\ / : * ? \" < > |), but {group} is the Start-menu folder "
                          "named after it");
  }

  void RunEntries() {
    const TSetupRunList& runs = *FScript.RunList();
    for (int i = 0; i < runs.Count(); ++i) {
      const TSetupRun& r = *runs.Items(i);
      const TXmlNode* node = TProjectPlaces::Item(FPlaces.Runs, i);
      const std::string what = ItemLabel("TSetupRun", i);
      Defaults(r, node, what);
      if (Trim(r.FileName).empty())
        FProblems.Error(TProjectPlaces::At(node, "FileName"), what + ": FileName is empty: it names the program to start");
      else
        Location(r.FileName, node, "FileName", what, true);
      if (!Trim(r.WorkDir).empty()) Location(r.WorkDir, node, "WorkDir", what);
    }
  }

  void Rest() {
    const TSetupSwiperList& swipers = *FScript.SwiperList();
    for (int i = 0; i < swipers.Count(); ++i)
      FProblems.Warning(TProjectPlaces::At(TProjectPlaces::Item(FPlaces.Swipers, i), nullptr),
                        ItemLabel("TSetupSwiper", i) + ": the swiper list has no effect: the runtime does not read it");
    const TSetupVarList& vars = *FScript.VarList();
    for (int i = 0; i < vars.Count(); ++i)
      if (vars.Items(i)->VarName.empty())
        FProblems.Warning(TProjectPlaces::At(TProjectPlaces::Item(FPlaces.Vars, i), "VarName"),
                          ItemLabel("TSetupVar", i) + ": VarName is empty: the variable replaces nothing");
  }

  const TSetupScript& FScript;
  const TProjectPlaces& FPlaces;
  TProblemList& FProblems;
  std::set<std::pair<const TXmlNode*, std::string>> FUnresolved;
  bool FUsesGroup = false;
};

}  // namespace

void CheckProjectRules(const TSetupScript& script, const TProjectPlaces& places, TProblemList& problems) {
  TRules(script, places, problems).Run();
}

void CheckProjectTargets(const TSetupScript& script, const TProjectPlaces& places, TProblemList& problems) {
  std::set<std::wstring> installed;
  const TSetupFileList& files = *script.FileList();
  for (int i = 0; i < files.Count(); ++i) installed.insert(LocationKey(FileLocationValue(*files.Items(i))));
  auto check = [&](const std::wstring& target, const TXmlNode* node, const char* property, const std::string& what) {
    const TLocation loc = ParseLocation(target);
    if (loc.Fault == TLocationFault::lfRelative)  // only a run entry gets here: a relative DstFile is an error
      problems.Warning(TProjectPlaces::At(node, property),
                       what + ": " + property + ": " + Q(target) + " is neither a file the package installs nor an absolute path");
    else if (loc.Fault == TLocationFault::lfNone && loc.Root != TLocationRoot::lrAbsolute && !installed.count(LocationKey(target)))
      problems.Warning(TProjectPlaces::At(node, property),
                       what + ": " + property + ": " + Q(target) + " is not a file the package installs");
  };
  const TSetupShortCutList& links = *script.ShortCutList();
  for (int i = 0; i < links.Count(); ++i)
    check(links.Items(i)->DstFile, TProjectPlaces::Item(places.Shortcuts, i), "DstFile", ItemLabel("TSetupShortCut", i));
  const TSetupRunList& runs = *script.RunList();
  for (int i = 0; i < runs.Count(); ++i)
    check(runs.Items(i)->FileName, TProjectPlaces::Item(places.Runs, i), "FileName", ItemLabel("TSetupRun", i));
}

}  // namespace nvbuilder
