// Published properties: the type information that drives persistence.
//
// Each persistent class declares once, in its body, an ordered table of its
// published properties; the table of a class starts with the inherited ones.
// The generic routines of NvXmlPersistent walk these tables for XML, JSON,
// Assign, Clone, IsEqual; no class writes load or save code of its own.
//
//   class TSetupVar : public TXmlPersistent {
//   public:
//     bool Checked = true;
//     std::wstring VarName;
//     std::wstring VarValue;
//     NV_PUBLISHED(TSetupVar, TXmlPersistent,
//       NV_FIELD(Checked),
//       NV_FIELD(VarName),
//       NV_FIELD(VarValue));
//   };
//
// The kind of a property follows from the C++ type of its field:
//   bool -> enumeration "Boolean" (False, True)    int32_t -> integer
//   int64_t -> 64-bit integer                       double -> float
//   std::wstring -> wide string                     std::string -> long string
//   wchar_t -> wide character                       char -> character
//   an enum -> enumeration (NV_ENUM with its TEnumInfo)
//   TSetOf<E> -> set (NV_SET with the element TEnumInfo)
//   a TPersistent member or std::unique_ptr<T> -> object (owned sub-object,
//   read-only: loading fills it, never replaces it)
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// A point in time: days since 30 December 1899, the fraction being the time
// of day (local time). Persisted as a float.
using TDateTime = double;

class TPersistent;

enum class TTypeKind {
  tkInteger, tkChar, tkWChar, tkEnumeration, tkFloat, tkString, tkLString,
  tkSet, tkClass, tkMethod, tkWString, tkInt64,
  // Not supported by persistence: declaring one makes the routines fail with
  // an assertion naming the property's type.
  tkVariant, tkArray, tkRecord, tkInterface, tkDynArray
};

// The value names of an enumeration in ordinal order.
struct TEnumInfo {
  const char* TypeName;
  std::vector<const char*> Names;

  // Index of the value whose name matches (ASCII letters without case), or -1.
  int IndexOf(std::string_view name) const;
  // The name of an ordinal, or an empty text when out of range.
  std::string NameOf(int64_t ordinal) const;
};

extern const TEnumInfo BooleanInfo;  // "Boolean": False, True

// A set of enumeration values stored as a bit mask (bit n = ordinal n).
template <class E>
struct TSetOf {
  uint32_t Bits = 0;
  bool Has(E e) const { return (Bits >> static_cast<int>(e)) & 1u; }
  void Include(E e) { Bits |= 1u << static_cast<int>(e); }
  void Exclude(E e) { Bits &= ~(1u << static_cast<int>(e)); }
  bool operator==(const TSetOf&) const = default;
};

// A property value in transit. Ordinal kinds (integer, characters,
// enumerations, sets as bit masks, 64-bit integers) use Ord, floats Float,
// strings Text (a long string's bytes are held as UTF-8 text).
struct TPropValue {
  int64_t Ord = 0;
  double Float = 0;
  std::wstring Text;
};

struct TPropInfo {
  std::string Name;
  TTypeKind Kind = TTypeKind::tkInteger;
  std::string TypeName;                // for messages ("WideString", "TRegRootKey")
  const TEnumInfo* Enum = nullptr;     // enumeration values, or a set's elements
  std::function<TPropValue(const TPersistent&)> Get;         // reader; empty: none
  std::function<void(TPersistent&, const TPropValue&)> Set;  // writer; empty: read-only
  std::function<TPersistent*(const TPersistent&)> Object;    // sub-object (tkClass)

  bool HasReader() const { return static_cast<bool>(Get) || Kind == TTypeKind::tkClass; }
  bool HasWriter() const { return static_cast<bool>(Set); }
};

using TPropList = std::vector<TPropInfo>;

