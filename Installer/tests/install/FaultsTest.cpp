// Faults met during a silent install and damaged packages: what the setup
// program says (its lines on standard output), its exit code, and the
// machine after the run, which equals the machine before it: a failed install
// is rolled back, on a fresh machine and over an earlier install of the same
// product in a folder that holds the user's own files. The drive tests need
// the drives that fault_drives.sh maps (NV_FAULT_DRIVES): T: a 2 MB file
// system, S: a read-only one.
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "ExitCodes.h"
#include "JournalFile.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageCodec.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

// The setup program's lines are in the system's ANSI code page: a text is
// compared as the program writes it (in the test prefix, Chinese becomes "?").
std::string Ansi(const std::wstring& text) { return WideToAnsi(text); }

const wchar_t kRolledBack[] = L"安装未完成，已撤销所做的更改。";
const wchar_t kNotAllUndone[] = L"安装未完成，以下更改未能撤销：";
const wchar_t kSettling[] = L"上次安装未完成，正在撤销其所做的更改。";

// The lines are exactly these: each expected line is contained in its line.
::testing::AssertionResult Lines(const TRunOutput& run, const std::vector<std::wstring>& expected) {
  const std::vector<std::string> lines = run.Lines();
  bool ok = lines.size() == expected.size();
  for (std::size_t i = 0; ok && i < lines.size(); ++i) ok = Contains(lines[i], Ansi(expected[i]));
  if (ok) return ::testing::AssertionSuccess();
  auto result = ::testing::AssertionFailure() << "expected the lines:";
  for (const std::wstring& line : expected) result << "\n  " << Ansi(line);
  return result << "\nthe output:\n" << run.Output;
}

// A failed run that was rolled back: the failure's line, then the rollback's.
::testing::AssertionResult ToldThenRolledBack(const TRunOutput& run, const std::wstring& failure) {
  return Lines(run, {failure, kRolledBack});
}

bool DrivesMapped() {
  const char* drives = std::getenv("NV_FAULT_DRIVES");
  return drives && std::string(drives) == "TS";
}

std::wstring CommonPrograms() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
  return IncludeTrailingBackslash(path);
}

// Gives the key (32-bit view) an access list that allows everything.
void OpenKeyToEveryone(HKEY root, const std::wstring& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyPath.c_str(), 0, WRITE_DAC | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) return;
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
}

// Denies everyone writing values and creating sub-keys of the existing key
// (32-bit view); false when the system still lets a program write it.
bool DenyWrites(HKEY root, const std::wstring& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyPath.c_str(), 0, WRITE_DAC | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) return false;
  PSID everyone = nullptr;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  EXPLICIT_ACCESSW rules[2] = {};
  rules[0].grfAccessPermissions = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
  rules[0].grfAccessMode = DENY_ACCESS;
  rules[1].grfAccessPermissions = KEY_READ | WRITE_DAC | DELETE;
  rules[1].grfAccessMode = GRANT_ACCESS;
  for (EXPLICIT_ACCESSW& r : rules) {
    r.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    r.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    r.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  }
  PACL acl = nullptr;
  SetEntriesInAclW(2, rules, nullptr, &acl);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  LocalFree(acl);
  FreeSid(everyone);
  HKEY probe = nullptr;
  const LONG rc = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &probe);
  if (probe) RegCloseKey(probe);
  return rc != ERROR_SUCCESS;
}

// An existing key whose writes are denied while this lives; afterwards it is
// opened again (the fault case removes it).
class TLockedKey {
public:
  TLockedKey(HKEY root, std::wstring path) : FRoot(root), FPath(std::move(path)), FApplied(DenyWrites(FRoot, FPath)) {}
  ~TLockedKey() { OpenKeyToEveryone(FRoot, FPath); }
  // False when this Wine does not apply a key's access list.
  bool Applied() const { return FApplied; }

private:
  HKEY FRoot;
  std::wstring FPath;
  bool FApplied;
};

