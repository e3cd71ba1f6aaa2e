// The install engine driven through a host of the test's own, without a
// window: the folder check, and files whose package data is missing or
// damaged. Packages are copies of this program with RCDATA resources added.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "SetupProject.h"
#include "Setupfn.h"
#include "TestFiles.h"

namespace {

class TTestHost : public TInstallHost {
public:
  bool SilentInstall() const override { return true; }
  bool AutoInstall() const override { return false; }
  void ProcessMessages() override {}
  void SetProgressMax(int max) override { Max = max; }
  void SetProgressPosition(int) override {}
  void StepProgress() override { ++Steps; }
  void CompleteProgress() override {}
  void SetStage(const std::wstring&) override {}
  void SetDetail(const std::wstring& text) override { Details.push_back(text); }
  void ShowDetail(bool) override {}
  void SetBusy(bool) override {}
  void ReportMessage(const std::wstring& text) override { Messages.push_back(text); }
  TCopyFailureAnswer AskCopyFailure(const std::wstring& fileName, const std::wstring&) override {
    CopyFailures.push_back(fileName);
    return TCopyFailureAnswer::cfAbort;
  }
  bool AskDownloadFailure(const std::wstring&) override { return true; }

  int Max = -1;
  int Steps = 0;
  std::vector<std::wstring> Details, Messages, CopyFailures;
};

std::string Encoded(const std::string& plain) {
  TMemoryStream stream;
  stream.Assign(plain);
  TSetupfn::EncodeStream(stream);
  return stream.Bytes();
}

// A copy of this program carrying the given (name, stored bytes) resources.
std::wstring MakePackage(const std::wstring& dir, const std::vector<std::pair<std::wstring, std::string>>& res) {
  wchar_t self[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  const std::wstring path = dir + L"package.exe";
  EXPECT_TRUE(CopyFileW(self, path.c_str(), FALSE)) << "cannot copy the test program";
  HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  EXPECT_NE(update, nullptr) << "BeginUpdateResourceW failed";
  for (const auto& [name, bytes] : res)
    EXPECT_TRUE(UpdateResourceW(update, RT_RCDATA, name.c_str(), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())));
  EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << "EndUpdateResourceW failed";
  return path;
}

TSetupFile* AddFile(TInstallEngine& engine, const std::wstring& name, const std::wstring& resId, int32_t bytes) {
  TSetupFile* f = engine.Script().FileList()->AddNew();
  f->DestDir = L"{app}";
  f->SourceMask = name;
  f->ResID = resId;
  f->FileBytes = bytes;
  return f;
}

// The message InstallFiles fails with, or "" when it does not fail.
std::wstring InstallFailure(TInstallEngine& engine) {
  try {
    engine.InstallFiles();
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"";
}

}  // namespace

TEST(EngineFolderCheck, EmptyMissingAndUncreatableFolders) {
  TTestHost host;
  TInstallEngine engine(host);

  TFolderCheck blank = engine.CheckInstallFolder(L"  \t ");
  EXPECT_FALSE(blank.Ok);
  EXPECT_TRUE(blank.Empty);
  EXPECT_EQ(blank.Message, L"安装目录不能为空，请重新输入。");

  const std::wstring root = nvtest::FreshDir(L"engine-folder");
  const std::wstring nested = root + L"a\\b\\c";
  TFolderCheck created = engine.CheckInstallFolder(L" " + nested + L"  ");
  EXPECT_TRUE(created.Ok) << Utf8Encode(created.Message);
  EXPECT_TRUE(DirectoryExists(nested)) << Utf8Encode(nested) << ": not created";
  EXPECT_EQ(TSetupfn::AppPath(), nested + L"\\");
  // Only the folder is left: the write test removes its file.
  EXPECT_TRUE(std::filesystem::is_empty(nested));

  WriteFileBytes(root + L"plain", "a file, not a folder");
  TFolderCheck refused = engine.CheckInstallFolder(root + L"plain\\sub");
  EXPECT_FALSE(refused.Ok);
  EXPECT_FALSE(refused.Empty);
  EXPECT_EQ(refused.Message, L"创建安装目录失败：" + root + L"plain\\sub\\，请重新输入。");
}

TEST(EngineInstallFiles, WritesPayloadsAndNamesTheFileOfDamagedData) {
  const std::wstring root = nvtest::FreshDir(L"engine-payload");
  const std::wstring good = L"{00000000-0000-0000-0000-00000000600D}";
  const std::wstring damaged = L"{00000000-0000-0000-0000-0000000000BD}";
  std::string broken = Encoded(std::string(4000, 'x'));
  broken[broken.size() / 2] ^= 0x5A;
  const std::wstring package = MakePackage(root, {{good, Encoded("hello")}, {damaged, broken}});
  const std::wstring app = root + L"app\\";

  struct TCase {
    const wchar_t* Name;
    std::wstring ResID;
    const wchar_t* Cause;  // part of the expected message
  };
  const TCase cases[] = {
      {L"noname.bin", L"", L"the file item names no package resource"},
      {L"missing.bin", L"{00000000-0000-0000-0000-00000000DEAD}",
       L"its resource {00000000-0000-0000-0000-00000000DEAD} is missing"},
      {L"damaged.bin", damaged, L""},
  };
  for (const TCase& c : cases) {
    TTestHost host;
    TInstallEngine engine(host);
    ASSERT_TRUE(engine.OpenPackage(package));
    ASSERT_TRUE(engine.CheckInstallFolder(app).Ok);
    AddFile(engine, L"first.txt", good, 5);
    AddFile(engine, c.Name, c.ResID, 4000);
    AddFile(engine, L"last.txt", good, 5);
    engine.BeginChanges();
    const std::wstring message = InstallFailure(engine);
    const std::wstring dest = app + c.Name;
    EXPECT_EQ(message.rfind(L"安装包已损坏：" + dest + L"：", 0), 0u) << Utf8Encode(message);
    EXPECT_NE(message.find(c.Cause), std::wstring::npos) << Utf8Encode(message);
    EXPECT_EQ(ReadFileBytes(app + L"first.txt"), "hello");
    EXPECT_FALSE(FileExists(dest)) << Utf8Encode(dest) << ": written from damaged data";
    EXPECT_FALSE(FileExists(app + L"last.txt")) << "the install went on after the damaged file";
    EXPECT_EQ(host.Steps, 2);
    EXPECT_TRUE(host.CopyFailures.empty()) << "damaged data is not a copy failure";
    EXPECT_TRUE(engine.RollBackChanges().empty());
    EXPECT_FALSE(FileExists(app + L"first.txt")) << "the rollback left a file of the failed install";
    EXPECT_FALSE(DirectoryExists(app)) << "the rollback left the folder the folder check made";
  }
}

TEST(EngineInstallFiles, AnAbortedCopyFailureEndsTheRun) {
  const std::wstring root = nvtest::FreshDir(L"engine-abort");
  const std::wstring good = L"{00000000-0000-0000-0000-00000000600D}";
  const std::wstring package = MakePackage(root, {{good, Encoded("hello")}});
  TTestHost host;
  TInstallEngine engine(host);
  ASSERT_TRUE(engine.OpenPackage(package));
  ASSERT_TRUE(engine.CheckInstallFolder(root + L"app").Ok);
  // A folder where the file should go: the write fails whatever the answer.
  ForceDirectories(root + L"app\\taken.txt");
  AddFile(engine, L"taken.txt", good, 5);
  const TInstallOutcome outcome = engine.RunInstallSteps();
  EXPECT_EQ(outcome.ExitCode, kExitUserAborted);
  EXPECT_TRUE(outcome.Leave);
  // The user's own choice is not reported back; the rollback's result is.
  EXPECT_EQ(host.Messages, std::vector<std::wstring>{L"安装未完成，已撤销所做的更改。"});
  EXPECT_TRUE(DirectoryExists(root + L"app\\taken.txt")) << "a folder in a file's place was moved";
  EXPECT_EQ(host.CopyFailures, std::vector<std::wstring>{root + L"app\\taken.txt"});
}
