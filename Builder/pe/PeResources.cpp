#include "PeResources.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <set>

namespace {

constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirCertificate = 4;
constexpr uint32_t kDirBaseReloc = 5;
constexpr uint32_t kDirDebug = 6;
constexpr uint32_t kDirBoundImport = 11;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kMaxSections = 96;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kResourceSectionFlags = 0x40000040u;  // initialised data, readable

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

[[noreturn]] void Fail(const std::string& cause) { throw EPeFormatError(L"Invalid PE image: " + Widen(cause)); }

std::string Hex(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
  return buffer;
}

bool Within(const std::string& bytes, uint64_t offset, uint64_t size) {
  return offset <= bytes.size() && size <= bytes.size() - offset;
}

uint16_t Get16(const std::string& b, size_t off) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[off]) | static_cast<uint8_t>(b[off + 1]) << 8);
}
uint32_t Get32(const std::string& b, size_t off) { return Get16(b, off) | static_cast<uint32_t>(Get16(b, off + 2)) << 16; }

void Put16(std::string& b, size_t off, uint16_t v) {
  b[off] = static_cast<char>(v & 0xFF);
  b[off + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t off, uint32_t v) {
  Put16(b, off, static_cast<uint16_t>(v & 0xFFFF));
  Put16(b, off + 2, static_cast<uint16_t>(v >> 16));
}

constexpr uint32_t kPageSize = 4096;

uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }
bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
bool Exceeds4G(uint64_t size) { return size > 0xFFFFFFFFull; }


char16_t FoldUnit(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

std::u16string FoldedUtf16(const std::wstring& text) {
  std::u16string units = ToUtf16(text);
  for (auto& c : units) c = FoldUnit(c);
  return units;
}

// Two names by their upper-cased UTF-16 units. Names of the basic plane
// (every name a package uses) are compared in place: a build compares names
// millions of times.
int CompareFolded(const std::wstring& a, const std::wstring& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<uint32_t>(a[i]), cb = static_cast<uint32_t>(b[i]);
    if (ca > 0xFFFF || cb > 0xFFFF) {
      std::u16string x = FoldedUtf16(a), y = FoldedUtf16(b);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    const char16_t x = FoldUnit(static_cast<char16_t>(ca)), y = FoldUnit(static_cast<char16_t>(cb));
    if (x != y) return x < y ? -1 : 1;
  }
  // Equal up to the shorter one: the longer has more units too.
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Tree order of one level: names (by upper-cased UTF-16 units) before IDs.
int CompareIds(const TPeResId& a, const TPeResId& b) {
  if (a.IsName() != b.IsName()) return a.IsName() ? -1 : 1;
  if (!a.IsName()) return a.Id() < b.Id() ? -1 : (a.Id() > b.Id() ? 1 : 0);
  return CompareFolded(a.Name(), b.Name());
}

int CompareEntries(const TPeResourceEntry& a, const TPeResourceEntry& b) {
  if (int c = CompareIds(a.Type, b.Type)) return c;
  if (int c = CompareIds(a.Name, b.Name)) return c;
  return a.Language < b.Language ? -1 : (a.Language > b.Language ? 1 : 0);
}

}  // namespace

std::u16string ToUtf16(const std::wstring& text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<uint32_t>(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c & 0xFFFF);
    }
  }
  return out;
}

std::wstring FromUtf16(const std::u16string& units) {
  std::wstring out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    if constexpr (sizeof(wchar_t) >= 4) {
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
        ++i;
        continue;
      }
    }
    out += static_cast<wchar_t>(u);
  }
  return out;
}

// ---- TPeResId --------------------------------------------------------------

std::wstring TPeResId::ToString() const { return FIsName ? FName : L"#" + std::to_wstring(FId); }

bool TPeResId::SameAs(const TPeResId& other) const {
  if (FIsName != other.FIsName) return false;
  return FIsName ? CompareFolded(FName, other.FName) == 0 : FId == other.FId;
}

TPeResId TPeResId::Normalized() const {
  if (!FIsName) return *this;
  std::wstring upper = FName;
  for (auto& c : upper)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
  return TPeResId(upper);
}

// ---- parsing ---------------------------------------------------------------

TPeImage TPeImage::Parse(std::string bytes) {
  TPeImage image;
  image.FBytes = std::move(bytes);
  image.ParseHeaders();
  image.ParseResources();
  return image;
}

uint32_t TPeImage::DirRva(uint32_t index) const {
  return index < FDirCount ? Get32(FBytes, FDirOffset + 8 * index) : 0;
}
uint32_t TPeImage::DirSize(uint32_t index) const {
  return index < FDirCount ? Get32(FBytes, FDirOffset + 8 * index + 4) : 0;
}