// Where a fault case starts from.
enum class TStart {
  // The installation folder and its parent do not exist.
  Fresh,
  // The folder holds the user's own file and empty folder, and an earlier
  // install of the same product (same files and values, without the fault):
  // the rollback must put back the files and values it replaced.
  OverEarlier,
};
const TStart kStarts[] = {TStart::Fresh, TStart::OverEarlier};

const char* StartName(TStart start) { return start == TStart::Fresh ? "fresh machine" : "over an earlier install"; }

// The product of a fault case: three files around a middle one that the
// fault hits, a value in HKCU and one in HKLM, a shortcut in its Start-menu
// group, the uninstall data and entry. The test adds the fault to Pkg, then
// Run builds it and runs it between two snapshots of the machine.
class TFaultCase {
public:
  TFaultCase(const std::wstring& name, TStart start, std::wstring app = L"", const std::wstring& middleDir = L"{app}")
      : Root(FreshDir(name)),
        App(app.empty() ? Root + L"new\\app\\" : app),
        Exe(Root + L"setup.exe"),
        Pkg(Root, L"NvFault " + name, App, TPackMode::ResourceWriter) {
    Pkg.AddFile(L"{app}", L"first.txt", "first");
    Pkg.AddFile(middleDir, L"middle.bin", "middle");
    Pkg.AddFile(L"{app}", L"last.txt", "last");
    RegKey = L"Software\\NvFaultTests\\" + Pkg.Info().GUID;
    Pkg.AddReg(rrkCurrentUser, RegKey, L"After", L"written");
    Pkg.AddReg(rrkLocalMachine, RegKey, L"Number", L"7", rvtDWord);
    Pkg.AddShortCut(L"{group}", L"Product", L"{app}last.txt", L"{app}");
    Group = CommonPrograms() + Pkg.Info().AppTitle + L"\\";
    if (start == TStart::OverEarlier) {
      WriteBytes(App + L"user.txt", "the user's own file");
      CreateDirectoryW((App + L"user-empty").c_str(), nullptr);
      Pkg.Build(Root + L"earlier.exe");
      const TRunOutput earlier = RunWithOutput(Root + L"earlier.exe", L"/Silent");
      EXPECT_EQ(earlier.Code, kExitOk) << "the earlier install failed: " << earlier.Output;
    }
  }
  ~TFaultCase() {
    DeleteKeyTree(HKEY_CURRENT_USER, RegKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, RegKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(Pkg.Info().GUID));
    RemoveTree(Group);
    if (App.size() > 3) RemoveTree(App);  // never a drive's root
  }

  TSetupFile& Middle() { return *Pkg.Script().FileList()->Items(1); }
  // The middle file's content (its payload coded fast: a level of 1).
  void SetMiddle(const std::string& content) {
    Middle().FileBytes = static_cast<int32_t>(content.size());
    Pkg.SetResource(Middle().ResID, EncodePackagePayload(content, 1), true);
  }

  // Builds the package, takes the machine, runs it under "/Silent" and takes
  // the machine again.
  TRunOutput Run() {
    Pkg.Build(Exe);
    Before = Take();
    const TRunOutput run = RunWithOutput(Exe, L"/Silent");
    After = Take();
    return run;
  }
  TMachineSnapshot Take() const { return TakeSnapshot({Root + L"*.exe", Root + L"*.exe.out.txt"}, MoreFolders); }

  // The machine after the run equals the machine before it.
  ::testing::AssertionResult Unchanged() const {
    const std::vector<std::string> changes = Differences(Before, After);
    if (changes.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run changed the machine:" << DifferenceText(changes);
  }

  std::wstring Root, App, Exe, RegKey, Group;
  TTestPackage Pkg;
  std::vector<std::wstring> MoreFolders;
  TMachineSnapshot Before, After;
};

}  // namespace

