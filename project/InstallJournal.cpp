// The install journal's form: records encoded, decoded and described.
#include "InstallJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "NvSysUtils.h"

namespace {

const char kMagic[8] = {'N', 'V', 'J', 'R', 'N', 'L', '\r', '\n'};
constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kRecordHead = 12;
// No record comes near this: a size word above it is damage, not data.
constexpr uint32_t kMaxRecordBytes = 16u << 20;

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

uint32_t Crc(const char* data, std::size_t size) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

[[noreturn]] void Damaged(const std::wstring& why) { throw EJournalError(L"the install journal is damaged: " + why); }

// Writes the fields of one body.
class TBodyWriter {
public:
  void Byte(uint8_t v) { FOut.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) { PutU32(FOut, v); }
  void U64(uint64_t v) { PutU64(FOut, v); }
  void Text(const std::wstring& text) { Bytes(Utf8Encode(text)); }
  void Bytes(const std::string& bytes) {
    U32(static_cast<uint32_t>(bytes.size()));
    FOut += bytes;
  }
  void Reg(const TRegData& data) {
    U32(data.Type);
    Bytes(data.Bytes);
  }
  std::string& Out() { return FOut; }

private:
  std::string FOut;
};

// Reads the fields of one body; running past its end is damage.
class TBodyReader {
public:
  TBodyReader(const char* data, std::size_t size, std::size_t offset) : FData(data), FSize(size), FOffset(offset) {}
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(FData[FPos++]);
  }
  bool Flag() {
    const uint8_t v = Byte();
    if (v > 1) Damaged(Where(L"a flag is neither 0 nor 1"));
    return v == 1;
  }
  uint32_t U32() {
    Need(4);
    const uint32_t v = GetU32(FData + FPos);
    FPos += 4;
    return v;
  }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | (static_cast<uint64_t>(U32()) << 32);
  }
  std::string Bytes() {
    const uint32_t n = U32();
    Need(n);
    std::string s(FData + FPos, n);
    FPos += n;
    return s;
  }
  std::wstring Text() {
    const std::string bytes = Bytes();
    std::wstring text = Utf8Decode(bytes);
    // Text is written from UTF-16 without NULs: anything else was not written by us.
    if (Utf8Encode(text) != bytes) Damaged(Where(L"a text is not valid UTF-8"));
    return text;
  }
  TRegData Reg() {
    TRegData data;
    data.Type = U32();
    data.Bytes = Bytes();
    return data;
  }
  void End() {
    if (FPos != FSize) Damaged(Where(L"a record holds more than its fields"));
  }
  std::wstring Where(const std::wstring& what) const {
    return Format(L"%s (record at byte %s)", {what, IntToStr(static_cast<int64_t>(FOffset))});
  }

private:
  void Need(std::size_t n) {
    if (n > FSize - FPos) Damaged(Where(L"a record ends inside its fields"));
  }
  const char* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
  std::size_t FOffset;
};

TJournalEntry DecodeBody(const char* data, std::size_t size, std::size_t offset) {
  TBodyReader r(data, size, offset);
  TJournalEntry e;
  const uint8_t kind = r.Byte();
  if (kind < static_cast<uint8_t>(TJournalKind::jkBegin) || kind > static_cast<uint8_t>(TJournalKind::jkCommitted))
    Damaged(r.Where(Format(L"unknown record kind %d", {static_cast<int64_t>(kind)})));
  e.Kind = static_cast<TJournalKind>(kind);
  auto role = [&] {
    const uint8_t v = r.Byte();
    if (v > static_cast<uint8_t>(TJournalRole::jrFolder)) Damaged(r.Where(L"unknown item role"));
    e.Role = static_cast<TJournalRole>(v);
  };
  switch (e.Kind) {
    case TJournalKind::jkBegin:
      e.Guid = r.Text();
      e.AppDir = r.Text();
      e.Title = r.Text();
      e.Version = r.Text();
      for (uint32_t n = r.U32(); n > 0; --n) e.Roots.push_back(r.Text());
      break;
    case TJournalKind::jkFolderCreated:
      e.Role = TJournalRole::jrFolder;
      e.Path = r.Text();
      break;
    case TJournalKind::jkFileCreated:
    case TJournalKind::jkFileReplaced:
    case TJournalKind::jkFileState:
      role();
      e.Path = r.Text();
      if (e.Kind == TJournalKind::jkFileReplaced) e.Backup = r.Text();
      if (e.Kind == TJournalKind::jkFileState) {
        e.Size = r.U64();
        e.WriteTime = r.U64();
        e.Checksum = r.U32();
      }
      break;
    case TJournalKind::jkKeyCreated:
    case TJournalKind::jkValueWritten:
      role();
      e.Root = static_cast<int32_t>(r.U32());
      e.Path = r.Text();
      if (e.Kind == TJournalKind::jkValueWritten) {
        e.Name = r.Text();
        e.New = r.Reg();
        e.HadOld = r.Flag();
        if (e.HadOld) e.Old = r.Reg();
      }
      break;
    case TJournalKind::jkCommitted:
      break;
  }
  r.End();
  return e;
}

