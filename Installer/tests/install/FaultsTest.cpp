// Faults met during a silent install and damaged packages: what the setup
// program says (its line on standard output), what it leaves on disk and in
// the registry, and its exit code. The drive tests need the drives that
// fault_drives.sh maps (NV_FAULT_DRIVES): T: a 2 MB file system, S: a
// read-only one.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "ExitCodes.h"
#include "NvSysUtils.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

struct TRun {
  DWORD Code = 0xFFFFFFFF;
  std::string Output;
};

// A "/Silent" run of exe with its output; fails the test when the program
// does not end within 90 s.
TRun RunSilent(const std::wstring& exe) {
  const std::wstring out = exe + L".out.txt";
  DeleteFileW(out.c_str());
  TProcess setup(L"\"" + exe + L"\" /Silent", L"", out);
  TRun run;
  if (!setup.Started()) {
    ADD_FAILURE() << Utf8Encode(exe) << ": did not start";
    return run;
  }
  if (!setup.WaitFor(90000)) {
    ADD_FAILURE() << Utf8Encode(exe) << ": still running after 90 s";
    setup.Kill();
  }
  run.Code = setup.ExitCode();
  run.Output = setup.Output();
  return run;
}

// The setup program's lines are in the system's ANSI code page, where the
// test prefix has no Chinese: a line is recognised by its ASCII parts.
::testing::AssertionResult Told(const TRun& run, const std::wstring& part) {
  if (Contains(run.Output, Utf8Encode(part))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no line with \"" << Utf8Encode(part) << "\" in: " << run.Output;
}

bool DrivesMapped() {
  const char* drives = std::getenv("NV_FAULT_DRIVES");
  return drives && std::string(drives) == "TS";
}

bool Registered(TTestPackage& pkg) {
  return KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), KEY_WOW64_32KEY);
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
// opened again and removed with its sub-keys.
class TLockedKey {
public:
  TLockedKey(HKEY root, std::wstring path) : FRoot(root), FPath(std::move(path)), FApplied(DenyWrites(FRoot, FPath)) {}
  ~TLockedKey() {
    OpenKeyToEveryone(FRoot, FPath);
    DeleteKeyTree(FRoot, FPath);
    if (KeyExists(FRoot, FPath, KEY_WOW64_32KEY)) ADD_FAILURE() << "the test's key could not be removed";
  }
  // False when this Wine does not apply a key's access list.
  bool Applied() const { return FApplied; }

private:
  HKEY FRoot;
  std::wstring FPath;
  bool FApplied;
};

// Three files around a middle one that the fault hits, a registry value and
// an uninstall entry that must not be written once the install fails.
struct TThreeFiles {
  TThreeFiles(const std::wstring& name, const std::wstring& app, const std::wstring& middleDir,
              const std::string& middle)
      : Root(FreshDir(name)), App(app), Pkg(Root, L"NvFault " + name, app, TPackMode::ResourceWriter) {
    Pkg.AddFile(L"{app}", L"first.txt", "first");
    Pkg.AddFile(middleDir, L"middle.bin", middle);
    Pkg.AddFile(L"{app}", L"last.txt", "last");
    RegKey = L"Software\\NvFaultTests\\" + Pkg.Info().GUID;
    Pkg.AddReg(rrkCurrentUser, RegKey, L"After", L"written");
    Exe = Root + L"setup.exe";
    Pkg.Build(Exe);
  }
  ~TThreeFiles() {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(Pkg.Info().GUID));
    DeleteKeyTree(HKEY_CURRENT_USER, RegKey);
  }
  // Nothing after the failed file: no later file, value, data file or entry.
  void ExpectNothingAfterTheFault() {
    EXPECT_EQ(ReadBytes(App + L"first.txt"), "first");
    EXPECT_FALSE(PathIsFile(App + L"last.txt"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, RegKey, KEY_WOW64_32KEY));
    EXPECT_FALSE(PathIsFile(App + L"Uninstall.da1"));
    EXPECT_FALSE(Registered(Pkg));
  }
  std::wstring Root, App, Exe, RegKey;
  TTestPackage Pkg;
};

}  // namespace

// ---- faults during the install ----