// ---- faults during the install: each is rolled back ----

TEST(Faults, DriveThatFillsUpIsRolledBack) {
  if (!DrivesMapped()) GTEST_SKIP() << "no size-limited drive T: (fault_drives.sh could not mount one)";
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    RemoveTree(L"T:\\app\\");
    TFaultCase t(L"fault-full", start, L"T:\\app\\");
    t.MoreFolders = {L"T:\\"};
    t.SetMiddle(RandomBytes(3 * 1024 * 1024, 5));  // more than the drive holds
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitUserAborted);
    EXPECT_TRUE(ToldThenRolledBack(run, L"复制文件失败：T:\\app\\middle.bin：Cannot write file \"T:\\app\\middle.bin\". Disk full."));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, ReadOnlyFolderFailsTheFolderCheckOrIsRolledBack) {
  if (!DrivesMapped()) GTEST_SKIP() << "no read-only drive S: (fault_drives.sh could not mount one)";
  // The installation folder itself: the check's messages, nothing begun.
  const struct {
    const wchar_t* App;
    const wchar_t* Line;
  } checks[] = {
      {L"S:\\", L"不能安装到此文件夹：S:\\，请重新输入。"},
      {L"S:\\folder\\", L"尝试在安装目录写入文件失败：S:\\folder\\，请重新输入。"},
      {L"S:\\new\\app\\", L"创建安装目录失败：S:\\new\\app\\，请重新输入。"},
  };
  for (const auto& check : checks) {
    SCOPED_TRACE(Utf8Encode(check.App));
    TFaultCase t(L"fault-ro-app", TStart::Fresh, check.App);
    t.MoreFolders = {L"S:\\"};
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitBadFolder);
    EXPECT_TRUE(Lines(run, {check.Line}));
    EXPECT_TRUE(t.Unchanged());
  }
  // One file item in the read-only folder: the copy failure's line.
  TFaultCase t(L"fault-ro-item", TStart::Fresh, L"", L"S:\\sub");
  t.MoreFolders = {L"S:\\"};
  const TRunOutput run = t.Run();
  EXPECT_EQ(run.Code, kExitUserAborted);
  EXPECT_TRUE(ToldThenRolledBack(run, L"复制文件失败：S:\\sub\\middle.bin：Cannot create file \"S:\\sub\\middle.bin\"."));
  EXPECT_TRUE(t.Unchanged());
}

