// Published-property tables: enumeration names and table helpers.
#include "NvTypInfo.h"

#include "NvSysUtils.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

const TEnumInfo BooleanInfo{"Boolean", {"False", "True"}};

int TEnumInfo::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < Names.size(); ++i) {
    std::string_view candidate(Names[i]);
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size() && same; ++k) same = AsciiUpper(candidate[k]) == AsciiUpper(name[k]);
    if (same) return static_cast<int>(i);
  }
  return -1;
}

std::string TEnumInfo::NameOf(int64_t ordinal) const {
  if (ordinal < 0 || ordinal >= static_cast<int64_t>(Names.size())) return std::string();
  return Names[static_cast<std::size_t>(ordinal)];
}

namespace nvtypinfo {

std::wstring LStringToText(const std::string& bytes) { return Utf8Decode(bytes); }

std::string TextToLString(const std::wstring& text) { return Utf8Encode(text); }

TPropList Inherit(const TPropList& inherited, std::initializer_list<TPropInfo> own) {
  TPropList props(inherited);
  props.insert(props.end(), own.begin(), own.end());
  return props;
}

TPropInfo Unsupported(const char* name, TTypeKind kind, const char* typeName) {
  TPropInfo p;
  p.Name = name;
  p.Kind = kind;
  p.TypeName = typeName;
  // Readable and writable, so that every routine reaches the kind check.
  p.Get = [](const TPersistent&) { return TPropValue(); };
  p.Set = [](TPersistent&, const TPropValue&) {};
  return p;
}

TPropInfo Method(const char* name) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::tkMethod;
  p.TypeName = "TNotifyEvent";
  p.Get = [](const TPersistent&) { return TPropValue(); };
  p.Set = [](TPersistent&, const TPropValue&) {};
  return p;
}

}  // namespace nvtypinfo
