// Object persistence driven by the published-property tables: XML, deep
// copy, cloning and comparison (the JSON form is in NvJsonPersistent.cpp).
#include "NvXmlPersistent.h"

#include <cstdint>
#include <typeinfo>

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvPersistentProps.h"
#include "NvSysUtils.h"
#include "NvXmlUtils.h"

namespace {

const wchar_t* const kSource = L"Common\\NvXmlUtils";

}  // namespace

namespace nvpersist {

void KindAssertion(const TPropInfo& prop, int line) {
  NvAssertFailed(AsciiToWide(prop.TypeName), kSource, line);
}

namespace {

const TPropInfo* FindProp(const TPropList& props, const std::string& name) {
  for (const auto& p : props)
    if (SameText(AsciiToWide(p.Name), AsciiToWide(name))) return &p;
  return nullptr;
}

}  // namespace

TPersistent* SubObject(const TPropInfo& prop, const TPersistent& owner) {
  return prop.Object ? prop.Object(owner) : nullptr;
}

namespace {

// ---- value text of enumerations and sets ------------------------------------------------

std::wstring EnumToText(const TPropInfo& prop, int64_t ordinal) {
  return prop.Enum ? AsciiToWide(prop.Enum->NameOf(ordinal)) : IntToStr(ordinal);
}

std::wstring SetToText(const TPropInfo& prop, int64_t bits) {
  std::wstring text;
  if (!prop.Enum) return text;
  for (std::size_t i = 0; i < prop.Enum->Names.size() && i < 32; ++i) {
    if (!((static_cast<uint64_t>(bits) >> i) & 1u)) continue;
    if (!text.empty()) text += L',';
    text += AsciiToWide(prop.Enum->Names[i]);
  }
  return text;
}

// The ordinal of an enumeration name: unknown names give 0.
int64_t TextToEnum(const TPropInfo& prop, const std::wstring& text) {
  int index = prop.Enum ? prop.Enum->IndexOf(Utf8Encode(text)) : -1;
  return index < 0 ? 0 : index;
}

// The bit mask of comma-separated element names (brackets and blanks
// allowed); an unknown name raises EPropertyError.
int64_t TextToSet(const TPropInfo& prop, const std::wstring& text) {
  std::wstring body = Trim(text);
  if (!body.empty() && body.front() == L'[') body.erase(0, 1);
  if (!body.empty() && body.back() == L']') body.pop_back();
  uint64_t bits = 0;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t comma = body.find(L',', start);
    if (comma == std::wstring::npos) comma = body.size();
    std::wstring name = Trim(body.substr(start, comma - start));
    if (!name.empty()) {
      int index = prop.Enum ? prop.Enum->IndexOf(Utf8Encode(name)) : -1;
      if (index < 0 || index >= 32) throw EPropertyError(Format(L"Invalid property element: %s", {name}));
      bits |= 1ull << index;
    }
    start = comma + 1;
  }
  return static_cast<int64_t>(bits);
}

}  // namespace

std::wstring ValueText(const TPropInfo& prop, const TPropValue& v) {
  switch (prop.Kind) {
    case TTypeKind::tkEnumeration: return EnumToText(prop, v.Ord);
    case TTypeKind::tkSet: return SetToText(prop, v.Ord);
    case TTypeKind::tkFloat: return FloatToStr(v.Float);
    case TTypeKind::tkString:
    case TTypeKind::tkLString:
    case TTypeKind::tkWString: return v.Text;
    default: return IntToStr(v.Ord);
  }
}

void SetEnumFromText(const TPropInfo& prop, TPersistent& object, const std::wstring& text) {
  if (text.empty()) return;
  TPropValue v;
  v.Ord = TextToEnum(prop, text);
  prop.Set(object, v);
}

void SetSetFromText(const TPropInfo& prop, TPersistent& object, const std::wstring& text) {
  TPropValue v;
  v.Ord = TextToSet(prop, text);
  prop.Set(object, v);
}

void SetTextValue(const TPropInfo& prop, TPersistent& object, const std::wstring& text) {
  TPropValue v;
  v.Text = text;
  prop.Set(object, v);
}

}  // namespace nvpersist

using namespace nvpersist;

// ---- the general persistent base ---------------------------------------------------------