void TPeImage::ParseHeaders() {
  const std::string& b = FBytes;
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') Fail("no MZ header");
  uint32_t peOffset = Get32(b, 0x3C);
  if (!Within(b, peOffset, 24)) Fail("the PE header offset " + Hex(peOffset) + " lies beyond the end of the file");
  if (std::memcmp(b.data() + peOffset, "PE\0\0", 4) != 0) Fail("no PE signature at " + Hex(peOffset));
  FPeOffset = peOffset;
  FMachine = Get16(b, FPeOffset + 4);
  uint16_t sectionCount = Get16(b, FPeOffset + 6);
  uint16_t optSize = Get16(b, FPeOffset + 20);
  FOptOffset = FPeOffset + 24;
  if (!Within(b, FOptOffset, optSize)) Fail("the optional header lies beyond the end of the file");
  if (optSize < 2) Fail("the optional header is missing");
  uint16_t magic = Get16(b, FOptOffset);
  if (magic == 0x20B)
    FIs64 = true;
  else if (magic == 0x10B)
    FIs64 = false;
  else
    Fail("unknown optional header magic " + Hex(magic));
  size_t fixedSize = FIs64 ? 112 : 96;
  if (optSize < fixedSize) Fail("the optional header is too small (" + std::to_string(optSize) + " bytes)");
  FSectionAlignment = Get32(b, FOptOffset + 32);
  FFileAlignment = Get32(b, FOptOffset + 36);
  FSizeOfImage = Get32(b, FOptOffset + 56);
  FSizeOfHeaders = Get32(b, FOptOffset + 60);
  // The headers are part of the file; a size beyond it would have Save grow
  // the headers to that size.
  if (FSizeOfHeaders > b.size())
    Fail("SizeOfHeaders " + Hex(FSizeOfHeaders) + " lies beyond the end of the file");
  uint32_t rvaCount = Get32(b, FOptOffset + fixedSize - 4);
  FDirOffset = FOptOffset + fixedSize;
  FDirCount = std::min<uint32_t>(rvaCount, static_cast<uint32_t>((optSize - fixedSize) / 8));
  if (!IsPowerOfTwo(FFileAlignment) || FFileAlignment > 0x10000)
    Fail("file alignment " + Hex(FFileAlignment) + " is not a power of two up to 64 KB");
  if (!IsPowerOfTwo(FSectionAlignment) || FSectionAlignment < FFileAlignment)
    Fail("section alignment " + Hex(FSectionAlignment) + " is not a power of two at least the file alignment");

  FSectionTable = FOptOffset + optSize;
  if (sectionCount > kMaxSections) Fail(std::to_string(sectionCount) + " sections (at most 96 are allowed)");
  if (!Within(b, FSectionTable, kSectionHeaderSize * sectionCount))
    Fail("the section table lies beyond the end of the file");
  // SizeOfHeaders covers the headers and the section table; Save keeps what
  // lies below it in place and moves what lies above.
  if (FSizeOfHeaders < FSectionTable + kSectionHeaderSize * sectionCount)
    Fail("SizeOfHeaders " + Hex(FSizeOfHeaders) + " does not cover the headers and the section table");
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t h = FSectionTable + kSectionHeaderSize * i;
    TSection s{};
    std::memcpy(s.Name, b.data() + h, 8);
    s.VirtualSize = Get32(b, h + 8);
    s.VirtualAddress = Get32(b, h + 12);
    s.SizeOfRawData = Get32(b, h + 16);
    s.PointerToRawData = Get32(b, h + 20);
    s.Characteristics = Get32(b, h + 36);
    std::string name(s.Name, strnlen(s.Name, 8));
    if (s.SizeOfRawData != 0 && !Within(b, s.PointerToRawData, s.SizeOfRawData))
      Fail("the raw data of section \"" + name + "\" lies beyond the end of the file");
    if (s.SizeOfRawData != 0 && s.PointerToRawData < FSectionTable + kSectionHeaderSize * sectionCount)
      Fail("the raw data of section \"" + name + "\" overlaps the headers");
    if (s.VirtualAddress % FSectionAlignment != 0)
      Fail("section \"" + name + "\" starts at RVA " + Hex(s.VirtualAddress) + ", off the section alignment");
    if (!FSections.empty()) {
      const TSection& prev = FSections.back();
      uint64_t prevEnd = uint64_t(prev.VirtualAddress) + (prev.VirtualSize ? prev.VirtualSize : prev.SizeOfRawData);
      if (s.VirtualAddress < prevEnd) Fail("section \"" + name + "\" overlaps the section before it");
    }
    FSections.push_back(s);
  }

  if (FDirCount > kDirCertificate && DirSize(kDirCertificate) != 0) {
    FCertOffset = DirRva(kDirCertificate);  // a file offset, not an RVA
    FCertSize = DirSize(kDirCertificate);
    if (!Within(b, FCertOffset, FCertSize)) Fail("the certificate table lies beyond the end of the file");
  }
}