TEST(Faults, DriveThatFillsUpEndsWithItsLineAndNoHalfFileLeft) {
  if (!DrivesMapped()) GTEST_SKIP() << "no size-limited drive T: (fault_drives.sh could not mount one)";
  RemoveTree(L"T:\\app\\");
  const std::string big = RandomBytes(3 * 1024 * 1024, 5);  // more than the drive holds
  TThreeFiles t(L"fault-full", L"T:\\app\\", L"{app}", big);
  const TRun run = RunSilent(t.Exe);
  EXPECT_EQ(run.Code, kExitUserAborted);
  EXPECT_TRUE(Told(run, L"T:\\app\\middle.bin:Cannot write file \"T:\\app\\middle.bin\". Disk full."));
  t.ExpectNothingAfterTheFault();
  // The failed write leaves no truncated file that looks installed.
  EXPECT_FALSE(PathIsFile(L"T:\\app\\middle.bin")) << ReadBytes(L"T:\\app\\middle.bin").size() << " bytes left";
  RemoveTree(L"T:\\app\\");
}

TEST(Faults, ReadOnlyFolderFailsTheFolderCheckOrTheFile) {
  if (!DrivesMapped()) GTEST_SKIP() << "no read-only drive S: (fault_drives.sh could not mount one)";
  {
    // The installation folder itself: the check's messages, nothing written.
    TThreeFiles t(L"fault-ro-app", L"S:\\", L"{app}", "middle");
    TRun run = RunSilent(t.Exe);
    EXPECT_EQ(run.Code, kExitBadFolder);
    EXPECT_TRUE(Told(run, L":S:\\,"));
    EXPECT_FALSE(Registered(t.Pkg));
  }
  {
    TThreeFiles t(L"fault-ro-new", L"S:\\new\\app\\", L"{app}", "middle");
    TRun run = RunSilent(t.Exe);
    EXPECT_EQ(run.Code, kExitBadFolder);
    EXPECT_TRUE(Told(run, L":S:\\new\\app\\,"));
  }
  {
    // One file item in the read-only folder: the copy failure's line.
    TThreeFiles t(L"fault-ro-item", FreshDir(L"fault-ro-item-app"), L"S:\\sub", "middle");
    TRun run = RunSilent(t.Exe);
    EXPECT_EQ(run.Code, kExitUserAborted);
    EXPECT_TRUE(Told(run, L":S:\\sub\\middle.bin:Cannot create file \"S:\\sub\\middle.bin\"."));
    t.ExpectNothingAfterTheFault();
  }
}

TEST(Faults, FileHeldOpenByAnotherProgramEndsWithItsLineAndTheOldContentKept) {
  TThreeFiles t(L"fault-held", TestRoot() + L"fault-held\\app\\", L"{app}", RandomBytes(100000, 9));
  WriteBytes(t.App + L"middle.bin", "old content");
  HANDLE held = CreateFileW((t.App + L"middle.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const TRun run = RunSilent(t.Exe);
  CloseHandle(held);
  EXPECT_EQ(run.Code, kExitUserAborted);
  EXPECT_TRUE(Told(run, L":" + t.App + L"middle.bin:Cannot create file \"" + t.App + L"middle.bin\". Sharing violation."));
  EXPECT_EQ(ReadBytes(t.App + L"middle.bin"), "old content");
  t.ExpectNothingAfterTheFault();
}

TEST(Faults, UninstallKeyThatCannotBeWrittenIsAFailedInstall) {
  TThreeFiles t(L"fault-key", TestRoot() + L"fault-key\\app\\", L"{app}", "middle");
  const std::wstring keyPath = UninstallKey(t.Pkg.Info().GUID);
  SetRegString(HKEY_LOCAL_MACHINE, keyPath, L"DisplayName", L"locked entry");
  TLockedKey lock(HKEY_LOCAL_MACHINE, keyPath);
  if (!lock.Applied()) GTEST_SKIP() << "this Wine does not apply a key's access list";

  const TRun run = RunSilent(t.Exe);
  EXPECT_EQ(run.Code, kExitInstallFailed);
  EXPECT_TRUE(Told(run, L"Failed to open the uninstall key 'HKEY_LOCAL_MACHINE\\" + keyPath + L"'"));
  // Everything before the registration is in place; the entry is unchanged.
  EXPECT_EQ(ReadBytes(t.App + L"last.txt"), "last");
  EXPECT_TRUE(PathIsFile(t.App + L"Uninstall.da1"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, keyPath, L"DisplayName"), L"locked entry");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, keyPath, L"InstallLocation"), L"<missing>");
}