const TPropList& TPersistent::StaticProps() {
  static const TPropList props;
  return props;
}

const TPropList& TPersistent::Props() const { return StaticProps(); }

void TPersistent::Assign(const TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  throw EConvertError(Format(L"Cannot assign a %s to a %s", {std::wstring(L"nil"), AsciiToWide(ClassName())}));
}

void TPersistent::AssignTo(TPersistent* dest) const {
  throw EConvertError(Format(L"Cannot assign a %s to a %s",
                             {AsciiToWide(ClassName()), dest ? AsciiToWide(dest->ClassName()) : std::wstring(L"nil")}));
}

// ---- XML -----------------------------------------------------------------------------------

void SavePropsToNode(const TPersistent& object, TXmlNode* node, int options) {
  for (const TPropInfo& prop : object.Props()) {
    if (!prop.HasReader()) continue;
    switch (prop.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkChar:
      case TTypeKind::tkWChar:
      case TTypeKind::tkInt64:
        node->AttributeByName(prop.Name)->SetInteger(prop.Get(object).Ord);
        break;
      case TTypeKind::tkEnumeration:
      case TTypeKind::tkSet:
      case TTypeKind::tkString:
      case TTypeKind::tkLString:
      case TTypeKind::tkWString:
        node->AttributeByName(prop.Name)->SetText(ValueText(prop, prop.Get(object)));
        break;
      case TTypeKind::tkFloat:
        node->AttributeByName(prop.Name)->SetFloat(prop.Get(object).Float);
        break;
      case TTypeKind::tkClass: {
        TPersistent* sub = SubObject(prop, object);
        if (!sub) break;
        TXmlNode* child = node->ChildByName(prop.Name);
        if (auto* xml = dynamic_cast<TXmlPersistent*>(sub)) xml->SaveToXmlNode(child, options);
        else SavePropsToNode(*sub, child, options);
        break;
      }
      case TTypeKind::tkMethod:
        break;
      default:
        KindAssertion(prop, 750);
    }
  }
}

void LoadPropsFromNode(TPersistent& object, TXmlNode* node, int options) {
  for (const TPropInfo& prop : object.Props()) {
    if (prop.Kind == TTypeKind::tkClass) {
      TXmlNode* child = node->FindChild(prop.Name);
      TPersistent* sub = SubObject(prop, object);
      if (!child || !sub) continue;
      if (auto* xml = dynamic_cast<TXmlPersistent*>(sub)) xml->LoadFromXmlNode(child, options);
      else LoadPropsFromNode(*sub, child, options);
      continue;
    }
    if (!prop.HasWriter()) continue;
    TXmlAttribute* attribute = node->FindAttribute(prop.Name);
    if (!attribute) continue;
    switch (prop.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkChar:
      case TTypeKind::tkWChar: {
        int32_t n;
        if (!TryStrToInt(attribute->GetText(), n)) break;
        TPropValue v;
        v.Ord = n;
        prop.Set(object, v);
        break;
      }
      case TTypeKind::tkInt64: {
        TPropValue v;
        if (TryStrToInt64(attribute->GetText(), v.Ord)) prop.Set(object, v);
        break;
      }
      case TTypeKind::tkEnumeration:
        SetEnumFromText(prop, object, attribute->GetText());
        break;
      case TTypeKind::tkFloat: {
        TPropValue v;
        if (TryStrToFloat(attribute->GetText(), v.Float)) prop.Set(object, v);
        break;
      }
      case TTypeKind::tkString:
      case TTypeKind::tkLString:
      case TTypeKind::tkWString:
        SetTextValue(prop, object, attribute->GetText());
        break;
      case TTypeKind::tkSet:
        SetSetFromText(prop, object, attribute->GetText());
        break;
      case TTypeKind::tkMethod:
        break;
      default:
        KindAssertion(prop, 934);
    }
  }
}

// ---- TXmlPersistent ------------------------------------------------------------------------

