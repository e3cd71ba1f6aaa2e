// Journaled changes on the machine (under Wine): a file written in a folder
// the run made is recorded as new without a look, and a name another program
// took meanwhile is recorded again as replaced; the file on disk always holds
// the journal as it stands.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallChanges.h"
#include "JournalFile.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "Rollback.h"
#include "TestFiles.h"

namespace {

// The journal file's size (it is held without sharing: not readable).
std::size_t SizeOnDisk(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  return data.nFileSizeLow;
}

std::vector<TJournalKind> Kinds(const std::string& bytes) {
  std::vector<TJournalKind> kinds;
  for (const TJournalEntry& e : DecodeJournal(bytes).Entries) kinds.push_back(e.Kind);
  return kinds;
}

// A run's changes recorded into a journal of its own, in a fresh folder.
class InstallChanges : public ::testing::Test {
protected:
  const std::wstring root = nvtest::FreshDir(L"changes");
  TJournalWriter journal{root + L"run.jnl"};
  TInstallChanges changes{journal};
};

}  // namespace

TEST_F(InstallChanges, ANameTakenInAFolderOfTheRunIsRecordedAsReplacedAndComesBack) {
  const std::wstring folder = root + L"app\\";
  ASSERT_TRUE(changes.CreateFolders(folder));

  // A fresh name in the run's own folder: recorded as created, no look.
  bool unlooked = false;
  EXPECT_EQ(changes.PrepareFile(folder + L"a.txt", TJournalRole::jrFile, &unlooked), L"");
  EXPECT_TRUE(unlooked);
  WriteFileBytes(folder + L"a.txt", "ours");

  // Another program makes b.txt after the record: the create as new fails,
  // the record is taken back, and the second try moves its file aside.
  EXPECT_EQ(changes.PrepareFile(folder + L"B.TXT", TJournalRole::jrFile, &unlooked), L"");
  EXPECT_TRUE(unlooked);
  WriteFileBytes(folder + L"b.txt", "theirs");
  EXPECT_THROW(TFileWriter(folder + L"b.txt", TFileShare::fsExclusive, TFileCreate::fcNew), EFCreateError);
  EXPECT_FALSE(changes.NameTaken(folder + L"a-missing.txt", TJournalRole::jrFile));
  ASSERT_TRUE(changes.NameTaken(folder + L"B.TXT", TJournalRole::jrFile));
  const std::wstring backup = changes.PrepareFile(folder + L"b.txt", TJournalRole::jrFile, &unlooked);
  EXPECT_FALSE(unlooked);
  ASSERT_NE(backup, L"");
  WriteFileBytes(folder + L"b.txt", "ours too");
  // A name written twice in one run is looked at the second time.
  EXPECT_NE(changes.PrepareFile(folder + L"A.TXT", TJournalRole::jrFile, &unlooked), L"");
  EXPECT_FALSE(unlooked);
  changes.Flush();

  // b.txt's first record is gone.
  const std::vector<TJournalKind> expected = {TJournalKind::jkFolderCreated, TJournalKind::jkFileCreated,
                                              TJournalKind::jkFileReplaced, TJournalKind::jkFileReplaced};
  ASSERT_EQ(Kinds(journal.Bytes()), expected);
  // The file holds what was appended, the taken-back record cut off.
  EXPECT_EQ(SizeOnDisk(journal.Path()), journal.Bytes().size());

  EXPECT_TRUE(RollBackJournal(DecodeJournal(journal.Bytes())).empty());
  EXPECT_FALSE(FileExists(folder + L"a.txt"));
  EXPECT_EQ(ReadFileBytes(folder + L"b.txt"), "theirs");
}

TEST_F(InstallChanges, AnEndStateWaitsForTheNextRecordOrAFlush) {
  ASSERT_TRUE(changes.CreateFolders(root + L"app"));
  const std::wstring file = root + L"app\\a.txt";
  changes.PrepareFile(file, TJournalRole::jrFile);
  WriteFileBytes(file, "abc");
  changes.FileWritten(file, TJournalRole::jrFile, BytesAdler32("abc"));
  // Killed now, the journal would lack only what the file holds.
  const std::size_t before = SizeOnDisk(journal.Path());
  ASSERT_LT(before, journal.Bytes().size());
  EXPECT_EQ(Kinds(journal.Bytes().substr(0, before)).back(), TJournalKind::jkFileCreated);
  changes.Flush();
  EXPECT_EQ(SizeOnDisk(journal.Path()), journal.Bytes().size());
  const TJournalEntry& state = DecodeJournal(journal.Bytes()).Entries.back();
  ASSERT_EQ(state.Kind, TJournalKind::jkFileState);
  EXPECT_EQ(state.Size, 3u);
  EXPECT_EQ(state.Checksum, BytesAdler32("abc"));
}

TEST_F(InstallChanges, AFolderRemovedByAnotherProgramIsMadeAgainAfterALook) {
  const std::wstring folder = root + L"app";
  ASSERT_TRUE(changes.CreateFolders(folder));
  ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
  changes.LookAgain();
  ASSERT_TRUE(changes.CreateFolders(folder));
  EXPECT_TRUE(DirectoryExists(folder));
  const std::vector<TJournalKind> expected = {TJournalKind::jkFolderCreated, TJournalKind::jkFolderCreated};
  EXPECT_EQ(Kinds(journal.Bytes()), expected);
}
