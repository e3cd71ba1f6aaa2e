// The install journal's form: every kind of record round-trips, a journal cut
// anywhere reads as the records before the cut, and damage is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InstallJournal.h"
#include "NvSysUtils.h"

namespace {

std::vector<TJournalEntry> SampleEntries() {
  std::vector<TJournalEntry> v;
  TJournalEntry e;
  e.Kind = TJournalKind::jkBegin;
  e.Guid = L"{11111111-2222-3333-4444-555555555555}";
  e.AppDir = L"C:\\Program Files (x86)\\演示\\";
  e.Title = L"演示";
  e.Version = L"1.2.3";
  e.Roots = {L"C:\\Program Files (x86)\\演示\\", L"C:\\Users\\Public\\Desktop\\"};
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkFolderCreated;
  e.Role = TJournalRole::jrFolder;
  e.Path = L"C:\\Program Files (x86)\\演示\\";
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkFileReplaced;
  e.Role = TJournalRole::jrShortcut;
  e.Path = L"C:\\Users\\Public\\Desktop\\演示.lnk";
  e.Backup = L"C:\\Users\\Public\\Desktop\\~nvkeep-{AB}.tmp";
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkFileState;
  e.Role = TJournalRole::jrFile;
  e.Path = L"C:\\x\\😀.txt";  // beyond the basic plane
  e.Size = 0x123456789ULL;
  e.WriteTime = 0x01DA000000000000ULL;
  e.Checksum = 0xDEADBEEF;
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkKeyCreated;
  e.Role = TJournalRole::jrUninstallEntry;
  e.Root = 2;
  e.Path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{X}_lm";
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkValueWritten;
  e.Role = TJournalRole::jrRegistry;
  e.Root = 1;
  e.Path = L"Software\\Co";
  e.Name = L"";
  e.New = {4, std::string("\x01\x00\x00\x00", 4)};
  e.HadOld = true;
  e.Old = {1, std::string("o\0l\0d\0\0\0", 8)};
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkValueWritten;
  e.Role = TJournalRole::jrUninstallEntry;
  e.Path = L"k";
  e.Name = L"DisplayName";
  e.New = {1, std::string()};
  v.push_back(e);

  e = {};
  e.Kind = TJournalKind::jkCommitted;
  v.push_back(e);
  return v;
}

struct TEncoded {
  std::string Bytes;
  std::vector<std::size_t> Ends;  // where each record ends
};

TEncoded Encode(const std::vector<TJournalEntry>& entries) {
  TEncoded out{JournalHeader(), {}};
  for (const TJournalEntry& e : entries) {
    out.Bytes += EncodeJournalRecord(e);
    out.Ends.push_back(out.Bytes.size());
  }
  return out;
}

}  // namespace

TEST(InstallJournal, EveryKindRoundTrips) {
  const std::vector<TJournalEntry> entries = SampleEntries();
  const TJournalContents read = DecodeJournal(Encode(entries).Bytes);
  EXPECT_FALSE(read.Cut);
  ASSERT_EQ(read.Entries.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_TRUE(read.Entries[i] == entries[i]) << Utf8Encode(JournalEntryText(entries[i]));
    EXPECT_FALSE(JournalEntryText(read.Entries[i]).empty());
  }
  EXPECT_TRUE(read.Committed());
  ASSERT_NE(read.Begin(), nullptr);
  EXPECT_EQ(read.Begin()->Title, L"演示");
}

TEST(InstallJournal, ACutAtEveryByteReadsAsTheRecordsBeforeIt) {
  const std::vector<TJournalEntry> entries = SampleEntries();
  const TEncoded full = Encode(entries);
  for (std::size_t n = 0; n <= full.Bytes.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "cut at " << n);
    const TJournalContents read = DecodeJournal(full.Bytes.substr(0, n));
    std::size_t whole = 0;
    while (whole < full.Ends.size() && full.Ends[whole] <= n) ++whole;
    ASSERT_EQ(read.Entries.size(), whole);
    for (std::size_t i = 0; i < whole; ++i) EXPECT_TRUE(read.Entries[i] == entries[i]);
    const bool atBoundary = n == JournalHeader().size() || (whole > 0 && full.Ends[whole - 1] == n);
    EXPECT_EQ(read.Cut, !atBoundary);
    EXPECT_EQ(read.Committed(), whole == entries.size());
  }
}

TEST(InstallJournal, AnyChangedByteIsRefused) {
  const std::string good = Encode(SampleEntries()).Bytes;
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x20);
    EXPECT_THROW(DecodeJournal(bad), EJournalError) << "byte " << i;
  }
}

TEST(InstallJournal, WhatIsNotAJournalIsRefusedWithItsReason) {
  const struct {
    std::string bytes;
    const char* message;
  } cases[] = {
      {"<?xml version=\"1.0\"?>", "not an install journal"},
      {"MZ", "not an install journal"},
      {std::string("NVJRNL\r\n\x02\x00\x00\x00", 12), "has version 2; this program reads version 1"},
      {JournalHeader() + std::string("\x05\x00\x00\x00\xfa\xff\xff\xff\x00\x00\x00\x00zzzzz", 17),
       "does not match its checksum"},
      {JournalHeader() + std::string(12, '\xff'), "length words of the record at byte 12 disagree"},
  };
  for (const auto& c : cases) {
    try {
      DecodeJournal(c.bytes);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const EJournalError& e) {
      EXPECT_NE(Utf8Encode(e.Message()).find(c.message), std::string::npos) << Utf8Encode(e.Message());
    }
  }
  // A header alone is an empty journal; part of one is a journal cut short.
  EXPECT_TRUE(DecodeJournal(JournalHeader()).Entries.empty());
  EXPECT_TRUE(DecodeJournal("NVJ").Cut);
}