TEST(Faults, FileHeldOpenByAnotherProgramIsRolledBackAndKeepsItsContent) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"fault-held", start);
    if (start == TStart::Fresh) WriteBytes(t.App + L"middle.bin", "the user's middle.bin");
    // Readable, but neither to be written nor moved aside.
    HANDLE held = CreateFileW((t.App + L"middle.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const TRunOutput run = t.Run();
    CloseHandle(held);
    EXPECT_EQ(run.Code, kExitUserAborted);
    const std::wstring file = t.App + L"middle.bin";
    EXPECT_TRUE(ToldThenRolledBack(run, L"复制文件失败：" + file + L"：Cannot create file \"" + file + L"\". Sharing violation."));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, DamagedPayloadIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"damaged-flip", start);
    // The middle item's payload, encoded, with bytes flipped in its middle.
    const std::string content = RandomBytes(200000, 4) + std::string(200000, 'a');
    std::string payload = EncodePayload(content);
    for (std::size_t i = payload.size() / 2; i < payload.size() / 2 + 8; ++i)
      payload[i] = static_cast<char>(~payload[i]);
    t.Middle().FileBytes = static_cast<int32_t>(content.size());
    t.Pkg.SetResource(t.Middle().ResID, payload, true);
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    EXPECT_TRUE(ToldThenRolledBack(run, L"安装包已损坏：" + t.App + L"middle.bin：Decompression error"));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, MissingResourceIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"damaged-missing", start);
    t.Pkg.RemoveResource(t.Middle().ResID);
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    EXPECT_TRUE(ToldThenRolledBack(
        run, L"安装包已损坏：" + t.App + L"middle.bin：its resource " + t.Middle().ResID + L" is missing"));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, RegistryKeyWithoutRightsIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"fault-reg", start);
    // A key of the product's below a key that denies writes: fresh, it
    // cannot be created; over the earlier install, it denies writes itself.
    const std::wstring locked = t.RegKey + L"\\Locked";
    if (start == TStart::Fresh) {
      SetRegString(HKEY_CURRENT_USER, locked, L"Kept", L"as it was");
      t.Pkg.AddReg(rrkCurrentUser, locked + L"\\Below", L"Value", L"never written");
    } else {
      TTestPackage& pkg = t.Pkg;
      pkg.AddReg(rrkCurrentUser, locked, L"Value", L"written again");
      pkg.Build(t.Root + L"earlier.exe");
      ASSERT_EQ(RunWithOutput(t.Root + L"earlier.exe", L"/Silent").Code, kExitOk);
    }
    TLockedKey lock(HKEY_CURRENT_USER, locked);
    if (!lock.Applied()) GTEST_SKIP() << "this Wine does not apply a key's access list";
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    const std::wstring key = start == TStart::Fresh ? locked + L"\\Below" : locked;
    EXPECT_TRUE(ToldThenRolledBack(run, L"Failed to open the key 'HKEY_CURRENT_USER\\" + key + L"'"));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, UninstallKeyWithoutRightsIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"fault-entry", start);
    const std::wstring keyPath = UninstallKey(t.Pkg.Info().GUID);
    if (start == TStart::Fresh) SetRegString(HKEY_LOCAL_MACHINE, keyPath, L"DisplayName", L"locked entry");
    TLockedKey lock(HKEY_LOCAL_MACHINE, keyPath);
    if (!lock.Applied()) GTEST_SKIP() << "this Wine does not apply a key's access list";
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    EXPECT_TRUE(ToldThenRolledBack(run, L"Failed to open the uninstall key 'HKEY_LOCAL_MACHINE\\" + keyPath + L"'"));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, ShortcutThatCannotBeSavedIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"fault-link", start);
    // Its folder would have to be made below a file.
    t.Pkg.AddShortCut(L"{app}first.txt\\links", L"Product", L"{app}last.txt", L"{app}");
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    EXPECT_TRUE(ToldThenRolledBack(run, L"Saving the shortcut " + t.App + L"first.txt\\links\\Product.lnk failed"));
    EXPECT_TRUE(t.Unchanged());
  }
}

TEST(Faults, DwordThatIsNotANumberIsRolledBack) {
  for (TStart start : kStarts) {
    SCOPED_TRACE(StartName(start));
    TFaultCase t(L"fault-number", start);
    // The builder refuses such data; another builder's package may carry it.
    t.Pkg.AddReg(rrkCurrentUser, t.RegKey, L"Bad", L"4x", rvtDWord);
    const TRunOutput run = t.Run();
    EXPECT_EQ(run.Code, kExitInstallFailed);
    EXPECT_TRUE(ToldThenRolledBack(run, L"'4x' is not a valid integer value"));
    EXPECT_TRUE(t.Unchanged());
  }
}