std::wstring RegText(const TRegData& data) {
  return Format(L"type %s, %s bytes", {IntToStr(data.Type), IntToStr(static_cast<int64_t>(data.Bytes.size()))});
}

}  // namespace

TRegData RegStringData(const std::wstring& text) {
  TRegData data;
  data.Type = 1;  // REG_SZ
  auto put = [&](uint32_t unit) {
    data.Bytes.push_back(static_cast<char>(unit & 0xFF));
    data.Bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
  };
  for (wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF) {  // a 32-bit wchar_t: as a surrogate pair
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  put(0);
  return data;
}

TRegData RegDWordData(uint32_t value) {
  TRegData data;
  data.Type = 4;  // REG_DWORD
  for (int i = 0; i < 4; ++i) data.Bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return data;
}

std::string JournalHeader() {
  std::string h(kMagic, sizeof(kMagic));
  h.push_back(static_cast<char>(kJournalVersion & 0xFF));
  h.push_back(static_cast<char>(kJournalVersion >> 8));
  h.append(2, '\0');
  return h;
}

std::string EncodeJournalRecord(const TJournalEntry& e) {
  TBodyWriter w;
  w.Byte(static_cast<uint8_t>(e.Kind));
  switch (e.Kind) {
    case TJournalKind::jkBegin:
      w.Text(e.Guid);
      w.Text(e.AppDir);
      w.Text(e.Title);
      w.Text(e.Version);
      w.U32(static_cast<uint32_t>(e.Roots.size()));
      for (const std::wstring& root : e.Roots) w.Text(root);
      break;
    case TJournalKind::jkFolderCreated:
      w.Text(e.Path);
      break;
    case TJournalKind::jkFileCreated:
    case TJournalKind::jkFileReplaced:
    case TJournalKind::jkFileState:
      w.Byte(static_cast<uint8_t>(e.Role));
      w.Text(e.Path);
      if (e.Kind == TJournalKind::jkFileReplaced) w.Text(e.Backup);
      if (e.Kind == TJournalKind::jkFileState) {
        w.U64(e.Size);
        w.U64(e.WriteTime);
        w.U32(e.Checksum);
      }
      break;
    case TJournalKind::jkKeyCreated:
    case TJournalKind::jkValueWritten:
      w.Byte(static_cast<uint8_t>(e.Role));
      w.U32(static_cast<uint32_t>(e.Root));
      w.Text(e.Path);
      if (e.Kind == TJournalKind::jkValueWritten) {
        w.Text(e.Name);
        w.Reg(e.New);
        w.Byte(e.HadOld ? 1 : 0);
        if (e.HadOld) w.Reg(e.Old);
      }
      break;
    case TJournalKind::jkCommitted:
      break;
  }
  const std::string& body = w.Out();
  std::string record;
  record.reserve(kRecordHead + body.size());
  const uint32_t size = static_cast<uint32_t>(body.size());
  PutU32(record, size);
  PutU32(record, ~size);
  PutU32(record, Crc(body.data(), body.size()));
  record += body;
  return record;
}

bool TJournalContents::Committed() const {
  for (const TJournalEntry& e : Entries)
    if (e.Kind == TJournalKind::jkCommitted) return true;
  return false;
}

const TJournalEntry* TJournalContents::Begin() const {
  return !Entries.empty() && Entries.front().Kind == TJournalKind::jkBegin ? &Entries.front() : nullptr;
}

TJournalContents DecodeJournal(const std::string& bytes) {
  TJournalContents contents;
  if (bytes.size() < kHeaderBytes) {
    // A journal cut inside its header was created and nothing else: it
    // records no change.
    if (std::memcmp(bytes.data(), kMagic, std::min(bytes.size(), sizeof(kMagic))) != 0)
      throw EJournalError(L"the file is not an install journal");
    contents.Cut = true;
    return contents;
  }
  if (std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) throw EJournalError(L"the file is not an install journal");
  const unsigned version = static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
  if (bytes[10] != 0 || bytes[11] != 0) Damaged(L"the header's reserved bytes are not 0");
  if (version != kJournalVersion)
    throw EJournalError(Format(L"the install journal has version %s; this program reads version %s",
                               {IntToStr(version), IntToStr(kJournalVersion)}));
  std::size_t at = kHeaderBytes;
  while (at < bytes.size()) {
    const std::size_t left = bytes.size() - at;
    if (left < 8) {
      contents.Cut = true;
      break;
    }
    const uint32_t size = GetU32(bytes.data() + at);
    if (GetU32(bytes.data() + at + 4) != ~size || size > kMaxRecordBytes)
      Damaged(Format(L"the length words of the record at byte %s disagree", {IntToStr(static_cast<int64_t>(at))}));
    if (left < kRecordHead + size) {
      contents.Cut = true;
      break;
    }
    const char* body = bytes.data() + at + kRecordHead;
    if (Crc(body, size) != GetU32(bytes.data() + at + 8))
      Damaged(Format(L"the record at byte %s does not match its checksum", {IntToStr(static_cast<int64_t>(at))}));
    if (size == 0) Damaged(Format(L"the record at byte %s is empty", {IntToStr(static_cast<int64_t>(at))}));
    contents.Entries.push_back(DecodeBody(body, size, at));
    at += kRecordHead + size;
  }
  return contents;
}

std::wstring JournalEntryText(const TJournalEntry& e) {
  static const wchar_t* const roles[] = {L"file", L"shortcut", L"uninstall data", L"registry", L"uninstall entry",
                                         L"folder"};
  const std::wstring role = roles[static_cast<int>(e.Role)];
  switch (e.Kind) {
    case TJournalKind::jkBegin:
      return Format(L"begin: %s %s (%s) in %s", {e.Title, e.Version, e.Guid, e.AppDir});
    case TJournalKind::jkFolderCreated:
      return L"folder created: " + e.Path;
    case TJournalKind::jkFileCreated:
      return Format(L"%s created: %s", {role, e.Path});
    case TJournalKind::jkFileReplaced:
      return Format(L"%s replaced: %s (earlier file kept as %s)", {role, e.Path, e.Backup});
    case TJournalKind::jkFileState:
      return Format(L"%s written: %s, %s bytes, time %s, Adler-32 %s",
                    {role, e.Path, IntToStr(static_cast<int64_t>(e.Size)), IntToStr(static_cast<int64_t>(e.WriteTime)),
                     IntToHex(e.Checksum, 8)});
    case TJournalKind::jkKeyCreated:
      return Format(L"%s key created: root %s, %s", {role, IntToStr(e.Root), e.Path});
    case TJournalKind::jkValueWritten:
      return Format(L"%s value written: root %s, %s, \"%s\" = %s%s",
                    {role, IntToStr(e.Root), e.Path, e.Name, RegText(e.New),
                     e.HadOld ? L" (was " + RegText(e.Old) + L")" : std::wstring(L" (new)")});
    case TJournalKind::jkCommitted:
      return L"committed";
  }
  return {};
}
