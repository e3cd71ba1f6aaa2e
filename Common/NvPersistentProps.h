// Property-table helpers shared by the XML and JSON forms of TXmlPersistent.
#pragma once

#include <string>

#include "NvTypInfo.h"

class TPersistent;

namespace nvpersist {

// Raises the contract failure for a property of a kind the forms cannot
// store, naming its type; line tells the callers apart.
[[noreturn]] void KindAssertion(const TPropInfo& prop, int line);

// The sub-object a class property refers to, or nullptr.
TPersistent* SubObject(const TPropInfo& prop, const TPersistent& owner);

// The text form of a property value: names for enumerations and sets.
std::wstring ValueText(const TPropInfo& prop, const TPropValue& v);

// Sets an enumeration from its name: an empty name leaves it unchanged,
// an unknown name gives ordinal 0.
void SetEnumFromText(const TPropInfo& prop, TPersistent& object, const std::wstring& text);
// Sets a set from comma-separated element names (brackets and blanks
// allowed); an unknown name raises EPropertyError.
void SetSetFromText(const TPropInfo& prop, TPersistent& object, const std::wstring& text);
void SetTextValue(const TPropInfo& prop, TPersistent& object, const std::wstring& text);

}  // namespace nvpersist