// A rollback that cannot put back a file it replaced (the test holds the
// earlier file's kept copy, so it cannot be moved back) lists it and ends
// with its own exit code; the journal stays, and the next run settles it.
TEST(Faults, RollbackThatCannotUndoEverythingListsWhatIsLeftAndTheNextRunSettlesIt) {
  TFaultCase t(L"fault-rollback", TStart::OverEarlier);
  // A large middle file (its payload stored) whose check sum is damaged: the
  // failure comes after all of it is written, which gives the test the time
  // to take hold of first.txt's kept copy.
  const std::string big = RandomBytes(64 << 20, 8);
  std::string payload = EncodePackagePayload(big, 0);
  for (std::size_t i = payload.size() - 4; i < payload.size(); ++i) payload[i] = static_cast<char>(~payload[i]);
  t.Middle().FileBytes = static_cast<int32_t>(big.size());
  t.Pkg.SetResource(t.Middle().ResID, payload, true);
  t.Pkg.Build(t.Exe);
  const TMachineSnapshot before = t.Take();

  TProcess setup(L"\"" + t.Exe + L"\" /Silent", L"", t.Exe + L".out.txt");
  ASSERT_TRUE(setup.Started());
  // first.txt's kept copy is the one as small as the earlier first.txt.
  HANDLE held = INVALID_HANDLE_VALUE;
  std::wstring kept;
  while (held == INVALID_HANDLE_VALUE && !setup.WaitFor(0)) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((t.App + L"~nvkeep-*.tmp").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (fd.nFileSizeLow != 5 || fd.nFileSizeHigh != 0) continue;
      kept = t.App + fd.cFileName;
      held = CreateFileW(kept.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    } while (held == INVALID_HANDLE_VALUE && FindNextFileW(find, &fd));
    FindClose(find);
  }
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << "the setup program ended before the test could hold the kept copy";
  ASSERT_TRUE(setup.WaitFor(90000));
  CloseHandle(held);
  const TRunOutput failed{setup.ExitCode(), setup.Output()};
  EXPECT_EQ(failed.Code, kExitRollbackIncomplete);
  EXPECT_TRUE(Lines(failed, {L"安装包已损坏：" + t.App + L"middle.bin：", kNotAllUndone,
                             L"未能撤销：" + t.App + L"first.txt"}));
  EXPECT_EQ(ReadBytes(kept), "first") << "the kept copy is lost";
  const std::wstring journal = PendingJournalPath(t.Pkg.Info().GUID);
  EXPECT_TRUE(PathIsFile(journal)) << "the journal of what could not be undone is gone";

  // The next run puts first.txt back first, then fails as before and is
  // rolled back whole.
  const TRunOutput again = RunWithOutput(t.Exe, L"/Silent");
  EXPECT_EQ(again.Code, kExitInstallFailed);
  EXPECT_TRUE(Lines(again, {kSettling, L"安装包已损坏：" + t.App + L"middle.bin：", kRolledBack}));
  const std::vector<std::string> changes = Differences(before, t.Take());
  EXPECT_TRUE(changes.empty()) << "the machine after both runs differs:" << DifferenceText(changes);
}

