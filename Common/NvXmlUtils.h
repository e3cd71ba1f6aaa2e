// A small XML document model: element nodes with attributes and one text
// value, a forgiving single-pass parser over a byte buffer, and a writer of
// indented UTF-8 text with an XML declaration.
//
// Names and values are held in stored form: UTF-8 bytes with the XML
// character escapes applied. The text accessors convert to and from wide
// text, so parsing and writing copy bytes without decoding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "NvExceptions.h"
#include "NvStream.h"

// Wide text to stored form: UTF-8 with TAB, LF, CR, '"', '\'', '&', '<', '>'
// written as character references.
std::string XmlEncode(const std::wstring& text);
// Stored form to wide text. An "&" without a later ";" raises EXmlException;
// an empty or unknown reference name is an assertion failure; a numeric
// reference that is not a number raises EConvertError.
std::wstring XmlDecode(const std::string& bytes);

class TXmlKey {
public:
  virtual ~TXmlKey() = default;

  // For a node: the value came from, and is written as, a CDATA section.
  // For any key: the value is plain UTF-8 without escapes.
  bool CData = false;
  std::string Name;   // stored form
  std::string Value;  // stored form
  // Where the key was read from: the byte offset of a node's "<" or of an
  // attribute's name in the parsed text; npos for a key made in memory.
  std::size_t Offset = std::string::npos;

  std::wstring GetName() const;              // XmlDecode(Name)
  void SetName(const std::wstring& name);    // Name = XmlEncode(name)
  std::wstring GetText() const;
  void SetText(const std::wstring& text);
  // Decimal text of the number; clears CData.
  void SetInteger(int64_t value);
  // General floating-point text (up to 15 significant digits); clears CData.
  void SetFloat(double value);
};

class TXmlAttribute : public TXmlKey {};
class TXmlNode;

// An owning list of keys with lookup by name.
class TXmlKeyList {
public:
  TXmlKeyList() = default;
  TXmlKeyList(const TXmlKeyList&) = delete;
  TXmlKeyList& operator=(const TXmlKeyList&) = delete;
  virtual ~TXmlKeyList() = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  bool Empty() const { return FItems.empty(); }
  // The index of the first key whose stored name equals XmlEncode(name)
  // ignoring case, or -1.
  int IndexOfName(const std::wstring& name) const;
  int IndexOfName(const std::string& utf8Name) const;
  TXmlKey* FindByName(const std::wstring& name) const;
  TXmlKey* FindByName(const std::string& utf8Name) const;
  void Delete(int index);
  void Clear() { FItems.clear(); }

protected:
  TXmlKey* KeyAt(int index) const { return FItems.at(static_cast<std::size_t>(index)).get(); }
  TXmlKey* AddKey(std::unique_ptr<TXmlKey> key);

private:
  std::vector<std::unique_ptr<TXmlKey>> FItems;
};

class TXmlAttributeList : public TXmlKeyList {
public:
  TXmlAttribute* Items(int index) const { return static_cast<TXmlAttribute*>(KeyAt(index)); }
  TXmlAttribute* operator[](int index) const { return Items(index); }
  // Appends a new attribute; the name is given in stored form.
  TXmlAttribute* AddStored(std::string storedName, std::string storedValue);
};

class TXmlNodeList : public TXmlKeyList {
public:
  TXmlNode* Items(int index) const;
  TXmlNode* operator[](int index) const { return Items(index); }
  // Appends and takes ownership.
  TXmlNode* Add(std::unique_ptr<TXmlNode> node);
};

class TXmlNode : public TXmlKey {
public:
  TXmlNode() = default;
  explicit TXmlNode(const std::wstring& name) { SetName(name); }
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  TXmlAttributeList Attributes;
  TXmlNodeList Children;
  TXmlNode* Parent = nullptr;  // the enclosing node, none for a root

  // Always appends a new child with that name and this node as parent.
  TXmlNode* AddChild(const std::wstring& name);
  TXmlNode* AddChild(const std::string& utf8Name);
  // The first child of that name (ignoring case), or none.
  TXmlNode* FindChild(const std::wstring& name) const;
  TXmlNode* FindChild(const std::string& utf8Name) const;
  // FindChild, or AddChild when there is none.
  TXmlNode* ChildByName(const std::wstring& name);
  TXmlNode* ChildByName(const std::string& utf8Name);
  // The first attribute of that name (ignoring case), or none.
  TXmlAttribute* FindAttribute(const std::wstring& name) const;
  TXmlAttribute* FindAttribute(const std::string& utf8Name) const;
  // FindAttribute, or a new attribute of that name appended to Attributes.
  TXmlAttribute* AttributeByName(const std::wstring& name);
  TXmlAttribute* AttributeByName(const std::string& utf8Name);
};

class TXmlDocument {
public:
  // A root node with an empty name.
  TXmlDocument();
  // A root node with the given name.
  explicit TXmlDocument(const std::wstring& rootName);

  bool Formatted = true;
  bool WriteDeclaration = true;
  // May be none after loading a text without elements.
  std::unique_ptr<TXmlNode> Root;
  // After a failed load: the byte offset at which the text is malformed, and
  // what is wrong there, in English ("the end tag </b> does not close <a>").
  std::size_t ErrorOffset = std::string::npos;
  std::string ErrorDetail;

  // Discards the old tree and parses the bytes. Malformed structure raises
  // EXmlException "XML 标签不匹配" (an end tag that does not name the open
  // element, an element left open at the end, a second top-level element,
  // text in a tag that is no attribute are malformed too); on failure the
  // part built so far stays, and ErrorOffset and ErrorDetail say where and
  // what (also for the assertion failures of a damaged tag).
  void LoadFromBuffer(const char* bytes, std::size_t length);
  void LoadFromString(const std::string& bytes) { LoadFromBuffer(bytes.data(), bytes.size()); }
  // Parses the bytes from the stream's position to its end.
  void LoadFromStream(TMemoryStream& stream);
  // The document text: declaration line (when set), then the tree; CR LF
  // after every line when Formatted, nothing between lines otherwise.
  std::string SaveToString() const;
  // Writes SaveToString() at the stream's position, without byte order mark.
  void SaveToStream(TMemoryStream& stream) const;
};
