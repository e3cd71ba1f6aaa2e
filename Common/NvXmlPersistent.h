// Object persistence: objects to XML elements and JSON objects and back,
// deep copy, cloning and comparison, all driven by the published-property
// tables of NvTypInfo.h. The JSON form is not virtual and lives in its own
// unit, so that programs which never use it do not carry it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "NvStream.h"
#include "NvTypInfo.h"

class TXmlNode;
class TXmlPersistent;

// The general persistent base: copy protocol and the property table.
class TPersistent {
public:
  virtual ~TPersistent() = default;

  static const char* StaticClassName() { return "TPersistent"; }
  virtual std::string ClassName() const { return "TPersistent"; }
  static const TPropList& StaticProps();   // empty
  virtual const TPropList& Props() const;  // this class's published properties

  // Copies source into this object: the general rule asks source to copy
  // itself (AssignTo); fails with "Cannot assign a %s to a %s" otherwise.
  virtual void Assign(const TPersistent* source);

protected:
  // Copies this object into dest; the base cannot and raises the error above.
  virtual void AssignTo(TPersistent* dest) const;
};

class TXmlPersistent : public TPersistent {
public:
  static const char* StaticClassName() { return "TXmlPersistent"; }
  std::string ClassName() const override { return "TXmlPersistent"; }

  // Deep copy by published properties (falls back to the general rule when
  // source is not a TXmlPersistent).
  void Assign(const TPersistent* source) override;

  // The virtual constructor: a new default instance of this object's class.
  virtual TXmlPersistent* NewInstance() const { return new TXmlPersistent(); }
  // A new object of the same class with this object's values.
  virtual std::unique_ptr<TXmlPersistent> Clone() const;
  // A copy through the XML form.
  virtual void CopyFrom(const TXmlPersistent& source);
  // Same class and every published value equal.
  virtual bool IsEqual(const TXmlPersistent* other) const;

  virtual void LoadFromFile(const std::wstring& fileName, int options);
  virtual void LoadFromXmlNode(TXmlNode* node, int options);
  // Parses from the stream's position to its end; a text without elements
  // leaves the object unchanged.
  virtual void LoadFromStream(TMemoryStream& stream, int options);
  // Creates the missing folders of the file's folder part first; a name
  // without folder part is written in the current folder.
  virtual void SaveToFile(const std::wstring& fileName, int options) const;
  virtual void SaveToXmlNode(TXmlNode* node, int options) const;
  // Writes a formatted document with declaration, root named after the class,
  // at the stream's position.
  virtual void SaveToStream(TMemoryStream& stream, int options) const;

  // Convenience: the XML text as SaveToStream writes it.
  std::string SaveToXmlText(int options = 0) const;
  void LoadFromXmlText(const std::string& text, int options = 0);

  // The JSON form: one member per published property (sub-objects nested);
  // a TXmlObjectList adds its items as the array "Items", each item with its
  // "ClassName". Loading skips members of the wrong type and leaves missing
  // ones unchanged; a list is cleared and rebuilt through CreateItem.
  void LoadFromJson(const nlohmann::json& json, int options);
  void SaveToJson(nlohmann::json& json, int options) const;
  // Writes SaveToJson's object indented by four blanks, non-ASCII escaped.
  void SaveToJsonFile(const std::wstring& fileName, int options) const;
};

void SavePropsToNode(const TPersistent& object, TXmlNode* node, int options);
void LoadPropsFromNode(TPersistent& object, TXmlNode* node, int options);

// An owning list of persistent items, stored as the child elements of an
// "Items" element, each named after its item's class.
class TXmlObjectList : public TXmlPersistent {
public:
  static const char* StaticClassName() { return "TXmlObjectList"; }
  std::string ClassName() const override { return "TXmlObjectList"; }

  int Count() const { return static_cast<int>(FItems.size()); }
  // A negative index counts from the end; out of range fails with
  // "List index out of bounds (%d)".
  TXmlPersistent* Items(int index) const;
  // Appends and takes ownership.
  void Add(TXmlPersistent* item);
  void Add(std::unique_ptr<TXmlPersistent> item);
  void Delete(int index);

  void Assign(const TPersistent* source) override;
  void LoadFromXmlNode(TXmlNode* node, int options) override;
  void SaveToXmlNode(TXmlNode* node, int options) const override;

  // A new, unowned item for an element naming className, or nullptr to skip.
  virtual TXmlPersistent* CreateItem(const std::wstring& className) = 0;
  virtual void Clear();
  // Counts equal and items pairwise IsEqual, in order.
  virtual bool ItemsEqual(const TXmlObjectList* list) const;

private:
  std::vector<std::unique_ptr<TXmlPersistent>> FItems;
};

// A list of one item class whose factory ignores the class name it is given.
template <class T>
class TXmlTypedList : public TXmlObjectList {
public:
  T* Items(int index) const { return static_cast<T*>(TXmlObjectList::Items(index)); }
  // Appends a new default item and returns it.
  T* AddNew() {
    T* item = new T();
    Add(item);
    return item;
  }
  using TXmlObjectList::Add;
  TXmlPersistent* CreateItem(const std::wstring&) override { return new T(); }
};
