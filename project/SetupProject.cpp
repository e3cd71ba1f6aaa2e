#include "SetupProject.h"

#include <climits>
#include <vector>

#include "NvSysUtils.h"

const TEnumInfo RegRootKeyInfo{
    "TRegRootKey", {"rrkClassesRoot", "rrkCurrentUser", "rrkLocalMachine", "rrkUsers", "rrkCurrentConfig"}};
const TEnumInfo RegValueTypeInfo{"TRegValueType", {"rvtString", "rvtDWord"}};
const TEnumInfo GotoUrlModeInfo{"TGotoUrlMode", {"gumSilent", "gumByBrowser"}};

namespace {

bool IsBlank(wchar_t c) { return c >= 1 && c <= 32; }

// Splits text as delimited text: delim ends a part; blanks end a part and are
// skipped; a part opening with quote runs to the matching closing quote (a
// doubled quote inside stands for one) or to the end; a final delim adds an
// empty part. A NUL character ends the text.
std::vector<std::wstring> SplitDelimited(const std::wstring& text, wchar_t delim, wchar_t quote) {
  std::vector<std::wstring> parts;
  const std::wstring s = text.substr(0, text.find(L'\0'));
  const size_t n = s.size();
  size_t p = 0;
  while (p < n && IsBlank(s[p])) ++p;
  while (p < n) {
    std::wstring part;
    if (s[p] == quote) {
      ++p;
      while (p < n) {
        if (s[p] == quote) {
          if (p + 1 < n && s[p + 1] == quote) {
            part += quote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        part += s[p++];
      }
    } else {
      const size_t start = p;
      while (p < n && !IsBlank(s[p]) && s[p] != delim) ++p;
      part = s.substr(start, p - start);
    }
    parts.push_back(std::move(part));
    while (p < n && IsBlank(s[p])) ++p;
    if (p < n && s[p] == delim) {
      if (p + 1 == n) parts.emplace_back();
      do {
        ++p;
      } while (p < n && IsBlank(s[p]));
    }
  }
  return parts;
}

// Parses a decimal integer (leading spaces and a sign allowed). Returns false
// when the text is not one; value is then the number its leading digits make
// (0 without digits, or when they do not fit 32 bits).
bool ParseVersionPart(const std::wstring& part, int32_t& value) {
  size_t p = 0;
  while (p < part.size() && part[p] == L' ') ++p;
  bool negative = false;
  if (p < part.size() && (part[p] == L'+' || part[p] == L'-')) negative = part[p++] == L'-';
  int64_t number = 0;
  size_t digits = 0;
  bool overflow = false;
  for (; p < part.size() && part[p] >= L'0' && part[p] <= L'9'; ++p, ++digits) {
    if (!overflow) {
      number = number * 10 + (part[p] - L'0');
      if (number > static_cast<int64_t>(INT32_MAX) + (negative ? 1 : 0)) overflow = true;
    }
  }
  if (overflow) {
    value = 0;
    return false;
  }
  value = static_cast<int32_t>(negative ? -number : number);
  return digits > 0 && p == part.size();
}

void Expand(std::wstring& field, const TSetupVarList& varList) { field = varList.ExpandVars(field); }

}  // namespace

// ---- TSetupBaseInfo ---------------------------------------------------------------

TSetupBaseInfo::TSetupBaseInfo() : GUID(TNvStrfn::NewGuidString()) {}

void TSetupBaseInfo::GetVersionNumbers(int32_t& major, int32_t& minor, int32_t& release, int32_t& build) const {
  major = minor = release = build = 0;
  const std::vector<std::wstring> parts = SplitDelimited(Version, L'.', L'"');
  int32_t* outputs[] = {&major, &minor, &release, &build};
  for (size_t i = 0; i < parts.size() && i < 4; ++i) {
    if (!ParseVersionPart(parts[i], *outputs[i])) return;
  }
}

// ---- items ---------------------------------------------------------------------------

void TBaseSetupItem::ExpandVars(const TSetupVarList& varList) { Expand(Condition, varList); }

void TSetupFile::ExpandVars(const TSetupVarList& varList) {
  TBaseSetupItem::ExpandVars(varList);
  Expand(DestDir, varList);
  Expand(SourceMask, varList);
  Expand(SourcePath, varList);
}

void TSetupReg::ExpandVars(const TSetupVarList& varList) {
  TBaseSetupItem::ExpandVars(varList);
  Expand(SubKey, varList);
  Expand(ValueData, varList);
  Expand(ValueName, varList);
}

void TSetupShortCut::ExpandVars(const TSetupVarList& varList) {
  TBaseSetupItem::ExpandVars(varList);
  Expand(DstFile, varList);
  Expand(IconFile, varList);
  Expand(Name, varList);
  Expand(SaveDir, varList);
  Expand(WorkDir, varList);
}

void TSetupRun::ExpandVars(const TSetupVarList& varList) {
  TBaseSetupItem::ExpandVars(varList);
  Expand(Params, varList);
  Expand(FileName, varList);
  Expand(WorkDir, varList);
}

void TSetupSwiper::ExpandVars(const TSetupVarList& varList) {
  TBaseSetupItem::ExpandVars(varList);
  Expand(FileName, varList);
}

// ---- variables -------------------------------------------------------------------------

std::wstring TSetupVar::Expand(const std::wstring& text) const {
  if (!Checked || VarName.empty()) return text;
  return StringReplaceAll(text, VarName, VarValue, true);
}

TSetupVarList::TSetupVarList() { AddDefaultVars(); }

int TSetupVarList::IndexOfVar(const std::wstring& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(Items(i)->VarName, name)) return i;
  }
  return -1;
}

