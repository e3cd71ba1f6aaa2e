#include "PeProductInfo.h"

#include <algorithm>
#include <set>

namespace {

[[noreturn]] void Fail(const std::string& cause) { throw EPeFormatError(L"Invalid resource: " + std::wstring(cause.begin(), cause.end())); }

uint16_t Get16(const std::string& b, size_t off) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[off]) | static_cast<uint8_t>(b[off + 1]) << 8);
}
uint32_t Get32(const std::string& b, size_t off) { return Get16(b, off) | static_cast<uint32_t>(Get16(b, off + 2)) << 16; }
void Add16(std::string& b, uint16_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>(v >> 8);
}
void Add32(std::string& b, uint32_t v) {
  Add16(b, static_cast<uint16_t>(v & 0xFFFF));
  Add16(b, static_cast<uint16_t>(v >> 16));
}
void Pad4(std::string& b) {
  while (b.size() % 4) b += '\0';
}

void AddText(std::string& b, const std::wstring& text) {
  for (char16_t u : ToUtf16(text)) Add16(b, u);
  Add16(b, 0);
}

// ---- icon groups ----------------------------------------------------------

struct TGroupEntry {
  uint32_t Size;
  uint16_t Id;
};

std::vector<TGroupEntry> ParseGroup(const std::string& d) {
  if (d.size() < 6 || Get16(d, 0) != 0 || Get16(d, 2) != 1) Fail("an icon group has no icon directory header");
  uint16_t count = Get16(d, 4);
  if (d.size() < 6 + 14 * size_t(count)) Fail("an icon group lists more icons than it holds");
  std::vector<TGroupEntry> out;
  for (uint16_t i = 0; i < count; ++i) {
    size_t e = 6 + 14 * size_t(i);
    uint8_t w = static_cast<uint8_t>(d[e]);
    out.push_back({w ? w : 256u, Get16(d, e + 12)});
  }
  return out;
}

const TPeResourceEntry* FirstOfType(const TPeImage& image, uint16_t type) {
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == type) return &e;
  return nullptr;
}

// ---- version resource -----------------------------------------------------

// One node of a version resource: header, key, value and children. `end` is
// the end of the node (its wLength) inside `data`.
struct TNode {
  size_t Start = 0, End = 0, ValueStart = 0, ChildrenStart = 0;
  uint16_t ValueLength = 0, Type = 0;
  std::wstring Key;
};

TNode ReadNode(const std::string& d, size_t at, size_t limit) {
  if (at + 6 > limit) Fail("a version resource block is cut short");
  TNode n;
  n.Start = at;
  uint16_t length = Get16(d, at);
  if (length < 6 || at + length > limit) Fail("a version resource block has a wrong length");
  n.End = at + length;
  n.ValueLength = Get16(d, at + 2);
  n.Type = Get16(d, at + 4);
  size_t p = at + 6;
  std::u16string key;
  for (;;) {
    if (p + 2 > n.End) Fail("a version resource key has no end");
    char16_t u = static_cast<char16_t>(Get16(d, p));
    p += 2;
    if (!u) break;
    key += u;
  }
  n.Key = FromUtf16(key);
  n.ValueStart = std::min(n.End, (p + 3) / 4 * 4);
  return n;
}

// The text value of a String node: up to its terminating zero or its end.
std::wstring TextValue(const std::string& d, const TNode& n) {
  std::u16string units;
  for (size_t p = n.ValueStart; p + 2 <= n.End; p += 2) {
    char16_t u = static_cast<char16_t>(Get16(d, p));
    if (!u) break;
    units += u;
  }
  return FromUtf16(units);
}

// The child nodes starting at `from` (4-aligned) up to `node.End`.
std::vector<TNode> Children(const std::string& d, size_t from, const TNode& node) {
  std::vector<TNode> out;
  size_t p = (from + 3) / 4 * 4;
  while (p + 6 <= node.End) {
    if (Get16(d, p) == 0) break;  // padding some writers leave at the end
    TNode c = ReadNode(d, p, node.End);
    out.push_back(c);
    p = (c.End + 3) / 4 * 4;
  }
  return out;
}

// A block: header, key, padding, value, then each child 4-aligned.
std::string Block(const std::wstring& key, uint16_t type, const std::string& value, uint16_t valueLength,
                  const std::vector<std::string>& children) {
  std::string b(6, '\0');
  AddText(b, key);
  Pad4(b);
  b += value;
  for (const auto& c : children) {
    Pad4(b);
    b += c;
  }
  b[0] = static_cast<char>(b.size() & 0xFF);
  b[1] = static_cast<char>(b.size() >> 8);
  b[2] = static_cast<char>(valueLength & 0xFF);
  b[3] = static_cast<char>(valueLength >> 8);
  b[4] = static_cast<char>(type);
  return b;
}