TEST(Faults, RunEntryThatCannotBeStartedIsToldAndTheOthersStillStart) {
  const std::wstring root = FreshDir(L"fault-run");
  const std::wstring app = root + L"app\\";
  const std::wstring log = root + L"run.log";
  TTestPackage pkg(root, L"NvFault Run", app, TPackMode::ResourceWriter);
  pkg.AddFile(L"{app}", L"probe.exe", ReadBytes(ProbeExe()));
  pkg.AddFile(L"{app}", L"broken.exe", "MZ but not a program");
  pkg.AddRun(L"{app}missing.exe", L"", L"{app}", true);
  pkg.AddRun(L"{app}broken.exe", L"", L"{app}", false);
  pkg.AddRun(L"{app}probe.exe", L"log " + log + L" started", L"{app}", false);
  const std::wstring exe = root + L"setup.exe";
  pkg.Build(exe);

  const TRunOutput run = RunWithOutput(exe, L"/Silent");
  EXPECT_EQ(run.Code, kExitRunFailed);
  EXPECT_TRUE(Lines(run, {L"无法启动：" + app + L"missing.exe", L"无法启动：" + app + L"broken.exe"}));
  EXPECT_TRUE(WaitForLine(log, L"started end", 20000)) << "the entry after the failed ones did not run";
  // The install itself is whole.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), KEY_WOW64_32KEY));
  EXPECT_TRUE(PathIsFile(app + L"Uninstall.da1"));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

// ---- damaged packages ----

TEST(Damaged, PackageCutShortNeverCrashesHangsOrInstalls) {
  const std::wstring root = FreshDir(L"damaged-cut");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvFault Cut", app, TPackMode::ResourceWriter);
  const std::string data = RandomBytes(400000, 3);
  pkg.AddFile(L"{app}", L"data.bin", data);
  pkg.AddFile(L"{app}", L"last.txt", "last");
  const std::wstring whole = root + L"whole.exe";
  pkg.Build(whole);
  const std::string bytes = ReadBytes(whole);
  ASSERT_GT(bytes.size(), 500000u);
  // In the headers, in the code, in the resources (the payloads, the
  // project) and in the last bytes of the file.
  const std::size_t cuts[] = {200,         bytes.size() / 8,     bytes.size() / 2, bytes.size() - 200000,
                              bytes.size() - 4096, bytes.size() - 16};
  for (std::size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(bytes.size()));
    RemoveTree(app);
    const std::wstring exe = root + L"cut" + std::to_wstring(cut) + L".exe";
    WriteBytes(exe, bytes.substr(0, cut));
    const TMachineSnapshot before = TakeSnapshot({root + L"*.exe", root + L"*.exe.out.txt"});
    TProcess setup(L"\"" + exe + L"\" /Silent", L"", exe + L".out.txt");
    if (!setup.Started()) {
      // The system's loader refuses an image shorter than its sections:
      // nothing of the program runs.
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
      EXPECT_FALSE(PathIsDir(app));
      continue;
    }
    if (!setup.WaitFor(60000)) {
      setup.Kill();
      ADD_FAILURE() << "still running after 60 s";
      continue;
    }
    const DWORD code = setup.ExitCode();
    EXPECT_TRUE(code == kExitOk || code == kExitDamagedPackage || code == kExitInstallFailed)
        << "exit code 0x" << std::hex << code << ": " << setup.Output();
    if (code == kExitOk) {
      // Only a cut that spares everything the install reads may install.
      EXPECT_TRUE(ReadBytes(app + L"data.bin") == data) << "data.bin is not whole";
      EXPECT_EQ(ReadBytes(app + L"last.txt"), "last");
      DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
    } else {
      EXPECT_FALSE(setup.Output().empty()) << "no line says why";
      const std::vector<std::string> changes =
          Differences(before, TakeSnapshot({root + L"*.exe", root + L"*.exe.out.txt"}));
      EXPECT_TRUE(changes.empty()) << "the failed run changed the machine:" << DifferenceText(changes);
    }
  }
}

TEST(Damaged, AgreementInABrokenEncodingIsShownAsFarAsItReadsAndTheInstallGoesOn) {
  // UTF-8 after its mark with broken sequences; UTF-16 of an odd length.
  const std::string agreements[] = {"\xEF\xBB\xBF" "ok \xC3 \xE4\xB8 \xFF\xFE\xF8 end", std::string("\xFF\xFE" "a\0b\0c", 7)};
  int index = 0;
  for (const std::string& agreement : agreements) {
    const std::wstring name = L"damaged-license" + std::to_wstring(index++);
    const std::wstring root = FreshDir(name);
    TTestPackage pkg(root, L"NvFault License", root + L"app\\", TPackMode::ResourceWriter);
    pkg.SetLicense(agreement);
    pkg.AddFile(L"{app}", L"a.txt", "a");
    pkg.Build(root + L"setup.exe");
    const TRunOutput run = RunWithOutput(root + L"setup.exe", L"/Silent");
    EXPECT_EQ(run.Code, kExitOk) << Utf8Encode(name) << ": " << run.Output;
    EXPECT_EQ(ReadBytes(root + L"app\\a.txt"), "a") << Utf8Encode(name);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
  }
}
