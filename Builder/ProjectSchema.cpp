#include "ProjectSchema.h"

#include <map>

#include "NvSysUtils.h"
#include "SetupProject.h"

namespace nvbuilder {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Names(const TEnumInfo& info) {
  std::string s;
  for (std::size_t i = 0; i < info.Names.size(); ++i) s += (i ? ", " : "") + std::string(info.Names[i]);
  return s;
}

// Registry spellings publishers know from other tools, and the value that
// means the same here.
std::string KnownAlias(const std::string& value) {
  static const std::map<std::string, std::string> aliases = {
      {"hkcr", "rrkClassesRoot"},   {"hkey_classes_root", "rrkClassesRoot"},
      {"hkcu", "rrkCurrentUser"},   {"hkey_current_user", "rrkCurrentUser"},
      {"hklm", "rrkLocalMachine"},  {"hkey_local_machine", "rrkLocalMachine"},
      {"hku", "rrkUsers"},          {"hkey_users", "rrkUsers"},
      {"hkcc", "rrkCurrentConfig"}, {"hkey_current_config", "rrkCurrentConfig"},
      {"reg_sz", "rvtString"},      {"reg_dword", "rvtDWord"},
  };
  std::string lower;
  for (char c : value) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  auto it = aliases.find(lower);
  return it == aliases.end() ? std::string() : it->second;
}

bool Blank(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

class TFormCheck {
public:
  explicit TFormCheck(TProblemList& problems) : FProblems(problems) {}

  // An object's attributes and text, and with `elements` its child elements.
  void Object(TXmlNode& node, TPersistent& prototype, const std::string& what, bool elements = true) {
    const TPropList& props = prototype.Props();
    std::vector<std::string> attributeNames, elementNames;
    for (const TPropInfo& p : props) (p.Kind == TTypeKind::tkClass ? elementNames : attributeNames).push_back(p.Name);
    const std::string className = prototype.ClassName();

    for (int i = 0; i < node.Attributes.Count();) {
      TXmlAttribute& a = *node.Attributes.Items(i);
      const std::string name = Utf8Of(a.GetName());
      const TPropInfo* prop = Find(props, name, false);
      if (!prop) {
        const TPropInfo* element = Find(props, name, true);
        FProblems.Error(a.Offset, what + ": " + name +
                                      (element ? " is an element (<" + element->Name + ">), not an attribute"
                                               : " is not a property of " + className + DidYouMean(name, attributeNames)));
        ++i;
        continue;
      }
      if (node.Attributes.IndexOfName(a.GetName()) != i) {
        FProblems.Error(a.Offset, what + ": " + prop->Name + " is given twice; only the first one would be read");
        ++i;
        continue;
      }
      if (!Value(a, *prop, what)) {
        a.Value.clear();  // read as empty: the property keeps its default
        a.CData = false;
      }
      ++i;
    }

    if (!Blank(node.Value) || node.CData)
      FProblems.Error(node.Offset, what + ": the text inside <" + node.Name +
                                       "> is not read; values are attributes (Name=\"value\")");

    for (int i = 0; elements && i < node.Children.Count(); ++i) {
      TXmlNode& child = *node.Children.Items(i);
      const std::string name = Utf8Of(child.GetName());
      const TPropInfo* prop = Find(props, name, true);
      if (!prop) {
        const TPropInfo* attribute = Find(props, name, false);
        FProblems.Error(child.Offset, what + ": <" + name + "> " +
                                          (attribute ? "is an attribute of <" + node.Name + ">: write " + attribute->Name +
                                                           "=\"...\" in its tag"
                                                     : "is not an element of " + className + DidYouMean(name, elementNames)));
        continue;
      }
      if (node.Children.IndexOfName(child.GetName()) != i) {
        FProblems.Error(child.Offset, what + ": <" + prop->Name + "> is given twice; only the first one would be read");
        continue;
      }
      TPersistent* sub = prop->Object ? prop->Object(prototype) : nullptr;
      if (auto* list = dynamic_cast<TXmlObjectList*>(sub)) List(child, *list);
      else if (sub) Object(child, *sub, prop->Name);
    }
  }

  void List(TXmlNode& node, TXmlObjectList& list) {
    Object(node, list, node.Name, false);
    std::unique_ptr<TXmlPersistent> prototype(list.CreateItem(L""));
    const std::string itemClass = prototype->ClassName();
    const TXmlNode* items = node.FindChild(std::wstring(L"Items"));
    for (int i = 0; items && i < node.Children.Count(); ++i) {
      const TXmlNode* child = node.Children.Items(i);
      if (child == items) continue;
      FProblems.Error(child->Offset, node.Name + ": <" + child->Name + "> " +
                                         (SameText(FromUtf8(child->Name), L"Items")
                                              ? "is given twice; only the first one would be read"
                                              : "is outside <Items> and would not be read"));
    }
    const std::vector<TXmlNode*> elements = ListItemNodes(node);
    for (std::size_t i = 0; i < elements.size(); ++i) {
      TXmlNode& item = *elements[i];
      const std::string what = ItemLabel(itemClass, static_cast<int>(i));
      const std::string name = Utf8Of(item.GetName());
      if (!SameText(FromUtf8(name), FromUtf8(itemClass)))
        FProblems.Error(item.Offset, what + ": <" + name + "> is not an item of " + node.Name + ", whose items are <" +
                                         itemClass + "> elements" + DidYouMean(name, {itemClass}));
      std::unique_ptr<TXmlPersistent> fresh(list.CreateItem(L""));
      Object(item, *fresh, what);
    }
  }

private:
  static std::string Utf8Of(const std::wstring& text) { return ToUtf8(text); }

  static const TPropInfo* Find(const TPropList& props, const std::string& name, bool element) {
    for (const TPropInfo& p : props)
      if ((p.Kind == TTypeKind::tkClass) == element && SameText(FromUtf8(p.Name), FromUtf8(name))) return &p;
    return nullptr;
  }

  // Checks one attribute's value; false when it cannot be read as its
  // property's kind.
  bool Value(const TXmlAttribute& a, const TPropInfo& prop, const std::string& what) {
    std::wstring text;
    try {
      text = a.GetText();
    } catch (const std::exception&) {
      FProblems.Error(a.Offset, what + ": " + prop.Name +
                                    ": the value has an \"&\" that starts no known character reference (write &amp; for \"&\")");
      return false;
    }
    const std::string value = ToUtf8(text);
    switch (prop.Kind) {
      case TTypeKind::tkEnumeration: {
        if (value.empty() || !prop.Enum || prop.Enum->IndexOf(value) >= 0) return true;
        const std::string alias = KnownAlias(value);
        std::string message = what + ": " + prop.Name + ": " + Quoted(value) + " is not " +
                              (prop.Enum == &BooleanInfo ? std::string("a Boolean (True or False)")
                                                         : "one of " + std::string(prop.Enum->TypeName) + "'s values (" +
                                                               Names(*prop.Enum) + ")");
        std::vector<std::string> names(prop.Enum->Names.begin(), prop.Enum->Names.end());
        message += !alias.empty() ? " (did you mean " + alias + "?)" : DidYouMean(value, names);
        FProblems.Error(a.Offset, message);
        return false;
      }
      case TTypeKind::tkInteger: {
        int32_t n;
        if (TryStrToInt(text, n)) return true;
        FProblems.Error(a.Offset, what + ": " + prop.Name + ": " + Quoted(value) + " is not a number");
        return false;
      }
      case TTypeKind::tkFloat: {
        double x;
        if (TryStrToFloat(text, x)) return true;
        FProblems.Error(a.Offset, what + ": " + prop.Name + ": " + Quoted(value) + " is not a number");
        return false;
      }
      default:
        return true;
    }
  }

  TProblemList& FProblems;
};

}  // namespace

std::vector<TXmlNode*> ListItemNodes(const TXmlNode& list) {
  const TXmlNode* items = list.FindChild(std::wstring(L"Items"));
  const TXmlNode& from = items ? *items : list;
  std::vector<TXmlNode*> nodes;
  for (int i = 0; i < from.Children.Count(); ++i) nodes.push_back(from.Children.Items(i));
  return nodes;
}

std::string ItemLabel(const std::string& itemClass, int index) {
  static const std::map<std::string, std::string> labels = {
      {"TSetupFile", "file item"}, {"TSetupReg", "registry item"}, {"TSetupShortCut", "shortcut"},
      {"TSetupRun", "run entry"},  {"TSetupSwiper", "swiper entry"}, {"TSetupVar", "variable"}};
  auto it = labels.find(itemClass);
  return (it == labels.end() ? itemClass : it->second) + " " + std::to_string(index + 1);
}

void CheckProjectForm(TXmlNode& root, TProblemList& problems) {
  TSetupScript prototype;
  TFormCheck check(problems);
  check.Object(root, prototype, "TSetupScript");
  if (!root.FindChild(std::wstring(L"BaseInfo")))
    problems.Error(root.Offset, "TSetupScript: <BaseInfo> is missing: the product's title, GUID, folder and outputs go there");
}

}  // namespace nvbuilder