void TXmlPersistent::Assign(const TPersistent* source) {
  const auto* src = dynamic_cast<const TXmlPersistent*>(source);
  if (!src) {
    TPersistent::Assign(source);
    return;
  }
  if (src == this) return;
  const TPropList& sourceProps = src->Props();
  for (const TPropInfo& prop : Props()) {
    if (prop.Kind != TTypeKind::tkClass && !prop.HasWriter()) continue;
    const TPropInfo* from = FindProp(sourceProps, prop.Name);
    if (!from) continue;
    switch (prop.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkChar:
      case TTypeKind::tkWChar:
      case TTypeKind::tkInt64:
      case TTypeKind::tkFloat:
      case TTypeKind::tkWString:
        if (from->Get) prop.Set(*this, from->Get(*src));
        break;
      case TTypeKind::tkEnumeration:
      case TTypeKind::tkSet:
      case TTypeKind::tkString:
      case TTypeKind::tkLString: {
        if (!from->Get) break;
        std::wstring text = ValueText(*from, from->Get(*src));
        if (prop.Kind == TTypeKind::tkEnumeration) {
          TPropValue v;
          v.Ord = TextToEnum(prop, text);
          prop.Set(*this, v);
        } else if (prop.Kind == TTypeKind::tkSet) {
          SetSetFromText(prop, *this, text);
        } else {
          SetTextValue(prop, *this, text);
        }
        break;
      }
      case TTypeKind::tkClass: {
        auto* mine = dynamic_cast<TXmlPersistent*>(SubObject(prop, *this));
        auto* theirs = from->Kind == TTypeKind::tkClass ? dynamic_cast<TXmlPersistent*>(SubObject(*from, *src)) : nullptr;
        if (mine && theirs) mine->Assign(theirs);
        break;
      }
      case TTypeKind::tkMethod:
        break;
      default:
        NV_ASSERT(false, kSource, 2019);
    }
  }
}

std::unique_ptr<TXmlPersistent> TXmlPersistent::Clone() const {
  std::unique_ptr<TXmlPersistent> copy(NewInstance());
  NV_ASSERT(copy && copy->ClassName() == ClassName(), kSource, 2069);
  copy->Assign(this);
  return copy;
}

void TXmlPersistent::CopyFrom(const TXmlPersistent& source) {
  TMemoryStream stream;
  source.SaveToStream(stream, 0);
  stream.Rewind();
  LoadFromStream(stream, 0);
}

bool TXmlPersistent::IsEqual(const TXmlPersistent* other) const {
  if (!other || typeid(*other) != typeid(*this)) return false;
  if (other == this) return true;
  for (const TPropInfo& prop : Props()) {
    if (prop.Kind != TTypeKind::tkClass && !prop.HasWriter()) continue;
    switch (prop.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkChar:
      case TTypeKind::tkWChar:
      case TTypeKind::tkInt64:
        if (!prop.Get) break;
        if (prop.Get(*this).Ord != prop.Get(*other).Ord) return false;
        break;
      case TTypeKind::tkFloat:
        if (!prop.Get) break;
        if (prop.Get(*this).Float != prop.Get(*other).Float) return false;
        break;
      case TTypeKind::tkEnumeration:
      case TTypeKind::tkSet:
      case TTypeKind::tkString:
      case TTypeKind::tkLString:
      case TTypeKind::tkWString:
        if (!prop.Get) break;
        if (ValueText(prop, prop.Get(*this)) != ValueText(prop, prop.Get(*other))) return false;
        break;
      case TTypeKind::tkClass: {
        // Compared only when both sides have a persistent sub-object.
        auto* a = dynamic_cast<TXmlPersistent*>(SubObject(prop, *this));
        auto* b = dynamic_cast<TXmlPersistent*>(SubObject(prop, *other));
        if (a && b && !a->IsEqual(b)) return false;
        break;
      }
      case TTypeKind::tkMethod:
        break;
      default:
        NV_ASSERT(false, kSource, 2170);
    }
  }
  return true;
}

void TXmlPersistent::LoadFromXmlNode(TXmlNode* node, int options) { LoadPropsFromNode(*this, node, options); }

void TXmlPersistent::SaveToXmlNode(TXmlNode* node, int options) const { SavePropsToNode(*this, node, options); }

void TXmlPersistent::LoadFromStream(TMemoryStream& stream, int options) {
  TXmlDocument document;
  document.LoadFromStream(stream);
  if (document.Root) LoadFromXmlNode(document.Root.get(), options);
}