size_t TPeImage::RvaToOffset(uint32_t rva, uint32_t size, const char* what) const {
  for (const TSection& s : FSections) {
    if (rva < s.VirtualAddress) continue;
    uint64_t delta = rva - s.VirtualAddress;
    uint64_t extent = s.VirtualSize ? s.VirtualSize : s.SizeOfRawData;
    if (delta >= extent && !(size == 0 && delta == extent)) continue;
    if (delta + size > s.SizeOfRawData)
      Fail(std::string(what) + " at RVA " + Hex(rva) + " (" + std::to_string(size) +
           " bytes) is not within its section's data in the file");
    return static_cast<size_t>(s.PointerToRawData + delta);
  }
  if (uint64_t(rva) + size <= FSizeOfHeaders && Within(FBytes, rva, size)) return rva;
  Fail(std::string(what) + " at RVA " + Hex(rva) + " lies outside every section");
}

void TPeImage::ParseResources() {
  uint32_t rootRva = DirRva(kDirResource);
  if (rootRva == 0) return;
  const std::string& b = FBytes;
  int sectionIndex = -1;
  for (size_t i = 0; i < FSections.size(); ++i) {
    const TSection& s = FSections[i];
    uint64_t extent = s.VirtualSize ? s.VirtualSize : s.SizeOfRawData;
    if (rootRva >= s.VirtualAddress && rootRva - s.VirtualAddress < extent) sectionIndex = static_cast<int>(i);
  }
  if (sectionIndex < 0) Fail("the resource directory at RVA " + Hex(rootRva) + " lies outside every section");
  FResourceSection = sectionIndex;
  const TSection& rs = FSections[sectionIndex];
  uint32_t rootDelta = rootRva - rs.VirtualAddress;
  if (rootDelta >= rs.SizeOfRawData) Fail("the resource directory is not within its section's data in the file");
  const size_t base = rs.PointerToRawData + rootDelta;
  const uint64_t avail = rs.SizeOfRawData - rootDelta;  // tree bytes available from the root on

  auto need = [&](uint64_t offset, uint64_t size, const char* what) {
    if (offset > avail || size > avail - offset)
      Fail(std::string(what) + " at resource offset " + Hex(offset) + " lies outside the resource section");
    return base + static_cast<size_t>(offset);
  };
  auto readId = [&](uint32_t field) -> TPeResId {
    if (field & kHighBit) {
      size_t at = need(field & ~kHighBit, 2, "a resource name");
      uint16_t length = Get16(b, at);
      need((field & ~kHighBit) + 2, 2 * uint64_t(length), "a resource name");
      std::u16string units(length, u'\0');
      for (size_t i = 0; i < length; ++i) units[i] = static_cast<char16_t>(Get16(b, at + 2 + 2 * i));
      return TPeResId(FromUtf16(units));
    }
    if (field > 0xFFFF) Fail("resource ID " + Hex(field) + " does not fit in 16 bits");
    return TPeResId(static_cast<uint16_t>(field));
  };

  const uint64_t dataLimit = uint64_t(b.size()) + FSizeOfImage;
  uint64_t dataTotal = 0;
  std::set<uint32_t> visited{0};
  struct TPending {
    uint32_t Offset;
    int Level;
    TPeResId Type, Name;
  };
  std::vector<TPending> stack{{0, 0, {}, {}}};
  std::vector<TPeResourceEntry> entries;
  while (!stack.empty()) {
    TPending dir = stack.back();
    stack.pop_back();
    size_t at = need(dir.Offset, 16, "a resource directory table");
    uint32_t count = uint32_t(Get16(b, at + 12)) + Get16(b, at + 14);
    need(uint64_t(dir.Offset) + 16, 8 * uint64_t(count), "a resource directory table");
    for (uint32_t i = 0; i < count; ++i) {
      size_t e = at + 16 + 8 * size_t(i);
      uint32_t nameField = Get32(b, e), dataField = Get32(b, e + 4);
      TPeResId id = readId(nameField);
      if (dir.Level < 2) {
        if (!(dataField & kHighBit)) Fail("a resource data entry at the type or name level of the tree");
        uint32_t sub = dataField & ~kHighBit;
        if (!visited.insert(sub).second)
          Fail("resource directory table at offset " + Hex(sub) + " is reached twice (a loop in the tree)");
        if (dir.Level == 0)
          stack.push_back({sub, 1, id, {}});
        else
          stack.push_back({sub, 2, dir.Type, id});
        continue;
      }
      if (dataField & kHighBit) Fail("the resource tree is deeper than type, name and language");
      if (id.IsName()) Fail("a resource language given by name");
      size_t d = need(dataField, 16, "a resource data entry");
      uint32_t dataRva = Get32(b, d), size = Get32(b, d + 4);
      dataTotal += size;
      if (dataTotal > dataLimit) Fail("the resource data is larger than the image");
      TPeResourceEntry entry;
      entry.Type = dir.Type;
      entry.Name = dir.Name;
      entry.Language = id.Id();
      entry.CodePage = Get32(b, d + 8);
      if (size != 0) entry.Data = b.substr(RvaToOffset(dataRva, size, "resource data"), size);
      entries.push_back(std::move(entry));
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TPeResourceEntry& x, const TPeResourceEntry& y) { return CompareEntries(x, y) < 0; });
  FEntries = std::move(entries);
}

// ---- editing ---------------------------------------------------------------