std::wstring TableKey(uint16_t language, uint16_t codePage) {
  static const wchar_t digits[] = L"0123456789abcdef";
  uint32_t v = static_cast<uint32_t>(language) << 16 | codePage;
  std::wstring k(8, L'0');
  for (int i = 7; i >= 0; --i, v >>= 4) k[i] = digits[v & 0xF];
  return k;
}

}  // namespace

std::string MakeIconDib(uint32_t size, const std::vector<uint8_t>& rgba) {
  if (size == 0 || size > 256 || rgba.size() != size_t(size) * size * 4) Fail("icon picture size mismatch");
  const size_t maskRow = (size + 31) / 32 * 4;
  std::string b;
  Add32(b, 40);
  Add32(b, size);
  Add32(b, size * 2);
  Add16(b, 1);
  Add16(b, 32);
  Add32(b, 0);
  Add32(b, static_cast<uint32_t>(size_t(size) * size * 4 + maskRow * size));
  for (int i = 0; i < 4; ++i) Add32(b, 0);
  for (uint32_t y = size; y-- > 0;)
    for (uint32_t x = 0; x < size; ++x) {
      const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
      b += static_cast<char>(p[2]);
      b += static_cast<char>(p[1]);
      b += static_cast<char>(p[0]);
      b += static_cast<char>(p[3]);
    }
  for (uint32_t y = size; y-- > 0;) {
    std::string row(maskRow, '\0');
    for (uint32_t x = 0; x < size; ++x)
      if (rgba[(size_t(y) * size + x) * 4 + 3] == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    b += row;
  }
  return b;
}

void SetMainIcon(TPeImage& image, const std::vector<TPeIconImage>& images) {
  if (images.empty() || images.size() > 0xFFFF) Fail("an icon needs one picture or more");
  TPeResId groupName(1);
  uint16_t language = PE_LANG_ZH_CN;
  if (const TPeResourceEntry* group = FirstOfType(image, PE_RT_GROUP_ICON)) {
    groupName = group->Name;
    language = group->Language;
    std::set<uint16_t> stale;
    for (const auto& e : ParseGroup(group->Data)) stale.insert(e.Id);
    // Pictures another group still lists stay.
    for (const auto& e : image.Resources())
      if (!e.Type.IsName() && e.Type.Id() == PE_RT_GROUP_ICON && !e.Name.SameAs(groupName))
        for (const auto& g : ParseGroup(e.Data)) stale.erase(g.Id);
    for (uint16_t id : stale) image.RemoveResource(TPeResId(PE_RT_ICON), TPeResId(id));
    image.RemoveResource(TPeResId(PE_RT_GROUP_ICON), groupName);
  }
  std::set<uint16_t> used;
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == PE_RT_ICON && !e.Name.IsName()) used.insert(e.Name.Id());
  std::string dir;
  Add16(dir, 0);
  Add16(dir, 1);
  Add16(dir, static_cast<uint16_t>(images.size()));
  uint32_t next = 1;
  for (const TPeIconImage& picture : images) {
    if (picture.Size == 0 || picture.Size > 256) Fail("an icon picture must be 1 to 256 pixels a side");
    while (used.count(static_cast<uint16_t>(next))) ++next;
    if (next > 0xFFFF) Fail("no free icon ID is left");
    const auto id = static_cast<uint16_t>(next);
    used.insert(id);
    image.SetResource(TPeResId(PE_RT_ICON), TPeResId(id), language, picture.Data);
    const auto side = static_cast<char>(picture.Size == 256 ? 0 : picture.Size);
    dir += side;
    dir += side;
    dir += '\0';  // colour count
    dir += '\0';
    Add16(dir, 1);  // planes
    Add16(dir, picture.BitCount);
    Add32(dir, static_cast<uint32_t>(picture.Data.size()));
    Add16(dir, id);
  }
  image.SetResource(TPeResId(PE_RT_GROUP_ICON), groupName, language, dir);
}

std::vector<uint32_t> MainIconSizes(const TPeImage& image) {
  std::vector<uint32_t> out;
  if (const TPeResourceEntry* group = FirstOfType(image, PE_RT_GROUP_ICON))
    for (const auto& e : ParseGroup(group->Data)) out.push_back(e.Size);
  return out;
}

std::wstring TPeVersionInfo::Get(const std::wstring& name) const {
  for (const auto& [key, value] : Strings)
    if (key == name) return value;
  return {};
}

