// Where project items land: location values parsed, compared and expanded.
#include "InstallLocation.h"

#include <cwctype>
#include <string_view>

#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "Setupfn.h"

namespace {

struct TRootConstant {
  TLocationRoot Root;
  const wchar_t* Text;
};

const TRootConstant kRoots[] = {
    {TLocationRoot::lrApp, L"{app}"},
    {TLocationRoot::lrPf, L"{pf}"},
    {TLocationRoot::lrGroup, L"{group}"},
    {TLocationRoot::lrDesktop, L"{desktop}"},
};

const wchar_t kSrcExe[] = L"{srcexe}";

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Splits a path into its parts and resolves "." and ".."; the number of ".."
// that had nothing left to remove goes to climbs.
std::vector<std::wstring> NormalParts(const std::wstring& path, int& climbs) {
  std::vector<std::wstring> parts;
  climbs = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSlash(path[end])) ++end;
    std::wstring part = path.substr(start, end - start);
    if (part == L"..") {
      if (parts.empty()) ++climbs;
      else parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  return parts;
}

std::wstring Join(const std::vector<std::wstring>& parts) {
  std::wstring s;
  for (const std::wstring& p : parts) s += (s.empty() ? L"" : L"\\") + p;
  return s;
}

// The leading "{name}" of text, braces included; "" when text does not start
// with one.
std::wstring LeadingBraced(const std::wstring& text) {
  if (text.empty() || text[0] != L'{') return {};
  const size_t close = text.find(L'}');
  return close == std::wstring::npos ? std::wstring() : text.substr(0, close + 1);
}

// Whether text holds a path constant anywhere (ignoring case).
std::wstring InnerConstant(const std::wstring& text) {
  const std::wstring lower = LowerCase(text);
  for (const TRootConstant& r : kRoots)
    if (lower.find(r.Text) != std::wstring::npos) return r.Text;
  if (lower.find(kSrcExe) != std::wstring::npos) return kSrcExe;
  return {};
}

std::wstring Quoted(const std::wstring& value) { return L"\"" + value + L"\""; }

// The folder of a root on this machine, without a trailing backslash, or ""
// when the system gives none.
std::wstring RootFolder(TLocationRoot root) {
  switch (root) {
    case TLocationRoot::lrApp:
      return ExcludeTrailingBackslash(TSetupfn::AppPath());
    case TLocationRoot::lrPf:
      return ExcludeTrailingBackslash(TSetupfn::ProgramFilesPath());
    case TLocationRoot::lrGroup:
      // The group is the programs folder plus the title: nothing without the
      // programs folder itself.
      return TSetupfn::ProgramsPath().empty() ? std::wstring() : ExcludeTrailingBackslash(TSetupfn::GroupPath());
    case TLocationRoot::lrDesktop:
      return ExcludeTrailingBackslash(TSetupfn::DesktopPath());
    case TLocationRoot::lrAbsolute:
      break;
  }
  return {};
}

}  // namespace

const std::vector<std::wstring>& LocationConstants() {
  static const std::vector<std::wstring> constants = [] {
    std::vector<std::wstring> v;
    for (const TRootConstant& r : kRoots) v.push_back(r.Text);
    return v;
  }();
  return constants;
}

bool IsPathConstant(const std::wstring& text) {
  for (const TRootConstant& r : kRoots)
    if (SameText(text, r.Text)) return true;
  return SameText(text, kSrcExe);
}

std::wstring RootConstant(TLocationRoot root) {
  for (const TRootConstant& r : kRoots)
    if (r.Root == root) return r.Text;
  return {};
}

TLocation ParseLocation(const std::wstring& value) {
  TLocation loc;
  const std::wstring text = Trim(value);
  if (text.empty()) {
    loc.Problem = L"the location is empty";
    loc.Fault = TLocationFault::lfEmpty;
    return loc;
  }
  std::wstring rest;
  const std::wstring lead = LeadingBraced(text);
  bool known = false;
  for (const TRootConstant& r : kRoots)
    if (!lead.empty() && SameText(lead, r.Text)) {
      loc.Root = r.Root;
      known = true;
    }
  if (known) {
    rest = text.substr(lead.size());
  } else if (!lead.empty()) {
    loc.Fault = SameText(lead, kSrcExe) ? TLocationFault::lfSrcExe : TLocationFault::lfUnknownConstant;
    loc.Problem = SameText(lead, kSrcExe)
                      ? Quoted(text) + L" starts with " + std::wstring(kSrcExe) + L", the setup program itself, not a folder"
                      : Quoted(text) + L" starts with the unknown constant " + lead;
    return loc;
  } else if (text.size() >= 2 && IsSlash(text[0]) && IsSlash(text[1])) {
    // "\\server\share\...": the share is the base, nothing climbs above it.
    size_t at = 2;
    std::wstring names[2];
    for (std::wstring& name : names) {
      while (at < text.size() && IsSlash(text[at])) ++at;
      const size_t start = at;
      while (at < text.size() && !IsSlash(text[at])) ++at;
      name = text.substr(start, at - start);
    }
    if (names[1].empty() || names[0] == L"." || names[0] == L".." || names[1] == L"." || names[1] == L"..") {
      loc.Problem = Quoted(text) + L" is not a full network path (\\\\server\\share\\...)";
      loc.Fault = TLocationFault::lfBadNetworkPath;
      return loc;
    }
    loc.Base = L"\\\\" + names[0] + L"\\" + names[1];
    rest = text.substr(at);
  } else if (text.size() >= 3 && IsDriveLetter(text[0]) && text[1] == L':' && IsSlash(text[2])) {
    loc.Base = std::wstring(1, static_cast<wchar_t>(std::towupper(text[0]))) + L":";
    rest = text.substr(2);
  } else {
    loc.Problem = Quoted(text) +
                  L" is relative: it must start with a folder constant ({app}, {pf}, {group}, {desktop}) or be an "
                  L"absolute path";
    loc.Fault = TLocationFault::lfRelative;
    return loc;
  }
  const std::wstring inner = InnerConstant(rest);
  if (!inner.empty()) {
    loc.Problem = Quoted(text) + L" names the constant " + inner + L" after its start";
    loc.Fault = TLocationFault::lfInnerConstant;
    return loc;
  }
  int climbs = 0;
  loc.Rest = Join(NormalParts(rest, climbs));
  if (climbs > 0) {
    const std::wstring top = loc.Root == TLocationRoot::lrAbsolute ? loc.Base + L"\\" : RootConstant(loc.Root);
    loc.Problem = Quoted(text) + L" climbs out of " + top + L" with \"..\"";
    loc.Fault = TLocationFault::lfClimbsOut;
  }
  return loc;
}