const TPeResourceEntry* TPeImage::FindResource(const TPeResId& type, const TPeResId& name, uint16_t language) const {
  for (const auto& e : FEntries)
    if (e.Language == language && e.Type.SameAs(type) && e.Name.SameAs(name)) return &e;
  return nullptr;
}

const TPeResourceEntry* TPeImage::FindResource(const TPeResId& type, const TPeResId& name) const {
  for (const auto& e : FEntries)
    if (e.Type.SameAs(type) && e.Name.SameAs(name)) return &e;
  return nullptr;
}

void TPeImage::Insert(TPeResourceEntry entry) {
  auto at = std::lower_bound(FEntries.begin(), FEntries.end(), entry, [](const auto& x, const auto& y) {
    return CompareEntries(x, y) < 0;
  });
  FEntries.insert(at, std::move(entry));
}

void TPeImage::SetResource(const TPeResId& type, const TPeResId& name, uint16_t language, std::string data,
                           uint32_t codePage) {
  if ((type.IsName() && type.Name().empty()) || (name.IsName() && name.Name().empty()))
    throw EPeFormatError(L"A resource type or name text must not be empty");
  std::erase_if(FEntries, [&](const TPeResourceEntry& e) {
    return e.Language == language && e.Type.SameAs(type) && e.Name.SameAs(name);
  });
  TPeResourceEntry entry;
  entry.Type = type.Normalized();
  entry.Name = name.Normalized();
  entry.Language = language;
  entry.CodePage = codePage;
  entry.Data = std::move(data);
  Insert(std::move(entry));
}

void TPeImage::SetRcData(const std::wstring& name, std::string data, uint16_t language) {
  RemoveResource(PE_RT_RCDATA, TPeResId(name));
  SetResource(PE_RT_RCDATA, TPeResId(name), language, std::move(data));
}

size_t TPeImage::RemoveResource(const TPeResId& type, const TPeResId& name) {
  return std::erase_if(FEntries,
                       [&](const TPeResourceEntry& e) { return e.Type.SameAs(type) && e.Name.SameAs(name); });
}

// ---- writing ---------------------------------------------------------------