namespace nvtypinfo {

std::wstring LStringToText(const std::string& bytes);   // UTF-8 bytes to text
std::string TextToLString(const std::wstring& text);    // text to UTF-8 bytes

TPropList Inherit(const TPropList& inherited, std::initializer_list<TPropInfo> own);

template <class T> struct IsUniquePtr : std::false_type {};
template <class T> struct IsUniquePtr<std::unique_ptr<T>> : std::true_type {};
template <class T> struct IsSet : std::false_type {};
template <class E> struct IsSet<TSetOf<E>> : std::true_type {};

template <class C, class T>
TPropInfo Field(const char* name, T C::*member, const TEnumInfo* info = nullptr) {
  TPropInfo p;
  p.Name = name;
  p.Enum = info;
  auto self = [](const TPersistent& o) -> const C& { return static_cast<const C&>(o); };
  auto mut = [](TPersistent& o) -> C& { return static_cast<C&>(o); };
  if constexpr (std::is_same_v<T, bool>) {
    p.Kind = TTypeKind::tkEnumeration;
    p.TypeName = "Boolean";
    p.Enum = &BooleanInfo;
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Ord = (self(o).*member) ? 1 : 0; return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = v.Ord != 0; };
  } else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t> ||
                       std::is_same_v<T, char> || std::is_same_v<T, wchar_t>) {
    p.Kind = std::is_same_v<T, int32_t>   ? TTypeKind::tkInteger
             : std::is_same_v<T, int64_t> ? TTypeKind::tkInt64
             : std::is_same_v<T, char>    ? TTypeKind::tkChar
                                          : TTypeKind::tkWChar;
    p.TypeName = std::is_same_v<T, int32_t>   ? "Integer"
                 : std::is_same_v<T, int64_t> ? "Int64"
                 : std::is_same_v<T, char>    ? "AnsiChar"
                                              : "WideChar";
    // Characters have unsigned ordinals (an AnsiChar is 0..255).
    p.Get = [=](const TPersistent& o) {
      TPropValue v;
      if constexpr (std::is_same_v<T, char>) v.Ord = static_cast<unsigned char>(self(o).*member);
      else if constexpr (std::is_same_v<T, wchar_t>) v.Ord = static_cast<std::make_unsigned_t<wchar_t>>(self(o).*member);
      else v.Ord = static_cast<int64_t>(self(o).*member);
      return v;
    };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = static_cast<T>(v.Ord); };
  } else if constexpr (std::is_enum_v<T>) {
    p.Kind = TTypeKind::tkEnumeration;
    p.TypeName = info ? info->TypeName : "enumeration";
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Ord = static_cast<int64_t>(self(o).*member); return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = static_cast<T>(v.Ord); };
  } else if constexpr (IsSet<T>::value) {
    p.Kind = TTypeKind::tkSet;
    p.TypeName = info ? std::string("set of ") + info->TypeName : "set";
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Ord = (self(o).*member).Bits; return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { (mut(o).*member).Bits = static_cast<uint32_t>(v.Ord); };
  } else if constexpr (std::is_same_v<T, double>) {
    p.Kind = TTypeKind::tkFloat;
    p.TypeName = "Double";
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Float = self(o).*member; return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = v.Float; };
  } else if constexpr (std::is_same_v<T, std::wstring>) {
    p.Kind = TTypeKind::tkWString;
    p.TypeName = "WideString";
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Text = self(o).*member; return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = v.Text; };
  } else if constexpr (std::is_same_v<T, std::string>) {
    p.Kind = TTypeKind::tkLString;
    p.TypeName = "AnsiString";
    p.Get = [=](const TPersistent& o) { TPropValue v; v.Text = LStringToText(self(o).*member); return v; };
    p.Set = [=](TPersistent& o, const TPropValue& v) { mut(o).*member = TextToLString(v.Text); };
  } else if constexpr (IsUniquePtr<T>::value) {
    p.Kind = TTypeKind::tkClass;
    p.TypeName = T::element_type::StaticClassName();
    p.Object = [=](const TPersistent& o) -> TPersistent* { return (self(o).*member).get(); };
  } else if constexpr (std::is_base_of_v<TPersistent, T>) {
    p.Kind = TTypeKind::tkClass;
    p.TypeName = T::StaticClassName();
    p.Object = [=](const TPersistent& o) -> TPersistent* {
      return const_cast<T*>(&(self(o).*member));
    };
  } else {
    static_assert(sizeof(T) == 0, "unsupported published field type");
  }
  return p;
}

// A property of a kind that persistence does not support (for example a
// variant): any routine that meets it fails with an assertion.
TPropInfo Unsupported(const char* name, TTypeKind kind, const char* typeName);
// An event slot: published, but never stored, copied or compared.
TPropInfo Method(const char* name);

}  // namespace nvtypinfo

#define NV_FIELD(Name) ::nvtypinfo::Field(#Name, &Self::Name)
#define NV_ENUM(Name, Info) ::nvtypinfo::Field(#Name, &Self::Name, &(Info))
#define NV_SET(Name, ElementInfo) ::nvtypinfo::Field(#Name, &Self::Name, &(ElementInfo))
// A published property whose stored name differs from the C++ member name.
#define NV_FIELD_AS(StoredName, Member) ::nvtypinfo::Field(StoredName, &Self::Member)

// Declares the class's identity and its published properties. Use inside the
// class body, in the public section; the properties follow the inherited ones.
#define NV_PUBLISHED_COMMON(Class, Base, ...)                                        \
public:                                                                              \
  using Self = Class;                                                                \
  using inherited = Base;                                                            \
  static const char* StaticClassName() { return #Class; }                           \
  std::string ClassName() const override { return #Class; }                         \
  static const TPropList& StaticProps() {                                            \
    static const TPropList props = ::nvtypinfo::Inherit(Base::StaticProps(), {__VA_ARGS__}); \
    return props;                                                                    \
  }                                                                                  \
  const TPropList& Props() const override { return StaticProps(); }

// For a concrete class: also the virtual constructor that Clone uses.
#define NV_PUBLISHED(Class, Base, ...)                                               \
  NV_PUBLISHED_COMMON(Class, Base, __VA_ARGS__)                                      \
  TXmlPersistent* NewInstance() const override { return new Class(); }

// For an abstract class (no instance of its own).
#define NV_PUBLISHED_ABSTRACT(Class, Base, ...) NV_PUBLISHED_COMMON(Class, Base, __VA_ARGS__)