void TXmlPersistent::SaveToStream(TMemoryStream& stream, int options) const {
  TXmlDocument document(AsciiToWide(ClassName()));
  document.Formatted = true;
  document.WriteDeclaration = true;
  SaveToXmlNode(document.Root.get(), options);
  document.SaveToStream(stream);
}

std::string TXmlPersistent::SaveToXmlText(int options) const {
  TMemoryStream stream;
  SaveToStream(stream, options);
  return stream.Bytes();
}

void TXmlPersistent::LoadFromXmlText(const std::string& text, int options) {
  TMemoryStream stream(text);
  LoadFromStream(stream, options);
}

namespace {

// The folder part of a file name: up to and including the last "\" or ":"
// (and "/" on a host whose paths use it).
std::wstring FolderPart(const std::wstring& fileName) {
#ifdef _WIN32
  return ExtractFilePath(fileName);
#else
  std::size_t pos = fileName.find_last_of(L"\\:/");
  return pos == std::wstring::npos ? std::wstring() : fileName.substr(0, pos + 1);
#endif
}

// Creates the folder part of fileName with its missing parents; a name
// without folder part is written in the current folder.
void ForceFolderOf(const std::wstring& fileName) {
  std::wstring folder = FolderPart(fileName);
  if (folder.empty() || DirectoryExists(folder)) return;
  ForceDirectories(folder);
}

}  // namespace

void TXmlPersistent::LoadFromFile(const std::wstring& fileName, int options) {
  TMemoryStream stream(ReadFileBytes(fileName));
  LoadFromStream(stream, options);
}

void TXmlPersistent::SaveToFile(const std::wstring& fileName, int options) const {
  ForceFolderOf(fileName);
  TMemoryStream stream;
  SaveToStream(stream, options);
  WriteFileBytes(fileName, stream.Bytes());
}

// ---- TXmlObjectList ------------------------------------------------------------------------

TXmlPersistent* TXmlObjectList::Items(int index) const {
  int i = index < 0 ? index + Count() : index;
  if (i < 0 || i >= Count())
    throw EListError(Format(L"List index out of bounds (%d)", {static_cast<int64_t>(index)}));
  return FItems[static_cast<std::size_t>(i)].get();
}

void TXmlObjectList::Add(TXmlPersistent* item) { Add(std::unique_ptr<TXmlPersistent>(item)); }

void TXmlObjectList::Add(std::unique_ptr<TXmlPersistent> item) {
  if (item) FItems.push_back(std::move(item));
}

void TXmlObjectList::Delete(int index) {
  int i = index < 0 ? index + Count() : index;
  if (i < 0 || i >= Count())
    throw EListError(Format(L"List index out of bounds (%d)", {static_cast<int64_t>(index)}));
  FItems.erase(FItems.begin() + i);
}

void TXmlObjectList::Clear() { FItems.clear(); }

bool TXmlObjectList::ItemsEqual(const TXmlObjectList* list) const {
  if (!list || list->Count() != Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (!FItems[static_cast<std::size_t>(i)]->IsEqual(list->FItems[static_cast<std::size_t>(i)].get())) return false;
  return true;
}

void TXmlObjectList::Assign(const TPersistent* source) {
  if (source == this) return;  // clearing first would lose the items
  TXmlPersistent::Assign(source);
  const auto* list = dynamic_cast<const TXmlObjectList*>(source);
  if (!list) return;
  Clear();
  for (const auto& item : list->FItems) Add(item->Clone());
}

void TXmlObjectList::SaveToXmlNode(TXmlNode* node, int options) const {
  SavePropsToNode(*this, node, options);
  TXmlNode* items = node->ChildByName("Items");
  items->Children.Clear();
  for (const auto& item : FItems) item->SaveToXmlNode(items->AddChild(item->ClassName()), options);
}

void TXmlObjectList::LoadFromXmlNode(TXmlNode* node, int options) {
  LoadPropsFromNode(*this, node, options);
  TXmlNode* items = node->FindChild("Items");
  Clear();
  TXmlNode* source = items ? items : node;
  for (int i = 0; i < source->Children.Count(); ++i) {
    TXmlNode* child = source->Children.Items(i);
    std::unique_ptr<TXmlPersistent> item(CreateItem(child->GetName()));
    if (!item) continue;
    item->LoadFromXmlNode(child, options);
    Add(std::move(item));
  }
}