std::string BuildVersionResource(const TPeVersionInfo& info) {
  auto ms = [](const std::array<uint16_t, 4>& v) { return static_cast<uint32_t>(v[0]) << 16 | v[1]; };
  auto ls = [](const std::array<uint16_t, 4>& v) { return static_cast<uint32_t>(v[2]) << 16 | v[3]; };
  std::string fixed;
  Add32(fixed, 0xFEEF04BD);  // signature
  Add32(fixed, 0x00010000);  // structure version
  Add32(fixed, ms(info.FileVersion));
  Add32(fixed, ls(info.FileVersion));
  Add32(fixed, ms(info.ProductVersion));
  Add32(fixed, ls(info.ProductVersion));
  Add32(fixed, 0x3F);        // flags mask
  Add32(fixed, 0);           // flags
  Add32(fixed, 0x00040004);  // VOS_NT_WINDOWS32
  Add32(fixed, 1);           // VFT_APP
  Add32(fixed, 0);           // subtype
  Add32(fixed, 0);           // date
  Add32(fixed, 0);

  std::vector<std::string> strings;
  for (const auto& [name, value] : info.Strings) {
    std::string v;
    AddText(v, value);
    strings.push_back(Block(name, 1, v, static_cast<uint16_t>(v.size() / 2), {}));
  }
  std::string table = Block(TableKey(info.Language, info.CodePage), 1, {}, 0, strings);
  std::string stringInfo = Block(L"StringFileInfo", 1, {}, 0, {table});
  std::string translation;
  Add16(translation, info.Language);
  Add16(translation, info.CodePage);
  std::string var = Block(L"Translation", 0, translation, 4, {});
  std::string varInfo = Block(L"VarFileInfo", 1, {}, 0, {var});
  std::string all = Block(L"VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()), {stringInfo, varInfo});
  if (all.size() > 0xFFFF) Fail("the version information is too long");
  return all;
}

TPeVersionInfo ParseVersionResource(const std::string& d) {
  TNode root = ReadNode(d, 0, d.size());
  if (root.Key != L"VS_VERSION_INFO") Fail("the version resource does not start with VS_VERSION_INFO");
  if (root.ValueLength < 52 || root.ValueStart + 52 > root.End || Get32(d, root.ValueStart) != 0xFEEF04BD)
    Fail("the version resource has no fixed file information");
  TPeVersionInfo info;
  auto split = [&](size_t at, std::array<uint16_t, 4>& v) {
    uint32_t hi = Get32(d, at), lo = Get32(d, at + 4);
    v = {static_cast<uint16_t>(hi >> 16), static_cast<uint16_t>(hi), static_cast<uint16_t>(lo >> 16), static_cast<uint16_t>(lo)};
  };
  split(root.ValueStart + 8, info.FileVersion);
  split(root.ValueStart + 16, info.ProductVersion);
  bool haveTable = false;
  for (const TNode& block : Children(d, root.ValueStart + root.ValueLength, root)) {
    if (block.Key != L"StringFileInfo" || haveTable) continue;
    std::vector<TNode> tables = Children(d, block.ValueStart, block);
    if (tables.empty()) continue;
    const TNode& table = tables.front();
    if (table.Key.size() != 8) Fail("the version string table has no language key");
    uint32_t code = 0;
    for (wchar_t c : table.Key) {
      int digit = c >= L'0' && c <= L'9' ? c - L'0' : (c >= L'a' && c <= L'f') ? c - L'a' + 10 : (c >= L'A' && c <= L'F') ? c - L'A' + 10 : -1;
      if (digit < 0) Fail("the version string table key is not hexadecimal");
      code = code << 4 | static_cast<uint32_t>(digit);
    }
    info.Language = static_cast<uint16_t>(code >> 16);
    info.CodePage = static_cast<uint16_t>(code);
    for (const TNode& s : Children(d, table.ValueStart, table)) info.Strings.emplace_back(s.Key, TextValue(d, s));
    haveTable = true;
  }
  return info;
}

void SetVersionResource(TPeImage& image, const TPeVersionInfo& info) {
  TPeResId name(1);
  if (const TPeResourceEntry* existing = FirstOfType(image, PE_RT_VERSION)) name = existing->Name;
  std::vector<TPeResId> names;
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == PE_RT_VERSION) names.push_back(e.Name);
  for (const auto& n : names) image.RemoveResource(TPeResId(PE_RT_VERSION), n);
  image.SetResource(TPeResId(PE_RT_VERSION), name, info.Language, BuildVersionResource(info));
}

bool FindVersionResource(const TPeImage& image, TPeVersionInfo& info) {
  const TPeResourceEntry* entry = FirstOfType(image, PE_RT_VERSION);
  if (!entry) return false;
  info = ParseVersionResource(entry->Data);
  return true;
}