TEST(Faults, RegistryKeyThatCannotBeWrittenIsAFailedInstall) {
  TThreeFiles t(L"fault-reg", TestRoot() + L"fault-reg\\app\\", L"{app}", "middle");
  const std::wstring locked = L"Software\\NvFaultTests\\Locked" + t.Pkg.Info().GUID;
  SetRegString(HKEY_CURRENT_USER, locked, L"Kept", L"as it was");
  t.Pkg.AddReg(rrkCurrentUser, locked + L"\\Below", L"Value", L"never written");
  t.Pkg.Build(t.Exe);
  TLockedKey lock(HKEY_CURRENT_USER, locked);
  if (!lock.Applied()) GTEST_SKIP() << "this Wine does not apply a key's access list";

  const TRun run = RunSilent(t.Exe);
  EXPECT_EQ(run.Code, kExitInstallFailed);
  EXPECT_TRUE(Told(run, L"Failed to open the key 'HKEY_CURRENT_USER\\" + locked + L"\\Below'"));
  // The files and the value before it are in place; no entry says it is whole.
  EXPECT_EQ(ReadBytes(t.App + L"last.txt"), "last");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, t.RegKey, L"After"), L"written");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, locked + L"\\Below", KEY_WOW64_32KEY));
  EXPECT_FALSE(Registered(t.Pkg));
}

TEST(Faults, ShortcutThatCannotBeSavedIsAFailedInstall) {
  TThreeFiles t(L"fault-link", TestRoot() + L"fault-link\\app\\", L"{app}", "middle");
  // Its folder would have to be made below a file.
  t.Pkg.AddShortCut(L"{app}first.txt\\links", L"Product", L"{app}last.txt", L"{app}");
  t.Pkg.Build(t.Exe);
  const TRun run = RunSilent(t.Exe);
  EXPECT_EQ(run.Code, kExitInstallFailed);
  EXPECT_TRUE(Told(run, L"Saving the shortcut " + t.App + L"first.txt\\links\\Product.lnk failed"));
  EXPECT_EQ(ReadBytes(t.App + L"last.txt"), "last");
  EXPECT_FALSE(PathIsFile(t.App + L"Uninstall.da1"));
  EXPECT_FALSE(Registered(t.Pkg));
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

  const TRun run = RunSilent(exe);
  EXPECT_EQ(run.Code, kExitRunFailed);
  EXPECT_TRUE(Told(run, L":" + app + L"missing.exe"));
  EXPECT_TRUE(Told(run, L":" + app + L"broken.exe"));
  EXPECT_TRUE(WaitForLine(log, L"started end", 20000)) << "the entry after the failed ones did not run";
  // The install itself is whole.
  EXPECT_TRUE(Registered(pkg));
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
    } else {
      EXPECT_FALSE(setup.Output().empty()) << "no line says why";
      EXPECT_FALSE(PathIsFile(app + L"last.txt"));
      EXPECT_FALSE(Registered(pkg));
    }
  }
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

TEST(Damaged, PayloadWithFlippedBytesNamesTheFileAndLeavesNoPartOfIt) {
  TThreeFiles t(L"damaged-flip", TestRoot() + L"damaged-flip\\app\\", L"{app}", "placeholder");
  // The middle item's payload, encoded, with bytes flipped in its middle.
  TSetupFile* middle = t.Pkg.Script().FileList()->Items(1);
  const std::string content = RandomBytes(200000, 4) + std::string(200000, 'a');
  std::string payload = EncodePayload(content);
  for (std::size_t i = payload.size() / 2; i < payload.size() / 2 + 8; ++i) payload[i] = static_cast<char>(~payload[i]);
  middle->FileBytes = static_cast<int>(content.size());
  t.Pkg.SetResource(middle->ResID, payload, true);
  t.Pkg.Build(t.Exe);

  const TRun run = RunSilent(t.Exe);
  EXPECT_EQ(run.Code, kExitInstallFailed);
  EXPECT_TRUE(Told(run, t.App + L"middle.bin"));
  EXPECT_FALSE(PathIsFile(t.App + L"middle.bin"));
  t.ExpectNothingAfterTheFault();
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
    const TRun run = RunSilent(root + L"setup.exe");
    EXPECT_EQ(run.Code, kExitOk) << Utf8Encode(name) << ": " << run.Output;
    EXPECT_EQ(ReadBytes(root + L"app\\a.txt"), "a") << Utf8Encode(name);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
  }
}