std::wstring LocationKey(const std::wstring& value) {
  const TLocation loc = ParseLocation(value);
  if (!loc.Problem.empty()) return LowerCase(Trim(value));
  const std::wstring top = loc.Root == TLocationRoot::lrAbsolute ? loc.Base : RootConstant(loc.Root);
  return LowerCase(loc.Rest.empty() ? top : top + L"\\" + loc.Rest);
}

std::wstring ExpandLocation(const std::wstring& value) {
  const TLocation loc = ParseLocation(value);
  if (!loc.Problem.empty()) throw ELocationError(L"Invalid location: " + loc.Problem);
  std::wstring top = loc.Base;
  if (loc.Root != TLocationRoot::lrAbsolute) {
    top = RootFolder(loc.Root);
    // The folder a constant stands for must itself be a full path: an empty
    // or relative one would put the item relative to the current folder.
    const TLocation folder = ParseLocation(top + L"\\");
    if (top.empty() || !folder.Problem.empty() || folder.Root != TLocationRoot::lrAbsolute)
      throw ELocationError(Format(L"Invalid location: %s names no folder on this machine (%s)",
                                  {RootConstant(loc.Root), Quoted(value)}));
  }
  return loc.Rest.empty() ? top + L"\\" : top + L"\\" + loc.Rest;
}

std::wstring NormalPath(const std::wstring& path) {
  const TLocation loc = ParseLocation(path);
  if (!loc.Problem.empty() || loc.Root != TLocationRoot::lrAbsolute) return {};
  return loc.Rest.empty() ? loc.Base + L"\\" : loc.Base + L"\\" + loc.Rest;
}

bool PathWithin(const std::wstring& path, const std::wstring& folder) {
  const std::wstring p = NormalPath(path), f = NormalPath(folder);
  if (p.empty() || f.empty()) return false;
  if (SameText(p, f)) return true;
  const std::wstring prefix = IncludeTrailingBackslash(f);
  return p.size() > prefix.size() && SameText(p.substr(0, prefix.size()), prefix);
}

bool PathBelow(const std::wstring& path, const std::wstring& folder) {
  return PathWithin(path, folder) && !SameText(NormalPath(path), NormalPath(folder));
}

std::wstring FileLocationValue(const TSetupFile& item) { return item.DestDir + L"\\" + item.SourceMask; }

std::wstring FileTarget(const TSetupFile& item) { return ExpandLocation(FileLocationValue(item)); }

bool IsValidShortcutName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L' ' || name.back() == L'.') return false;
  for (wchar_t c : name)
    if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  return true;
}

std::wstring ShortcutTarget(const TSetupShortCut& item) {
  const std::wstring name = TSetupfn::ExpandConstants(item.Name);
  if (!IsValidShortcutName(name))
    throw ELocationError(Format(L"Invalid shortcut name %s: not a valid file name", {Quoted(name)}));
  return IncludeTrailingBackslash(ExpandLocation(item.SaveDir)) + name + L".lnk";
}

TRegistryTarget RegistryTarget(const TSetupReg& item) {
  TRegistryTarget target;
  target.Root = item.RootKey;
  std::wstring key;
  // Registry keys take "/" as part of a name: split on "\" only.
  const std::wstring expanded = TSetupfn::ExpandConstants(item.SubKey);
  size_t start = 0;
  while (start <= expanded.size()) {
    size_t end = expanded.find(L'\\', start);
    if (end == std::wstring::npos) end = expanded.size();
    if (end > start) key += (key.empty() ? L"" : L"\\") + expanded.substr(start, end - start);
    start = end + 1;
  }
  if (key.empty())
    throw ELocationError(Format(L"Invalid registry key %s for the value %s: the key is empty",
                                {Quoted(item.SubKey), Quoted(item.ValueName)}));
  target.Key = key;
  target.ValueName = TSetupfn::ExpandConstants(item.ValueName);
  return target;
}

std::wstring RegistryRootName(TRegRootKey root) {
  switch (root) {
    case rrkClassesRoot:
      return L"HKEY_CLASSES_ROOT";
    case rrkLocalMachine:
      return L"HKEY_LOCAL_MACHINE";
    case rrkUsers:
      return L"HKEY_USERS";
    case rrkCurrentConfig:
      return L"HKEY_CURRENT_CONFIG";
    default:
      return L"HKEY_CURRENT_USER";
  }
}

std::wstring UninstallKeyPath(const std::wstring& guid) {
  return Format(UninstallKeyFormat, {std::wstring(UninstallKeyRoot), guid});
}

std::wstring PreviousUninstallKeyPath(const std::wstring& guid) {
  return Format(PreviousUninstallKeyFormat, {std::wstring(UninstallKeyRoot), guid});
}
