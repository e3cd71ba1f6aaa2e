// Portable editor for the resources of a Windows executable (PE32 and PE32+).
//
// The package builder turns a copy of the setup runtime into a package by
// adding named RCDATA resources. TPeImage reads an executable from bytes,
// holds its resource tree as a flat, sorted list of entries, lets entries be
// added, replaced and removed, and writes a new executable whose resource
// section holds the whole edited tree.
//
// Layout of a saved image:
// - The resource tree and all resource data are written into one new section
//   ".rsrc". When the existing resource section is the last section (and
//   nothing else lives in it) it is replaced in place; so it is when only the
//   base-relocation section ".reloc" follows it (as linkers lay images out),
//   which then moves, unchanged, behind the new resources. Otherwise the new
//   section goes after every other section and the old one stays where it
//   is, unused, renamed ".rsrcold", so that no tool picks it by name.
// - Bytes after the last section (an overlay, a COFF symbol table) are kept
//   after the new section; the COFF symbol table pointer and the file offsets
//   of debug directory entries are moved with them.
// - A certificate table (an Authenticode signature) is removed together with
//   its directory entry: the edit invalidates the signature anyway, and the
//   saved image can be signed again.
// - SizeOfImage, SizeOfInitializedData, the resource data directory entry,
//   the section table and the PE checksum are brought up to date; a bound
//   import table (a load-time optimisation stored after the section table) is
//   dropped whenever a section header is added. When the headers have no room
//   for another section header they are grown by whole file-alignment units
//   and the section data moved back accordingly (RVAs do not change).
//
// Names: resource names are compared the way the Windows loader compares
// them, ignoring the case of ASCII letters. Names given to SetResource and
// SetRcData are stored with ASCII letters in upper case, as UpdateResourceW
// and the resource compiler store them; other characters are kept as given.
// Named entries are sorted by their upper-cased UTF-16 code units, ID entries
// by value, named before ID entries, as the loader's binary search expects.
// (Names holding one of the characters [ \ ] ^ _ ` sort differently under a
// loader that folds to lower case; GUID names are not affected.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NvExceptions.h"

// The image is not a PE file or is damaged; the message names the cause.
NV_DECLARE_EXCEPTION(EPeFormatError, Exception);

// Standard resource types (numeric IDs).
constexpr uint16_t PE_RT_ICON = 3;
constexpr uint16_t PE_RT_RCDATA = 10;
constexpr uint16_t PE_RT_GROUP_ICON = 14;
constexpr uint16_t PE_RT_VERSION = 16;
constexpr uint16_t PE_RT_MANIFEST = 24;

// A resource type or name: a 16-bit ID or a text (UTF-16 in the file).
// Text <-> UTF-16 code units as resources store them (surrogate pairs on
// hosts with 32-bit wchar_t); unpaired surrogates pass through unchanged.
std::u16string ToUtf16(const std::wstring& text);
std::wstring FromUtf16(const std::u16string& units);

class TPeResId {
public:
  TPeResId() = default;  // ID 0
  TPeResId(uint16_t id) : FId(id) {}
  TPeResId(std::wstring name) : FIsName(true), FName(std::move(name)) {}
  TPeResId(const wchar_t* name) : TPeResId(std::wstring(name)) {}

  bool IsName() const { return FIsName; }
  uint16_t Id() const { return FId; }               // 0 for a name
  const std::wstring& Name() const { return FName; }  // empty for an ID
  // "#10" for an ID, the name itself otherwise.
  std::wstring ToString() const;
  // The same ID, or names equal when ASCII letters are compared without case.
  bool SameAs(const TPeResId& other) const;
  // This name with ASCII letters in upper case; IDs unchanged.
  TPeResId Normalized() const;
  // Exact equality (names compared with case).
  friend bool operator==(const TPeResId& a, const TPeResId& b) {
    return a.FIsName == b.FIsName && a.FId == b.FId && a.FName == b.FName;
  }

private:
  bool FIsName = false;
  uint16_t FId = 0;
  std::wstring FName;
};

