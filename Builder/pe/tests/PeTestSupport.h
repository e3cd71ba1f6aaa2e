// Test support for the PE resource editor: fixture files and a minimal,
// separate reading of PE headers used to check what the editor wrote.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe_test {

inline std::string FixturePath(const std::string& name) { return std::string(NV_PE_FIXTURE_DIR) + "/" + name; }

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline uint32_t U16(const std::string& b, size_t o) {
  return static_cast<uint8_t>(b.at(o)) | static_cast<uint8_t>(b.at(o + 1)) << 8;
}
inline uint32_t U32(const std::string& b, size_t o) { return U16(b, o) | U16(b, o + 2) << 16; }
inline void SetU32(std::string& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(o + i) = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct Section {
  std::string Name;
  uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, Characteristics;
  size_t HeaderOffset;
};

// The headers of an image, read independently of the editor.
struct Headers {
  size_t Pe = 0, Opt = 0, Dirs = 0;
  bool Is64 = false;
  uint32_t FileAlignment = 0, SectionAlignment = 0, SizeOfImage = 0, SizeOfHeaders = 0, CheckSum = 0;
  uint32_t SymbolTable = 0, SymbolCount = 0;
  std::vector<Section> Sections;

  explicit Headers(const std::string& b) {
    Pe = U32(b, 0x3C);
    Opt = Pe + 24;
    Is64 = U16(b, Opt) == 0x20B;
    SymbolTable = U32(b, Pe + 12);
    SymbolCount = U32(b, Pe + 16);
    SectionAlignment = U32(b, Opt + 32);
    FileAlignment = U32(b, Opt + 36);
    SizeOfImage = U32(b, Opt + 56);
    SizeOfHeaders = U32(b, Opt + 60);
    CheckSum = U32(b, Opt + 64);
    Dirs = Opt + (Is64 ? 112 : 96);
    size_t table = Opt + U16(b, Pe + 20);
    for (size_t i = 0; i < U16(b, Pe + 6); ++i) {
      size_t h = table + 40 * i;
      Section s{std::string(b.data() + h, strnlen(b.data() + h, 8)), U32(b, h + 8), U32(b, h + 12),
                U32(b, h + 16), U32(b, h + 20), U32(b, h + 36), h};
      Sections.push_back(s);
    }
  }
  uint32_t DirRva(int i, const std::string& b) const { return U32(b, Dirs + 8 * i); }
  uint32_t DirSize(int i, const std::string& b) const { return U32(b, Dirs + 8 * i + 4); }
  // File offset of an RVA (inside a section's raw data).
  size_t Offset(uint32_t rva) const {
    for (const auto& s : Sections)
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) return s.PointerToRawData + (rva - s.VirtualAddress);
    throw std::runtime_error("RVA outside the sections");
  }
};

// The same image with its PE headers moved forward inside the header area so
// that the section table ends less than one section header before
// SizeOfHeaders: adding a section then needs larger headers.
inline std::string CrowdHeaders(std::string b) {
  Headers h(b);
  size_t tableEnd = h.Sections.back().HeaderOffset + 40;
  size_t limit = std::min<size_t>(h.SizeOfHeaders, h.Sections.front().PointerToRawData);
  size_t delta = (limit - tableEnd) / 8 * 8;
  for (size_t i = tableEnd; i < limit; ++i)
    if (b[i] != 0) throw std::runtime_error("header area after the section table is not empty");
  std::memmove(b.data() + h.Pe + delta, b.data() + h.Pe, tableEnd - h.Pe);
  std::memset(b.data() + h.Pe, 0, delta);
  SetU32(b, 0x3C, static_cast<uint32_t>(h.Pe + delta));
  return b;
}

// The PE checksum computed plainly: the file with its checksum field zeroed,
// summed as 16-bit words into a wide accumulator, folded to 16 bits at the
// end, plus the file length.
inline uint32_t ReferenceChecksum(std::string b) {
  size_t field = U32(b, 0x3C) + 24 + 64;
  std::memset(b.data() + field, 0, 4);
  const uint64_t length = b.size();
  if (b.size() % 2) b.push_back('\0');
  uint64_t sum = 0;
  for (size_t i = 0; i < b.size(); i += 2) sum += U16(b, i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + length);
}

}  // namespace pe_test
