// The JSON form of TXmlPersistent, driven by the published-property tables.
#include <cstdint>

#include <nlohmann/json.hpp>

#include "NvFileUtils.h"
#include "NvPersistentProps.h"
#include "NvSysUtils.h"
#include "NvXmlPersistent.h"

using namespace nvpersist;

void TXmlPersistent::SaveToJson(nlohmann::json& json, int options) const {
  if (!json.is_object()) json = nlohmann::json::object();
  for (const TPropInfo& prop : Props()) {
    if (!prop.HasReader()) continue;
    switch (prop.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkChar:
      case TTypeKind::tkWChar:
      case TTypeKind::tkInt64:
        json[prop.Name] = prop.Get(*this).Ord;
        break;
      case TTypeKind::tkFloat:
        json[prop.Name] = prop.Get(*this).Float;
        break;
      case TTypeKind::tkEnumeration:
      case TTypeKind::tkSet:
      case TTypeKind::tkString:
      case TTypeKind::tkLString:
      case TTypeKind::tkWString:
        json[prop.Name] = Utf8Encode(ValueText(prop, prop.Get(*this)));
        break;
      case TTypeKind::tkClass: {
        auto* sub = dynamic_cast<TXmlPersistent*>(SubObject(prop, *this));
        if (!sub) break;
        nlohmann::json member = nlohmann::json::object();
        sub->SaveToJson(member, options);
        json[prop.Name] = std::move(member);
        break;
      }
      case TTypeKind::tkMethod:
        break;
      default:
        KindAssertion(prop, 3072);
    }
  }
  const auto* list = dynamic_cast<const TXmlObjectList*>(this);
  if (!list) return;
  nlohmann::json items = nlohmann::json::array();
  for (int i = 0; i < list->Count(); ++i) {
    const TXmlPersistent* item = list->Items(i);
    nlohmann::json element = nlohmann::json::object();
    item->SaveToJson(element, options);
    element["ClassName"] = item->ClassName();
    items.push_back(std::move(element));
  }
  json["Items"] = std::move(items);
}

void TXmlPersistent::LoadFromJson(const nlohmann::json& json, int options) {
  auto* list = dynamic_cast<TXmlObjectList*>(this);
  if (json.is_object()) {
    for (const TPropInfo& prop : Props()) {
      auto it = json.find(prop.Name);
      if (it == json.end()) continue;
      const nlohmann::json& member = *it;
      if (prop.Kind == TTypeKind::tkClass) {
        if (auto* sub = dynamic_cast<TXmlPersistent*>(SubObject(prop, *this))) sub->LoadFromJson(member, options);
        continue;
      }
      if (!prop.HasWriter()) continue;
      switch (prop.Kind) {
        case TTypeKind::tkInteger:
        case TTypeKind::tkChar:
        case TTypeKind::tkWChar:
        case TTypeKind::tkInt64:
          if (member.is_number()) {
            TPropValue v;
            if (member.is_number_float()) {
              double d = member.get<double>();
              // A float member converts only when it is a whole number in range.
              if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18) || d != static_cast<double>(static_cast<int64_t>(d))) break;
              v.Ord = static_cast<int64_t>(d);
            } else {
              v.Ord = member.get<int64_t>();
            }
            if (prop.Kind == TTypeKind::tkInteger && (v.Ord < INT32_MIN || v.Ord > INT32_MAX)) break;
            prop.Set(*this, v);
          }
          break;
        case TTypeKind::tkFloat:
          if (member.is_number()) {
            TPropValue v;
            v.Float = member.get<double>();
            prop.Set(*this, v);
          }
          break;
        case TTypeKind::tkEnumeration:
          if (member.is_string()) SetEnumFromText(prop, *this, Utf8Decode(member.get<std::string>()));
          break;
        case TTypeKind::tkSet:
          if (member.is_string()) SetSetFromText(prop, *this, Utf8Decode(member.get<std::string>()));
          break;
        case TTypeKind::tkString:
        case TTypeKind::tkLString:
        case TTypeKind::tkWString:
          if (member.is_string()) SetTextValue(prop, *this, Utf8Decode(member.get<std::string>()));
          break;
        case TTypeKind::tkMethod:
          break;
        default:
          KindAssertion(prop, 2340);
      }
    }
  }
  if (!list) return;
  list->Clear();
  if (!json.is_object()) return;
  auto it = json.find("Items");
  if (it == json.end() || !it->is_array()) return;
  for (const nlohmann::json& element : *it) {
    std::wstring className;
    if (element.is_object()) {
      auto name = element.find("ClassName");
      if (name != element.end() && name->is_string()) className = Utf8Decode(name->get<std::string>());
    }
    std::unique_ptr<TXmlPersistent> item(list->CreateItem(className));
    if (!item) continue;
    item->LoadFromJson(element, options);
    list->Add(std::move(item));
  }
}

void TXmlPersistent::SaveToJsonFile(const std::wstring& fileName, int options) const {
  nlohmann::json json = nlohmann::json::object();
  SaveToJson(json, options);
  WriteFileBytes(fileName, json.dump(4, ' ', true));
}
