// Where project items land: parsing, comparison keys and expansion of
// locations, and the targets of file, shortcut and registry items.
#include <gtest/gtest.h>

#include <string>

#include "InstallLocation.h"
#include "NvSysUtils.h"
#include "Setupfn.h"

namespace {

// Folder values of a 64-bit Windows as the 32-bit product sees them; the
// previous values come back after each test.
class InstallLocation : public ::testing::Test {
protected:
  void SetUp() override {
    FPf = TSetupfn::ProgramFilesPath();
    FDesktop = TSetupfn::DesktopPath();
    FPrograms = TSetupfn::ProgramsPath();
    FApp = TSetupfn::AppPath();
    FTitle = TSetupfn::ProductTitle();
    TSetupfn::SetProgramFilesPath(L"C:\\Program Files (x86)");
    TSetupfn::SetDesktopPath(L"C:\\Users\\u\\Desktop\\");
    TSetupfn::SetProgramsPath(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\");
    TSetupfn::SetProductTitle(L"示例产品");
    TSetupfn::SetAppPath(L"D:\\Apps\\Demo\\");
  }
  void TearDown() override {
    TSetupfn::SetProgramFilesPath(FPf);
    TSetupfn::SetDesktopPath(FDesktop);
    TSetupfn::SetProgramsPath(FPrograms);
    TSetupfn::SetAppPath(FApp);
    TSetupfn::SetProductTitle(FTitle);
  }

private:
  std::wstring FPf, FDesktop, FPrograms, FApp, FTitle;
};

TEST_F(InstallLocation, ParsesRootAndNormalRest) {
  struct Case {
    const wchar_t* value;
    TLocationRoot root;
    const wchar_t* base;
    const wchar_t* rest;
  } cases[] = {
      {L"{app}", TLocationRoot::lrApp, L"", L""},
      {L"{APP}\\", TLocationRoot::lrApp, L"", L""},
      {L"{app}bin", TLocationRoot::lrApp, L"", L"bin"},
      {L" {app}/bin//lib/./x.dll ", TLocationRoot::lrApp, L"", L"bin\\lib\\x.dll"},
      {L"{app}\\bin\\..\\doc", TLocationRoot::lrApp, L"", L"doc"},
      {L"{pf}\\Company\\Product", TLocationRoot::lrPf, L"", L"Company\\Product"},
      {L"{group}", TLocationRoot::lrGroup, L"", L""},
      {L"{Desktop}\\", TLocationRoot::lrDesktop, L"", L""},
      {L"c:\\Tools\\x", TLocationRoot::lrAbsolute, L"C:", L"Tools\\x"},
      {L"C:/", TLocationRoot::lrAbsolute, L"C:", L""},
      {L"\\\\server\\share\\dir\\..\\f.txt", TLocationRoot::lrAbsolute, L"\\\\server\\share", L"f.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Utf8Encode(c.value));
    const TLocation loc = ParseLocation(c.value);
    EXPECT_EQ(Utf8Encode(loc.Problem), "");
    EXPECT_EQ(loc.Root, c.root);
    EXPECT_EQ(Utf8Encode(loc.Base), Utf8Encode(c.base));
    EXPECT_EQ(Utf8Encode(loc.Rest), Utf8Encode(c.rest));
  }
}

TEST_F(InstallLocation, RefusesWhatWouldLandElsewhere) {
  using F = TLocationFault;
  struct Case {
    const wchar_t* value;
    const char* problem;
    TLocationFault fault;
  } cases[] = {
      {L"", "empty", F::lfEmpty},
      {L"   ", "empty", F::lfEmpty},
      {L"bin", "is relative", F::lfRelative},
      {L".\\bin", "is relative", F::lfRelative},
      {L"\\Windows", "is relative", F::lfRelative},
      {L"C:Windows", "is relative", F::lfRelative},
      {L"{commondesktop}\\x", "unknown constant {commondesktop}", F::lfUnknownConstant},
      {L"{Versoin}", "unknown constant {Versoin}", F::lfUnknownConstant},
      {L"{srcexe}\\x", "the setup program itself", F::lfSrcExe},
      {L"{app}\\..\\..\\x", "climbs out of {app}", F::lfClimbsOut},
      {L"{app}\\a\\..\\..", "climbs out of {app}", F::lfClimbsOut},
      {L"C:\\..\\x", "climbs out of C:\\", F::lfClimbsOut},
      {L"{app}\\{desktop}", "names the constant {desktop} after its start", F::lfInnerConstant},
      {L"C:\\x\\{APP}", "names the constant {app} after its start", F::lfInnerConstant},
      {L"\\\\server", "not a full network path", F::lfBadNetworkPath},
      {L"\\\\server\\..\\x", "not a full network path", F::lfBadNetworkPath},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Utf8Encode(c.value));
    const TLocation loc = ParseLocation(c.value);
    EXPECT_NE(Utf8Encode(loc.Problem).find(c.problem), std::string::npos) << Utf8Encode(loc.Problem);
    EXPECT_EQ(loc.Fault, c.fault);
    EXPECT_THROW(ExpandLocation(c.value), ELocationError);
  }
  EXPECT_EQ(ParseLocation(L"{app}\\bin").Fault, F::lfNone);
}

TEST_F(InstallLocation, ExpandsWithTheFolderValues) {
  struct Case {
    const wchar_t* value;
    const wchar_t* path;
  } cases[] = {
      {L"{app}", L"D:\\Apps\\Demo\\"},
      {L"{app}bin\\x.dll", L"D:\\Apps\\Demo\\bin\\x.dll"},
      {L"{pf}\\Co\\P", L"C:\\Program Files (x86)\\Co\\P"},
      {L"{group}", L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\示例产品\\"},
      {L"{desktop}\\a.lnk", L"C:\\Users\\u\\Desktop\\a.lnk"},
      {L"c:\\x\\", L"C:\\x"},
      {L"\\\\srv\\share\\a", L"\\\\srv\\share\\a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8Encode(ExpandLocation(c.value)), Utf8Encode(c.path));
}

TEST_F(InstallLocation, ConstantWithoutAFolderIsRefused) {
  // Each folder the system may not give, and an "{app}" not yet set or not full.
  const struct {
    void (*unset)();
    const wchar_t* value;
  } cases[] = {
      {[] { TSetupfn::SetDesktopPath(L""); }, L"{desktop}\\a"},
      {[] { TSetupfn::SetProgramsPath(L""); }, L"{group}"},
      {[] { TSetupfn::SetProgramFilesPath(L""); }, L"{pf}\\a"},
      {[] { TSetupfn::SetAppPath(L""); }, L"{app}\\a"},
      {[] { TSetupfn::SetAppPath(L"Demo\\"); }, L"{app}\\a"},
      {[] { TSetupfn::SetDesktopPath(L"\\\\"); }, L"{desktop}"},
  };
  for (const auto& c : cases) {
    SetUp();
    c.unset();
    SCOPED_TRACE(testing::Message() << Utf8Encode(c.value));
    try {
      ExpandLocation(c.value);
      ADD_FAILURE() << "expanded";
    } catch (const ELocationError& e) {
      EXPECT_NE(Utf8Encode(e.Message()).find("names no folder on this machine"), std::string::npos);
    }
  }
}

// The builder's key and the machine's path agree: two values share a key
// exactly when they land on the same file.
TEST_F(InstallLocation, KeysMatchExactlyWhenTargetsMatch) {
  const wchar_t* values[] = {L"{app}\\bin\\x.dll", L"{APP}bin/X.DLL",   L"{app}\\\\bin\\.\\lib\\..\\x.dll",
                             L"{app}\\x.dll",      L"{pf}\\bin\\x.dll", L"{desktop}\\bin\\x.dll",
                             L"{group}\\x.dll",    L"C:\\bin\\x.dll",   L"c:/BIN//x.dll"};
  for (const wchar_t* a : values)
    for (const wchar_t* b : values) {
      SCOPED_TRACE(testing::Message() << Utf8Encode(a) << " / " << Utf8Encode(b));
      EXPECT_EQ(LocationKey(a) == LocationKey(b), SameText(ExpandLocation(a), ExpandLocation(b)));
    }
}

TEST_F(InstallLocation, ItemTargets) {
  TSetupFile file;
  file.DestDir = L"{app}\\docs\\";
  file.SourceMask = L"sub\\说明.txt";
  EXPECT_EQ(Utf8Encode(FileTarget(file)), Utf8Encode(L"D:\\Apps\\Demo\\docs\\sub\\说明.txt"));
  file.DestDir = L"docs";
  EXPECT_THROW(FileTarget(file), ELocationError);

  TSetupShortCut link;
  link.SaveDir = L"{group}";
  link.Name = L"演示";
  EXPECT_EQ(Utf8Encode(ShortcutTarget(link)),
            Utf8Encode(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\示例产品\\演示.lnk"));
  for (const wchar_t* bad : {L"", L"a/b", L"a:b", L"a\\b", L"what?", L"x.", L"x ", L"..", L"a\tb"}) {
    link.Name = bad;
    EXPECT_THROW(ShortcutTarget(link), ELocationError) << Utf8Encode(bad);
  }

  TSetupReg reg;
  reg.RootKey = rrkLocalMachine;
  reg.SubKey = L"\\Software\\\\Co\\{app}\\";
  reg.ValueName = L"Path";
  const TRegistryTarget target = RegistryTarget(reg);
  EXPECT_EQ(target.Root, rrkLocalMachine);
  EXPECT_EQ(Utf8Encode(target.Key), Utf8Encode(L"Software\\Co\\D:\\Apps\\Demo"));
  EXPECT_EQ(Utf8Encode(target.ValueName), "Path");
  reg.SubKey = L"\\\\";
  EXPECT_THROW(RegistryTarget(reg), ELocationError);

  EXPECT_EQ(Utf8Encode(UninstallKeyPath(L"{G}")), "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{G}_lm");
  EXPECT_EQ(Utf8Encode(RegistryRootName(static_cast<TRegRootKey>(9))), "HKEY_CURRENT_USER");
}

TEST(PathComparison, NormalFormAndContainment) {
  EXPECT_EQ(Utf8Encode(NormalPath(L"c:/A//b/./c/../")), "C:\\A\\b");
  EXPECT_EQ(Utf8Encode(NormalPath(L"C:\\")), "C:\\");
  for (const wchar_t* bad : {L"", L"a\\b", L"{app}\\x", L"C:\\..\\x"}) EXPECT_EQ(NormalPath(bad), L"");
  struct {
    const wchar_t *path, *folder;
    bool within, below;
  } cases[] = {
      {L"C:\\App\\x.txt", L"c:\\app\\", true, true},   {L"C:\\App", L"C:\\App\\", true, false},
      {L"C:\\Apps\\x", L"C:\\App", false, false},        {L"C:\\App\\..\\x", L"C:\\App", false, false},
      {L"C:\\x", L"C:\\", true, true},                     {L"D:\\App\\x", L"C:\\App", false, false},
      {L"relative\\x", L"C:\\", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathWithin(c.path, c.folder), c.within) << Utf8Encode(c.path) << " in " << Utf8Encode(c.folder);
    EXPECT_EQ(PathBelow(c.path, c.folder), c.below) << Utf8Encode(c.path) << " below " << Utf8Encode(c.folder);
  }
}

TEST(PathConstantNames, KnownConstants) {
  for (const wchar_t* c : {L"{app}", L"{PF}", L"{group}", L"{desktop}", L"{srcexe}"}) EXPECT_TRUE(IsPathConstant(c));
  for (const wchar_t* c : {L"{commondesktop}", L"{Version}", L"app", L""}) EXPECT_FALSE(IsPathConstant(c));
}

}  // namespace