// Section content: directory tables (root, types, names), data entries, name
// strings, then the data, each item aligned to 8 bytes.
uint32_t TPeImage::BuildResourceSection(uint32_t sectionRva, std::string& out, uint64_t reserveAfter) const {
  struct TRange {
    size_t First, Last;  // entry indices [First, Last)
  };
  auto sameKey = [](const TPeResId& a, const TPeResId& b) { return CompareIds(a, b) == 0; };
  std::vector<TRange> types;
  std::vector<std::vector<TRange>> names;  // per type
  for (size_t i = 0; i < FEntries.size();) {
    size_t j = i;
    while (j < FEntries.size() && sameKey(FEntries[j].Type, FEntries[i].Type)) ++j;
    types.push_back({i, j});
    names.emplace_back();
    for (size_t k = i; k < j;) {
      size_t m = k;
      while (m < j && sameKey(FEntries[m].Name, FEntries[k].Name)) ++m;
      names.back().push_back({k, m});
      k = m;
    }
    i = j;
  }

  uint64_t offset = 16 + 8 * uint64_t(types.size());
  std::vector<uint64_t> typeDirOffsets, nameDirOffsets;
  for (size_t t = 0; t < types.size(); ++t) {
    typeDirOffsets.push_back(offset);
    offset += 16 + 8 * uint64_t(names[t].size());
  }
  for (size_t t = 0; t < types.size(); ++t)
    for (const TRange& n : names[t]) {
      nameDirOffsets.push_back(offset);
      offset += 16 + 8 * uint64_t(n.Last - n.First);
    }
  const uint64_t dataEntriesOffset = offset;
  offset += 16 * uint64_t(FEntries.size());

  std::map<std::u16string, uint64_t> strings;
  std::vector<std::u16string> stringOrder;
  auto addString = [&](const TPeResId& id) {
    if (!id.IsName()) return;
    std::u16string units = ToUtf16(id.Name());
    if (units.size() > 0xFFFF) throw EPeFormatError(L"A resource name is longer than 65535 characters");
    if (strings.emplace(units, offset).second) {
      stringOrder.push_back(units);
      offset += 2 + 2 * uint64_t(units.size());
    }
  };
  for (size_t t = 0; t < types.size(); ++t) {
    addString(FEntries[types[t].First].Type);
    for (const TRange& n : names[t]) addString(FEntries[n.First].Name);
  }
  std::vector<uint64_t> dataOffsets;
  for (const auto& e : FEntries) {
    offset = AlignUp(offset, 8);
    dataOffsets.push_back(offset);
    offset += e.Data.size();
  }
  if (offset >= kHighBit || uint64_t(sectionRva) + offset > 0xFFFFFFFFull)
    throw EPeFormatError(L"The resources are too large for one resource section");

  const size_t base = out.size();
  if (uint64_t(base) + offset + reserveAfter > std::numeric_limits<size_t>::max())
    throw EPeFormatError(L"The resources are too large for one resource section");
  out.reserve(static_cast<size_t>(base + offset + reserveAfter));
  out.resize(static_cast<size_t>(base + offset), '\0');
  auto idField = [&](const TPeResId& id) {
    return id.IsName() ? kHighBit | static_cast<uint32_t>(strings.at(ToUtf16(id.Name()))) : uint32_t(id.Id());
  };
  auto writeTable = [&](uint64_t at, uint16_t named, uint16_t ids) {
    Put16(out, base + static_cast<size_t>(at + 12), named);
    Put16(out, base + static_cast<size_t>(at + 14), ids);
  };
  auto checkedCount = [](size_t count) {
    if (count > 0xFFFF) throw EPeFormatError(L"More than 65535 resource entries on one level");
    return static_cast<uint16_t>(count);
  };

  uint16_t namedTypes = 0;
  for (const TRange& t : types) namedTypes += FEntries[t.First].Type.IsName() ? 1 : 0;
  writeTable(0, namedTypes, checkedCount(types.size() - namedTypes));
  size_t nameDirIndex = 0;
  for (size_t t = 0; t < types.size(); ++t) {
    size_t e = 16 + 8 * t;
    Put32(out, base + e, idField(FEntries[types[t].First].Type));
    Put32(out, base + e + 4, kHighBit | static_cast<uint32_t>(typeDirOffsets[t]));
    uint16_t namedNames = 0;
    for (const TRange& n : names[t]) namedNames += FEntries[n.First].Name.IsName() ? 1 : 0;
    writeTable(typeDirOffsets[t], namedNames, checkedCount(names[t].size() - namedNames));
    for (size_t n = 0; n < names[t].size(); ++n, ++nameDirIndex) {
      const TRange& range = names[t][n];
      size_t ne = static_cast<size_t>(typeDirOffsets[t] + 16 + 8 * n);
      Put32(out, base + ne, idField(FEntries[range.First].Name));
      Put32(out, base + ne + 4, kHighBit | static_cast<uint32_t>(nameDirOffsets[nameDirIndex]));
      writeTable(nameDirOffsets[nameDirIndex], 0, checkedCount(range.Last - range.First));
      for (size_t l = range.First; l < range.Last; ++l) {
        size_t le = static_cast<size_t>(nameDirOffsets[nameDirIndex] + 16 + 8 * (l - range.First));
        Put32(out, base + le, FEntries[l].Language);
        Put32(out, base + le + 4, static_cast<uint32_t>(dataEntriesOffset + 16 * l));
      }
    }
  }
  for (size_t l = 0; l < FEntries.size(); ++l) {
    size_t d = static_cast<size_t>(dataEntriesOffset + 16 * l);
    Put32(out, base + d, sectionRva + static_cast<uint32_t>(dataOffsets[l]));
    Put32(out, base + d + 4, static_cast<uint32_t>(FEntries[l].Data.size()));
    Put32(out, base + d + 8, FEntries[l].CodePage);
    std::memcpy(out.data() + base + dataOffsets[l], FEntries[l].Data.data(), FEntries[l].Data.size());
  }
  for (const auto& units : stringOrder) {
    size_t at = static_cast<size_t>(strings.at(units));
    Put16(out, base + at, static_cast<uint16_t>(units.size()));
    for (size_t i = 0; i < units.size(); ++i) Put16(out, base + at + 2 + 2 * i, units[i]);
  }
  return static_cast<uint32_t>(offset);
}

bool TPeImage::MovableRelocations(size_t index) const {
  const TSection& r = FSections[FResourceSection];
  const TSection& t = FSections[index];
  if (std::strncmp(t.Name, ".reloc", 8) != 0 || FDirCount <= kDirBaseReloc) return false;
  const uint64_t rEnd = uint64_t(r.VirtualAddress) + std::max(r.VirtualSize, r.SizeOfRawData);
  const uint64_t tEnd = uint64_t(t.VirtualAddress) + std::max(t.VirtualSize, t.SizeOfRawData);
  if (t.VirtualAddress < rEnd) return false;
  if (t.SizeOfRawData != 0 && r.SizeOfRawData != 0 &&
      uint64_t(t.PointerToRawData) < uint64_t(r.PointerToRawData) + r.SizeOfRawData)
    return false;
  // The base-relocation directory is its content, and nothing else points
  // into it.
  const uint32_t size = DirSize(kDirBaseReloc);
  if (DirRva(kDirBaseReloc) != t.VirtualAddress || size == 0 || size > t.SizeOfRawData) return false;
  for (uint32_t d = 0; d < FDirCount; ++d) {
    if (d == kDirBaseReloc || d == kDirCertificate) continue;
    const uint32_t rva = DirRva(d);
    if (rva != 0 && rva >= t.VirtualAddress && rva < tEnd) return false;
  }
  if (FDirCount > kDirDebug && DirRva(kDirDebug) != 0 && DirSize(kDirDebug) >= 28) {
    const uint32_t debugSize = DirSize(kDirDebug) / 28 * 28;
    size_t at = 0;
    try {
      at = RvaToOffset(DirRva(kDirDebug), debugSize, "the debug directory");
    } catch (const EPeFormatError&) {
      return false;
    }
    for (size_t e = 0; e < debugSize; e += 28) {
      const uint32_t rva = Get32(FBytes, at + e + 20), raw = Get32(FBytes, at + e + 24);
      if (rva != 0 && rva >= t.VirtualAddress && rva < tEnd) return false;
      if (raw != 0 && raw >= t.PointerToRawData && uint64_t(raw) < uint64_t(t.PointerToRawData) + t.SizeOfRawData)
        return false;
    }
  }
  // Every fixup lies before the resource section: the relocations stay
  // valid whatever the new resources' size.
  const size_t base = t.PointerToRawData;
  for (uint32_t at = 0; at < size;) {
    if (size - at < 8) return false;
    const uint32_t page = Get32(FBytes, base + at), blockSize = Get32(FBytes, base + at + 4);
    if (blockSize < 8 || blockSize > size - at || blockSize % 2 != 0) return false;
    for (uint32_t e = 8; e < blockSize; e += 2) {
      const uint16_t entry = Get16(FBytes, base + at + e);
      if ((entry >> 12) == 0) continue;  // padding
      if (uint64_t(page) + (entry & 0xFFF) + 8 > r.VirtualAddress) return false;
    }
    at += blockSize;
  }
  return true;
}