TSetupVar* TSetupVarList::FindVar(const std::wstring& name) const {
  const int index = IndexOfVar(name);
  return index < 0 ? nullptr : Items(index);
}

TSetupVar* TSetupVarList::EnsureVar(const std::wstring& name) {
  if (TSetupVar* found = FindVar(name)) return found;
  TSetupVar* var = AddNew();
  var->VarName = name;
  var->Checked = true;
  return var;
}

void TSetupVarList::AddDefaultVars() {
  EnsureVar(L"{AppTitle}")->VarValue = L"AppTitle";
  EnsureVar(L"{Version}")->VarValue = L"1.0.0.0";
  EnsureVar(L"{MainExeName}")->VarValue = L"MyApp";
  EnsureVar(L"{GUID}")->VarValue = TNvStrfn::NewGuidString();
  EnsureVar(L"{AppID}")->VarValue = L"10033";
  EnsureVar(L"{Copyright}")->VarValue = L"";
  EnsureVar(L"{CompanyName}")->VarValue = L"";
  EnsureVar(L"{CompanyUrl}")->VarValue = L"";
  EnsureVar(L"{DefaultFolder}")->VarValue = L"";
  EnsureVar(L"{Condition}")->VarValue = L"";
}

std::wstring TSetupVarList::ExpandVars(const std::wstring& text) const {
  std::wstring result = text;
  for (int i = 0; i < Count(); ++i) result = Items(i)->Expand(result);
  return result;
}

// ---- TSetupScript ------------------------------------------------------------------------

TSetupScript::TSetupScript()
    : FBaseInfo(std::make_unique<TSetupBaseInfo>()),
      FFileList(std::make_unique<TSetupFileList>()),
      FRegList(std::make_unique<TSetupRegList>()),
      FRunList(std::make_unique<TSetupRunList>()),
      FShortCutList(std::make_unique<TSetupShortCutList>()),
      FSwiperList(std::make_unique<TSetupSwiperList>()),
      FVarList(std::make_unique<TSetupVarList>()) {}

TSetupScript::~TSetupScript() = default;