// One leaf of the resource tree: type / name / language and its bytes.
struct TPeResourceEntry {
  TPeResId Type;
  TPeResId Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  std::string Data;
};

class TPeImage {
public:
  // Reads a PE32 or PE32+ image and its resource tree. Every offset, size and
  // count is checked against the bytes; a damaged image raises EPeFormatError
  // naming the cause (never reads outside `bytes`).
  static TPeImage Parse(std::string bytes);

  bool Is64() const { return FIs64; }
  uint16_t Machine() const { return FMachine; }
  // The image had a certificate table; Save drops it.
  bool HasCertificate() const { return FCertSize != 0; }
  // The bytes the image was parsed from.
  const std::string& Bytes() const { return FBytes; }

  // Every resource, sorted by type, name and language (the tree's order).
  const std::vector<TPeResourceEntry>& Resources() const { return FEntries; }
  // The entry of that type and name (names compared ignoring ASCII case) and
  // language; nullptr when absent.
  const TPeResourceEntry* FindResource(const TPeResId& type, const TPeResId& name, uint16_t language) const;
  // The first language of that type and name; nullptr when absent.
  const TPeResourceEntry* FindResource(const TPeResId& type, const TPeResId& name) const;

  // Adds the entry, or replaces the entry of the same type, name (ignoring
  // ASCII case) and language. Names are stored normalised (upper-case ASCII).
  // An empty name text raises EPeFormatError.
  void SetResource(const TPeResId& type, const TPeResId& name, uint16_t language, std::string data,
                   uint32_t codePage = 0);
  // Package resource: RCDATA `name` := data, as one entry of `language`.
  // Every existing RCDATA entry of that name (in any language, any letter
  // case) is replaced, so the name is never present twice.
  void SetRcData(const std::wstring& name, std::string data, uint16_t language = 0);
  // Removes every language of that type and name; the count removed.
  size_t RemoveResource(const TPeResId& type, const TPeResId& name);

  // The edited executable (see the layout notes above). The image itself is
  // not changed; Save may be called again after further edits.
  std::string Save() const;

  // The PE checksum of `image` (the standard algorithm: 16-bit one's
  // complement sum of the file with the checksum field counted as zero, plus
  // the file length). Raises EPeFormatError when `image` has no PE header.
  static uint32_t ComputeChecksum(const std::string& image);
  // The checksum stored in the optional header of `image`.
  static uint32_t StoredChecksum(const std::string& image);

private:
  struct TSection {
    char Name[8];
    uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData;
    uint32_t Characteristics;
  };

  std::string FBytes;
  bool FIs64 = false;
  uint16_t FMachine = 0;
  size_t FPeOffset = 0;        // "PE\0\0"
  size_t FOptOffset = 0;       // optional header
  size_t FSectionTable = 0;    // first section header
  uint32_t FDirCount = 0;      // usable data directory entries
  size_t FDirOffset = 0;       // data directory array
  uint32_t FFileAlignment = 0, FSectionAlignment = 0, FSizeOfHeaders = 0, FSizeOfImage = 0;
  uint32_t FCertOffset = 0, FCertSize = 0;
  int FResourceSection = -1;   // section holding the resource directory, -1: none
  std::vector<TSection> FSections;
  std::vector<TPeResourceEntry> FEntries;

  void ParseHeaders();
  void ParseResources();
  uint32_t DirRva(uint32_t index) const;
  uint32_t DirSize(uint32_t index) const;
  // File offset of `size` bytes at `rva` inside one section's raw data (or
  // the headers); raises EPeFormatError with `what` when they are not there.
  size_t RvaToOffset(uint32_t rva, uint32_t size, const char* what) const;
  // Appends the resource section content for address `sectionRva` to `out`
  // (room reserved for `reserveAfter` more bytes); returns its size.
  uint32_t BuildResourceSection(uint32_t sectionRva, std::string& out, uint64_t reserveAfter) const;
  // Section `index` holds the base relocations only, lies after the resource
  // section in memory and in the file, and none of its fixups reaches the
  // resource section: it can move behind new resources of any size.
  bool MovableRelocations(size_t index) const;
  void Insert(TPeResourceEntry entry);
};