std::string TPeImage::Save() const {
  const std::string& in = FBytes;
  if (FDirCount <= kDirResource) Fail("the optional header has no resource directory entry");
  const size_t count = FSections.size();

  // Replace the resource section in place only when it is the last section in
  // memory and in the file, or followed only by a base-relocation section
  // that can move behind the new resources (see MovableRelocations); it must
  // start with the resource tree and hold nothing another directory points at.
  bool replace = false;
  int tail = -1;  // the relocation section moved behind the new resources
  if (FResourceSection >= 0) {
    const TSection& r = FSections[FResourceSection];
    replace = std::strncmp(r.Name, ".rsrc", 8) == 0 && DirRva(kDirResource) == r.VirtualAddress &&
              r.VirtualAddress >= FSizeOfHeaders;
    for (size_t i = 0; i < count; ++i) {
      if (static_cast<int>(i) == FResourceSection) continue;
      const TSection& s = FSections[i];
      // After it, or with raw data that runs into its raw data (which the
      // new resources would overwrite).
      const bool after = s.VirtualAddress >= r.VirtualAddress ||
                         (s.SizeOfRawData != 0 && r.SizeOfRawData != 0 &&
                          uint64_t(s.PointerToRawData) + s.SizeOfRawData > r.PointerToRawData);
      if (!after) continue;
      if (tail < 0 && MovableRelocations(i)) {
        tail = static_cast<int>(i);
        continue;
      }
      replace = false;
    }
    uint64_t rEnd = uint64_t(r.VirtualAddress) + std::max(r.VirtualSize, r.SizeOfRawData);
    for (uint32_t d = 0; d < FDirCount; ++d) {
      if (d == kDirResource || d == kDirCertificate) continue;
      uint32_t rva = DirRva(d);
      if (rva != 0 && rva >= r.VirtualAddress && rva < rEnd) replace = false;
    }
  }
  if (!replace) tail = -1;

  uint64_t firstRaw = std::min<uint64_t>(FSizeOfHeaders, in.size());
  uint64_t endOfSections = 0, endBeforeTail = 0, minVa = FSizeOfImage, maxVirtualEnd = 0;
  bool anyRaw = false;
  for (size_t i = 0; i < count; ++i) {
    const TSection& s = FSections[i];
    if (s.SizeOfRawData != 0) {
      firstRaw = anyRaw ? std::min<uint64_t>(firstRaw, s.PointerToRawData) : s.PointerToRawData;
      anyRaw = true;
      const uint64_t rawEnd = uint64_t(s.PointerToRawData) + s.SizeOfRawData;
      endOfSections = std::max<uint64_t>(endOfSections, rawEnd);
      if (static_cast<int>(i) != tail) endBeforeTail = std::max<uint64_t>(endBeforeTail, rawEnd);
    }
    minVa = std::min<uint64_t>(minVa, s.VirtualAddress);
    maxVirtualEnd =
        std::max<uint64_t>(maxVirtualEnd, uint64_t(s.VirtualAddress) + (s.VirtualSize ? s.VirtualSize : s.SizeOfRawData));
  }
  endOfSections = std::max(endOfSections, firstRaw);
  endBeforeTail = std::max(endBeforeTail, firstRaw);
  uint64_t bodyEnd = endBeforeTail;
  if (replace && FSections[FResourceSection].SizeOfRawData != 0) bodyEnd = FSections[FResourceSection].PointerToRawData;

  // Room for one more section header: grow the headers, moving the section
  // data back by whole file-alignment units when needed.
  const size_t newCount = replace ? count : count + 1;
  const uint64_t tableEnd = FSectionTable + kSectionHeaderSize * newCount;
  uint64_t newHeaders = FSizeOfHeaders;
  uint64_t shift = 0;
  if (tableEnd > FSizeOfHeaders || tableEnd > firstRaw) {
    newHeaders = std::max<uint64_t>(AlignUp(tableEnd, FFileAlignment), FSizeOfHeaders);
    if (newHeaders > firstRaw) shift = AlignUp(newHeaders - firstRaw, FFileAlignment);
    if (newHeaders > minVa) Fail("there is no room for another section header before the first section");
  }

  // Computed in 64 bits: aligning a large SizeOfImage up may pass 4 GB. A new
  // section never starts inside the headers (RVA 0 would mean "no resources").
  const uint64_t wideRva = replace ? FSections[FResourceSection].VirtualAddress
                                   : std::max({AlignUp(maxVirtualEnd, FSectionAlignment),
                                               AlignUp(FSizeOfImage, FSectionAlignment),
                                               AlignUp(newHeaders, FSectionAlignment)});
  if (wideRva > 0xFFFFFFFFull) Fail("the image would exceed 4 GB");
  const uint32_t newRva = static_cast<uint32_t>(wideRva);
  if (!replace && newRva < maxVirtualEnd) Fail("the image has no room for another section");

  // The overlay, without the certificate table when that lies inside it.
  const uint64_t overlayStart = std::min<uint64_t>(endOfSections, in.size());
  bool certCut = FCertSize != 0 && FCertOffset >= overlayStart;
  uint64_t certEnd = uint64_t(FCertOffset) + FCertSize;

  std::string out = in.substr(0, static_cast<size_t>(firstRaw));
  out.resize(static_cast<size_t>(firstRaw + shift), '\0');
  out.append(in, static_cast<size_t>(firstRaw), static_cast<size_t>(bodyEnd - firstRaw));
  // The resource data starts on a page boundary of the file, so that a loader
  // can map it straight from the file (Wine otherwise reads the whole
  // section, every payload of a package, into memory at start-up).
  const uint64_t newRaw = AlignUp(out.size(), std::max<uint32_t>(FFileAlignment, kPageSize));
  out.resize(static_cast<size_t>(newRaw), '\0');
  const uint64_t after = 2 * uint64_t(FFileAlignment) + (tail >= 0 ? FSections[tail].SizeOfRawData : 0) +
                         (in.size() - overlayStart);
  const uint32_t contentSize = BuildResourceSection(newRva, out, after);
  const uint64_t rawSize = AlignUp(contentSize, FFileAlignment);
  if (uint64_t(newRva) + AlignUp(contentSize, FSectionAlignment) > 0xFFFFFFFFull)
    Fail("the image would exceed 4 GB");
  out.resize(static_cast<size_t>(newRaw + rawSize), '\0');
  // The relocation section behind the new resources, its bytes unchanged.
  uint64_t tailRva = 0, tailRaw = 0, imageEnd = uint64_t(newRva) + contentSize;
  if (tail >= 0) {
    const TSection& t = FSections[tail];
    tailRva = AlignUp(imageEnd, FSectionAlignment);
    tailRaw = out.size();
    imageEnd = tailRva + (t.VirtualSize ? t.VirtualSize : t.SizeOfRawData);
    if (Exceeds4G(AlignUp(imageEnd, FSectionAlignment))) Fail("the image would exceed 4 GB");
    out.append(in, t.PointerToRawData, t.SizeOfRawData);
    out.resize(static_cast<size_t>(AlignUp(out.size(), FFileAlignment)), '\0');
  }
  const uint64_t newOverlayStart = out.size();
  if (certCut) {
    out.append(in, static_cast<size_t>(overlayStart), static_cast<size_t>(FCertOffset - overlayStart));
    out.append(in, static_cast<size_t>(certEnd), std::string::npos);
  } else {
    out.append(in, static_cast<size_t>(overlayStart), std::string::npos);
  }
  if (Exceeds4G(out.size())) Fail("the image would exceed 4 GB");

  // Where a file offset of the input lies in the output.
  auto moveOffset = [&](uint64_t o) -> uint64_t {
    if (o < firstRaw) return o;
    if (o < bodyEnd) return o + shift;
    if (tail >= 0 && o >= FSections[tail].PointerToRawData &&
        o < uint64_t(FSections[tail].PointerToRawData) + FSections[tail].SizeOfRawData)
      return o - FSections[tail].PointerToRawData + tailRaw;
    if (o < overlayStart) return o;  // inside the replaced resource data: left as it was
    if (certCut && o >= certEnd) return o - overlayStart + newOverlayStart - FCertSize;
    return o - overlayStart + newOverlayStart;
  };

  // Section table.
  for (size_t i = 0; i < count; ++i) {
    size_t h = FSectionTable + kSectionHeaderSize * i;
    const TSection& s = FSections[i];
    if (s.SizeOfRawData != 0) Put32(out, h + 20, static_cast<uint32_t>(moveOffset(s.PointerToRawData)));
    for (size_t field : {h + 24, h + 28})
      if (uint32_t p = Get32(out, field)) Put32(out, field, static_cast<uint32_t>(moveOffset(p)));
    if (!replace && static_cast<int>(i) == FResourceSection && std::strncmp(s.Name, ".rsrc", 8) == 0)
      std::memcpy(out.data() + h, ".rsrcold", 8);
    if (static_cast<int>(i) == tail) Put32(out, h + 12, static_cast<uint32_t>(tailRva));
  }
  size_t h = FSectionTable + kSectionHeaderSize * (replace ? FResourceSection : count);
  std::memset(out.data() + h, 0, kSectionHeaderSize);
  std::memcpy(out.data() + h, ".rsrc", 5);
  Put32(out, h + 8, contentSize);
  Put32(out, h + 12, newRva);
  Put32(out, h + 16, static_cast<uint32_t>(rawSize));
  Put32(out, h + 20, static_cast<uint32_t>(newRaw));
  Put32(out, h + 36, kResourceSectionFlags);

  // File header and optional header.
  Put16(out, FPeOffset + 6, static_cast<uint16_t>(newCount));
  if (uint32_t symbols = Get32(out, FPeOffset + 12))
    Put32(out, FPeOffset + 12, static_cast<uint32_t>(moveOffset(symbols)));
  Put32(out, FOptOffset + 56, static_cast<uint32_t>(AlignUp(imageEnd, FSectionAlignment)));
  Put32(out, FOptOffset + 60, static_cast<uint32_t>(newHeaders));
  int64_t initialised = int64_t(Get32(out, FOptOffset + 8)) + int64_t(rawSize) -
                        (replace ? int64_t(FSections[FResourceSection].SizeOfRawData) : 0);
  Put32(out, FOptOffset + 8, static_cast<uint32_t>(std::clamp<int64_t>(initialised, 0, 0xFFFFFFFFll)));
  Put32(out, FDirOffset + 8 * kDirResource, newRva);
  Put32(out, FDirOffset + 8 * kDirResource + 4, contentSize);
  if (FDirCount > kDirCertificate) {
    Put32(out, FDirOffset + 8 * kDirCertificate, 0);
    Put32(out, FDirOffset + 8 * kDirCertificate + 4, 0);
  }
  if (tail >= 0) Put32(out, FDirOffset + 8 * kDirBaseReloc, static_cast<uint32_t>(tailRva));
  if (!replace && FDirCount > kDirBoundImport && DirRva(kDirBoundImport) != 0) {
    Put32(out, FDirOffset + 8 * kDirBoundImport, 0);
    Put32(out, FDirOffset + 8 * kDirBoundImport + 4, 0);
  }

  // Debug directory entries carry file offsets of their data.
  if (FDirCount > kDirDebug && DirRva(kDirDebug) != 0 && DirSize(kDirDebug) >= 28) {
    uint32_t size = DirSize(kDirDebug) / 28 * 28;
    size_t at = RvaToOffset(DirRva(kDirDebug), size, "the debug directory");
    // Rewriting entries that share bytes with the headers would corrupt them.
    if (at < tableEnd && at + size > FPeOffset) Fail("the debug directory overlaps the PE headers");
    if (at < bodyEnd || at >= overlayStart) {
      size_t moved = static_cast<size_t>(moveOffset(at));
      for (size_t e = 0; e < size; e += 28)
        if (uint32_t p = Get32(in, at + e + 24)) Put32(out, moved + e + 24, static_cast<uint32_t>(moveOffset(p)));
    }
  }

  Put32(out, FOptOffset + 64, ComputeChecksum(out));
  return out;
}

