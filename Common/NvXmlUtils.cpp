// XML document model, parser and writer.
#include "NvXmlUtils.h"

#include <cstring>
#include <string_view>

#include "NvSysUtils.h"

namespace {

const wchar_t* const kSource = L"Common\\NvXmlUtils";
const wchar_t* const kTagsDoNotMatch = L"XML 标签不匹配";

[[noreturn]] void RaiseTagsDoNotMatch() { throw EXmlException(kTagsDoNotMatch); }

bool IsBlankByte(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimBytes(std::string_view s) {
  while (!s.empty() && IsBlankByte(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankByte(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Stored names compared ignoring case: ASCII letters byte-wise, other
// letters through their decoded text.
bool SameStoredName(const std::string& a, const std::string& b) {
  if (a.size() == b.size()) {
    bool same = true, ascii = true;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (static_cast<unsigned char>(a[i]) >= 0x80) ascii = false;
      if (AsciiLower(a[i]) != AsciiLower(b[i])) {
        same = false;
        break;
      }
    }
    if (same) return true;
    if (ascii) return false;
  }
  for (unsigned char c : a)
    if (c >= 0x80) return SameText(Utf8Decode(a), Utf8Decode(b));
  for (unsigned char c : b)
    if (c >= 0x80) return SameText(Utf8Decode(a), Utf8Decode(b));
  return false;
}

void AppendCodeUnit(std::wstring& out, uint32_t number) {
  if (number >= 0x10000 && number <= 0x10FFFF) {
    // A character beyond the Basic Multilingual Plane: kept whole.
    if constexpr (sizeof(wchar_t) == 2) {
      number -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (number >> 10));
      out += static_cast<wchar_t>(0xDC00 + (number & 0x3FF));
    } else {
      out += static_cast<wchar_t>(number);
    }
    return;
  }
  uint32_t unit = number & 0xFFFF;
  if constexpr (sizeof(wchar_t) == 4) {
    // Two references that spell a surrogate pair make one character.
    if (unit >= 0xDC00 && unit <= 0xDFFF && !out.empty()) {
      uint32_t hi = static_cast<uint32_t>(out.back());
      if (hi >= 0xD800 && hi <= 0xDBFF) {
        out.back() = static_cast<wchar_t>(0x10000 + ((hi - 0xD800) << 10) + (unit - 0xDC00));
        return;
      }
    }
  }
  out += static_cast<wchar_t>(unit);
}

}  // namespace

// ---- text conversion -------------------------------------------------------------

std::string XmlEncode(const std::wstring& text) {
  if (text.empty()) return std::string();
  const std::string utf8 = Utf8Encode(text);
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 8);
  for (char c : utf8) {
    switch (c) {
      case '\t': out += "&#x09;"; break;
      case '\n': out += "&#x0A;"; break;
      case '\r': out += "&#x0D;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring XmlDecode(const std::string& bytes) {
  std::wstring out;
  if (bytes.empty()) return out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t amp = bytes.find('&', pos);
    if (amp == std::string::npos) {
      out += Utf8Decode(bytes.substr(pos));
      return out;
    }
    if (amp > pos) out += Utf8Decode(bytes.substr(pos, amp - pos));
    std::size_t semi = bytes.find(';', amp);
    if (semi == std::string::npos) RaiseTagsDoNotMatch();
    const std::string name = bytes.substr(amp + 1, semi - amp - 1);
    NV_ASSERT(!name.empty(), kSource, 469);
    if (name[0] == '#') {
      std::wstring number = AsciiToWide(name.substr(1));
      if (!number.empty() && (number[0] == L'x' || number[0] == L'X')) number = L"$" + number.substr(1);
      AppendCodeUnit(out, static_cast<uint32_t>(StrToInt(number)));
    } else {
      std::string lower;
      for (char c : name) lower += AsciiLower(c);
      if (lower == "lt") out += L'<';
      else if (lower == "gt") out += L'>';
      else if (lower == "amp") out += L'&';
      else if (lower == "quot") out += L'"';
      else if (lower == "apos") out += L'\'';
      else NV_ASSERT(false, kSource, 517);
    }
    pos = semi + 1;
  }
}

// ---- keys -------------------------------------------------------------------------------

std::wstring TXmlKey::GetName() const { return XmlDecode(Name); }
void TXmlKey::SetName(const std::wstring& name) { Name = XmlEncode(name); }

std::wstring TXmlKey::GetText() const { return CData ? Utf8Decode(Value) : XmlDecode(Value); }

void TXmlKey::SetText(const std::wstring& text) { Value = CData ? Utf8Encode(text) : XmlEncode(text); }

void TXmlKey::SetInteger(int64_t value) {
  Value = WideToAscii(IntToStr(value));
  CData = false;
}

void TXmlKey::SetFloat(double value) {
  Value = WideToAscii(FloatToStr(value));
  CData = false;
}

// ---- key lists -------------------------------------------------------------------------

int TXmlKeyList::IndexOfName(const std::wstring& name) const {
  const std::string stored = XmlEncode(name);
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (SameStoredName(FItems[i]->Name, stored)) return static_cast<int>(i);
  return -1;
}

int TXmlKeyList::IndexOfName(const std::string& utf8Name) const { return IndexOfName(Utf8Decode(utf8Name)); }

TXmlKey* TXmlKeyList::FindByName(const std::wstring& name) const {
  int index = IndexOfName(name);
  return index < 0 ? nullptr : FItems[static_cast<std::size_t>(index)].get();
}

TXmlKey* TXmlKeyList::FindByName(const std::string& utf8Name) const { return FindByName(Utf8Decode(utf8Name)); }

void TXmlKeyList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  FItems.erase(FItems.begin() + index);
}

TXmlKey* TXmlKeyList::AddKey(std::unique_ptr<TXmlKey> key) {
  FItems.push_back(std::move(key));
  return FItems.back().get();
}

TXmlAttribute* TXmlAttributeList::AddStored(std::string storedName, std::string storedValue) {
  auto attribute = std::make_unique<TXmlAttribute>();
  attribute->Name = std::move(storedName);
  attribute->Value = std::move(storedValue);
  return static_cast<TXmlAttribute*>(AddKey(std::move(attribute)));
}

TXmlNode* TXmlNodeList::Items(int index) const { return static_cast<TXmlNode*>(KeyAt(index)); }

TXmlNode* TXmlNodeList::Add(std::unique_ptr<TXmlNode> node) {
  return static_cast<TXmlNode*>(AddKey(std::move(node)));
}

// ---- nodes -------------------------------------------------------------------------------

TXmlNode* TXmlNode::AddChild(const std::wstring& name) {
  auto child = std::make_unique<TXmlNode>(name);
  child->Parent = this;
  return Children.Add(std::move(child));
}

TXmlNode* TXmlNode::AddChild(const std::string& utf8Name) { return AddChild(Utf8Decode(utf8Name)); }

TXmlNode* TXmlNode::FindChild(const std::wstring& name) const {
  return static_cast<TXmlNode*>(Children.FindByName(name));
}

TXmlNode* TXmlNode::FindChild(const std::string& utf8Name) const { return FindChild(Utf8Decode(utf8Name)); }

TXmlNode* TXmlNode::ChildByName(const std::wstring& name) {
  TXmlNode* child = FindChild(name);
  return child ? child : AddChild(name);
}

TXmlNode* TXmlNode::ChildByName(const std::string& utf8Name) { return ChildByName(Utf8Decode(utf8Name)); }

TXmlAttribute* TXmlNode::FindAttribute(const std::wstring& name) const {
  return static_cast<TXmlAttribute*>(Attributes.FindByName(name));
}

TXmlAttribute* TXmlNode::FindAttribute(const std::string& utf8Name) const {
  return FindAttribute(Utf8Decode(utf8Name));
}

TXmlAttribute* TXmlNode::AttributeByName(const std::wstring& name) {
  TXmlAttribute* attribute = FindAttribute(name);
  return attribute ? attribute : Attributes.AddStored(XmlEncode(name), std::string());
}

TXmlAttribute* TXmlNode::AttributeByName(const std::string& utf8Name) {
  return AttributeByName(Utf8Decode(utf8Name));
}

// ---- parsing -------------------------------------------------------------------------------

namespace {

// Where a parse failed and why; filled just before a failure is raised.
struct TParseError {
  std::size_t& Offset;
  std::string& Detail;
  void Set(std::size_t offset, std::string detail) {
    Offset = offset;
    Detail = std::move(detail);
  }
  [[noreturn]] void Raise(std::size_t offset, std::string detail) {
    Set(offset, std::move(detail));
    RaiseTagsDoNotMatch();
  }
};

std::string Shown(std::string_view text) {
  constexpr std::size_t kMax = 40;
  return text.size() <= kMax ? std::string(text) : std::string(text.substr(0, kMax)) + "...";
}

// Fills a node's attributes from the text after its name (from the first
// blank on), which starts at byte `base` of the document. Each attribute is
// a name, "=" and a value in double quotes or apostrophes, the same quote
// closing it; values are kept in stored form.
void ParseAttributes(TXmlNode& node, std::string_view text, std::size_t base, TParseError& error) {
  node.Attributes.Clear();
  std::size_t pos = 0;
  for (;;) {
    while (pos < text.size() && IsBlankByte(text[pos])) ++pos;
    if (pos == text.size()) return;
    std::size_t eq = text.find('=', pos);
    if (eq == std::string_view::npos)
      error.Raise(base + pos, "\"" + Shown(TrimBytes(text.substr(pos))) + "\" in the tag <" + node.Name +
                                  "> is no attribute (name=\"value\")");
    std::string_view name = TrimBytes(text.substr(pos, eq - pos));
    if (name.empty()) {
      error.Set(base + eq, "an attribute of <" + node.Name + "> has no name before its \"=\"");
      NV_ASSERT(false, kSource, 1301);
    }
    for (std::size_t i = 0; i < name.size(); ++i)
      if (IsBlankByte(name[i]))
        error.Raise(base + pos, "\"" + Shown(name.substr(0, i)) + "\" in the tag <" + node.Name +
                                    "> is no attribute (name=\"value\"); a value without quotes?");
    std::size_t open = eq + 1;
    while (open < text.size() && IsBlankByte(text[open])) ++open;
    const char quote = open < text.size() ? text[open] : '\0';
    const std::string what = "the value of the attribute " + std::string(name) + " of <" + node.Name + ">";
    if (quote != '"' && quote != '\'') {
      error.Set(base + open, what + " is not in quotes");
      NV_ASSERT(false, kSource, 1314);
    }
    std::size_t close = text.find(quote, open + 1);
    if (close == std::string_view::npos) {
      error.Set(base + open, what + " has no closing quote");
      NV_ASSERT(false, kSource, quote == '"' ? 1310 : 1317);
    }
    node.Attributes.AddStored(std::string(name), std::string(text.substr(open + 1, close - open - 1)))->Offset = base + pos;
    pos = close + 1;
  }
}

// Fills a new node from the text between "<" and ">" (a final "/" dropped),
// which starts at byte `base` of the document. Any blank ends the name.
void ParseTag(TXmlNode& node, std::string_view tag, std::size_t base, TParseError& error) {
  std::size_t blank = 0;
  while (blank < tag.size() && !IsBlankByte(tag[blank])) ++blank;
  if (blank < tag.size()) {
    if (blank == 0) {
      error.Set(base, "a blank right after \"<\"");
      NV_ASSERT(false, kSource, 1165);
    }
    node.Name = std::string(tag.substr(0, blank));
    ParseAttributes(node, tag.substr(blank), base + blank, error);
  } else {
    if (tag.empty()) {
      error.Set(base, "an empty tag \"<>\"");
      NV_ASSERT(false, kSource, 1174);
    }
    node.Name = std::string(tag);
  }
}

}  // namespace

TXmlDocument::TXmlDocument() : Root(std::make_unique<TXmlNode>()) {}

TXmlDocument::TXmlDocument(const std::wstring& rootName) : Root(std::make_unique<TXmlNode>(rootName)) {}

void TXmlDocument::LoadFromBuffer(const char* bytes, std::size_t length) {
  Root.reset();
  ErrorOffset = std::string::npos;
  ErrorDetail.clear();
  TParseError error{ErrorOffset, ErrorDetail};
  const std::string_view text(bytes ? bytes : "", bytes ? length : 0);
  static constexpr std::string_view kCDataOpen = "<![CDATA[";
  TXmlNode* current = nullptr;
  std::size_t pos = 0;
  const std::size_t n = text.size();

  auto closeCurrent = [&](std::size_t at, std::string_view name, bool named) {
    if (!current) error.Raise(at, named ? "the end tag </" + Shown(name) + "> closes no open element"
                                        : std::string("a tag closes no open element"));
    if (named && name != current->Name)
      error.Raise(at, "the end tag </" + Shown(name) + "> does not close the open element <" + current->Name + ">");
    current = current->Parent;
  };

  while (pos < n) {
    if (text[pos] != '<') {
      std::size_t lt = text.find('<', pos);
      if (lt == std::string_view::npos) lt = n;
      if (current && lt > pos) current->Value.assign(text.data() + pos, lt - pos);
      pos = lt;
      continue;
    }
    if (text.compare(pos, kCDataOpen.size(), kCDataOpen) == 0) {
      std::size_t start = pos + kCDataOpen.size();
      std::size_t end = text.find("]]>", start);
      if (end == std::string_view::npos) error.Raise(pos, "a CDATA section without its end \"]]>\"");
      if (current && end > start) {
        current->Value.assign(text.data() + start, end - start);
        current->CData = true;
      }
      pos = end + 3;
      continue;
    }
    std::size_t gt = text.find('>', pos);
    if (gt == std::string_view::npos) error.Raise(pos, "a \"<\" without its \">\"");
    char kind = pos + 1 < n ? text[pos + 1] : '\0';
    if (kind == '!') {
      std::size_t end = text.find("-->", pos);
      if (end == std::string_view::npos) error.Raise(pos, "a comment without its end \"-->\"");
      pos = end + 3;
      continue;
    }
    bool selfClosing = gt > pos + 1 && text[gt - 1] == '/';
    if (kind == '/') {
      closeCurrent(pos, TrimBytes(text.substr(pos + 2, gt - pos - 2)), true);
      selfClosing = false;
    } else if (kind != '?') {
      if (!current && Root)
        error.Raise(pos, "a second top-level element after <" + Root->Name + "> (a document has one)");
      std::string_view tag = text.substr(pos + 1, gt - pos - 1);
      if (selfClosing) tag.remove_suffix(1);
      auto node = std::make_unique<TXmlNode>();
      node->Parent = current;
      node->Offset = pos;
      ParseTag(*node, tag, pos + 1, error);
      if (current) {
        current = current->Children.Add(std::move(node));
      } else {
        Root = std::move(node);
        current = Root.get();
      }
    }
    if (selfClosing) closeCurrent(gt - 1, {}, false);
    pos = gt + 1;
  }
  if (current) error.Raise(current->Offset, "the element <" + current->Name + "> is not closed");
}

void TXmlDocument::LoadFromStream(TMemoryStream& stream) {
  const std::string& bytes = stream.Bytes();
  std::size_t pos = stream.Position();
  stream.SetPosition(bytes.size());
  LoadFromBuffer(bytes.data() + pos, bytes.size() - pos);
}

// ---- writing -------------------------------------------------------------------------------

namespace {

void WriteNode(const TXmlNode& node, const std::string& indent, bool formatted, std::vector<std::string>& lines) {
  std::string tag = node.Name;
  for (int i = 0; i < node.Attributes.Count(); ++i) {
    const TXmlAttribute* a = node.Attributes.Items(i);
    tag += ' ';
    tag += a->Name;
    tag += "=\"";
    tag += a->Value;
    tag += '"';
  }
  std::string body = node.CData ? "<![CDATA[" + node.Value + "]]>" : node.Value;
  const std::string& pad = formatted ? indent : std::string();
  if (node.Children.Empty()) {
    if (body.empty()) lines.push_back(pad + "<" + tag + "/>");
    else lines.push_back(pad + "<" + tag + ">" + body + "</" + node.Name + ">");
    return;
  }
  lines.push_back(pad + "<" + tag + ">" + body);
  const std::string inner = indent + "    ";
  for (int i = 0; i < node.Children.Count(); ++i) WriteNode(*node.Children.Items(i), inner, formatted, lines);
  lines.push_back(pad + "</" + node.Name + ">");
}

}  // namespace

std::string TXmlDocument::SaveToString() const {
  std::vector<std::string> lines;
  if (WriteDeclaration) lines.emplace_back("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  if (Root) WriteNode(*Root, std::string(), Formatted, lines);
  std::size_t total = 0;
  for (const auto& line : lines) total += line.size() + (Formatted ? 2 : 0);
  std::string out;
  out.reserve(total);
  for (const auto& line : lines) {
    out += line;
    if (Formatted) out += "\r\n";
  }
  return out;
}

void TXmlDocument::SaveToStream(TMemoryStream& stream) const { stream.Write(SaveToString()); }