// ---- checksum --------------------------------------------------------------

namespace {
size_t ChecksumOffset(const std::string& image) {
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') Fail("no MZ header");
  uint32_t peOffset = Get32(image, 0x3C);
  if (!Within(image, peOffset, 24 + 68) || std::memcmp(image.data() + peOffset, "PE\0\0", 4) != 0)
    Fail("no PE header with a checksum field");
  return peOffset + 24 + 64;
}
}  // namespace

uint32_t TPeImage::ComputeChecksum(const std::string& image) {
  const size_t field = ChecksumOffset(image);
  const size_t n = image.size();
  auto byteAt = [&](size_t i) -> uint32_t {
    return (i >= field && i < field + 4) ? 0 : static_cast<uint8_t>(image[i]);
  };
  // Folding the carries once at the end gives the same 16-bit sum as folding
  // after every word (2^16 = 1 modulo 0xFFFF; the sum is 0 only when every
  // word is), so eight bytes are added at a time as two 32-bit values.
  uint64_t sum = 0;
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      if (i + 8 > field && i < field + 4) {
        for (size_t k = i; k < i + 8; k += 2) sum += byteAt(k) | byteAt(k + 1) << 8;
        continue;
      }
      uint64_t v;
      std::memcpy(&v, image.data() + i, 8);
      sum += (v & 0xFFFFFFFFu) + (v >> 32);
    }
  }
  for (; i + 1 < n; i += 2) sum += byteAt(i) | byteAt(i + 1) << 8;
  if (i < n) sum += byteAt(i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + n);
}

uint32_t TPeImage::StoredChecksum(const std::string& image) { return Get32(image, ChecksumOffset(image)); }
