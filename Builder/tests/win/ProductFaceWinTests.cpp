// What Windows shows of the built executables: the version information read
// with GetFileVersionInfoW/VerQueryValueW and the icon the shell extracts,
// for the full package, the online stub and the bundled uninstaller; and the
// edited full package still installs.
#include <gtest/gtest.h>

#include <set>
#include <windows.h>
#include <shellapi.h>

#include <cmath>
#include <memory>

#include "NvStream.h"
#include "PackageBuilder.h"
#include "PackageContents.h"
#include "PackageFormat.h"
#include "PngImage.h"
#include "ProjectFixture.h"
#include "SetupProject.h"
#include "Setupfn.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::string Decode(const std::string& payload) {
  TMemoryStream stream(payload);
  TSetupfn::DecodeStream(stream);
  return stream.Bytes();
}

// Every executable of one build with the real runtime.
struct TBuilt {
  test::TScratch Dir;
  TBuildReport Report;
  fs::path Uninstaller;  // the bundled Uninstall.exe, taken out of the full package
  std::wstring InstallDir;
};

TBuilt& Built() {
  static std::unique_ptr<TBuilt> built = [] {
    auto b = std::make_unique<TBuilt>();
    test::WriteFile(b->Dir / "proj/payload/readme.txt", "read me");
    test::WriteFile(b->Dir / "proj/icon.png", ReadWholeFile(fs::path(NV_DEMO_STAGE) / "icon.png"));
    b->InstallDir = (b->Dir / "installed").wstring();
    test::TProjectText t;
    t.BaseInfo += " IconFile=\"icon.png\" ProductName=\"{AppTitle} 专业版\" CompanyName=\"示例公司\""
                  " LegalCopyright=\"Copyright (C) 2026 示例公司\" InstallFileDescription=\"{AppTitle} 安装程序\""
                  " UninstallFileDescription=\"{AppTitle} 卸载程序\"";
    t.DefInstallPath = ToUtf8(b->InstallDir);
    t.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.*\"");
    test::WriteFile(b->Dir / "proj/project.xml", t.Xml());
    TBuildOptions o;
    o.Project = b->Dir / "proj/project.xml";
    o.Runtime = fs::path(NV_SETUP_EXE);
    o.Uninstaller = fs::path(NV_DEMO_APP);  // a small program of the build stands for the uninstaller
    o.Quiet = true;
    b->Report = BuildPackages(o);
    TSetupScript script;
    TMemoryStream stream(Decode(b->Report.Resources.at(FullPackageMarker)));
    script.LoadFromStream(stream, 0);
    for (int i = 0; i < script.FileList()->Count(); ++i)
      if (script.FileList()->Items(i)->SourceMask == UninstallerFileName) {
        b->Uninstaller = b->Dir / "check/Uninstall.exe";
        test::WriteFile(b->Uninstaller, Decode(b->Report.Resources.at(script.FileList()->Items(i)->ResID)));
      }
    return b;
  }();
  return *built;
}

std::wstring Query(const std::vector<char>& block, const std::wstring& path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value), length ? length - 1 : 0);
}

void ExpectVersionInformation(const fs::path& file, const std::wstring& description, const std::wstring& fileName) {
  SCOPED_TRACE(PathText(file));
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, block.data())) << GetLastError();

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000007u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000007u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804);
  EXPECT_EQ(translation[1], 1200);

  const std::wstring table = L"\\StringFileInfo\\080404b0\\";
  EXPECT_EQ(Query(block, table + L"CompanyName"), L"示例公司");
  EXPECT_EQ(Query(block, table + L"FileDescription"), description);
  EXPECT_EQ(Query(block, table + L"FileVersion"), L"2.1.0.7");
  EXPECT_EQ(Query(block, table + L"LegalCopyright"), L"Copyright (C) 2026 示例公司");
  EXPECT_EQ(Query(block, table + L"OriginalFilename"), fileName);
  EXPECT_EQ(Query(block, table + L"ProductName"), L"测试产品 专业版");
  EXPECT_EQ(Query(block, table + L"ProductVersion"), L"2.1.0.7");
}

// The icon's colour pixels (BGRA, top row first) and its side.
std::vector<uint8_t> IconPixels(HICON icon, int& side) {
  std::vector<uint8_t> pixels;
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return pixels;
  BITMAP bm{};
  GetObjectW(info.hbmColor, sizeof bm, &bm);
  side = bm.bmWidth;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  pixels.resize(static_cast<size_t>(bm.bmWidth) * bm.bmHeight * 4);
  HDC dc = GetDC(nullptr);
  if (GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, pixels.data(), &bi, DIB_RGB_COLORS) != bm.bmHeight) pixels.clear();
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels;
}

// The shown icon of `side` pixels matches the picture averaged over the
// square block each icon pixel covers, wherever that block is opaque.
void ExpectPictureScaled(HICON icon, int side) {
  ASSERT_NE(icon, nullptr);
  int got = 0;
  std::vector<uint8_t> pixels = IconPixels(icon, got);
  ASSERT_EQ(got, side);
  ASSERT_EQ(pixels.size(), static_cast<size_t>(side) * side * 4);
  TRgbaImage picture = DecodePng(ReadWholeFile(fs::path(NV_DEMO_STAGE) / "icon.png"), "icon.png");
  ASSERT_EQ(picture.Width, 96u);
  const int block = 96 / side;
  int compared = 0, wrong = 0;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      double sum[3] = {0, 0, 0};
      bool opaque = true;
      for (int sy = y * block; sy < (y + 1) * block; ++sy)
        for (int sx = x * block; sx < (x + 1) * block; ++sx) {
          const uint8_t* p = &picture.Pixels[(static_cast<size_t>(sy) * 96 + sx) * 4];
          opaque = opaque && p[3] == 255;
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
      if (!opaque) continue;
      ++compared;
      const uint8_t* q = &pixels[(static_cast<size_t>(y) * side + x) * 4];  // B, G, R, A
      for (int c = 0; c < 3; ++c)
        if (std::fabs(q[2 - c] - sum[c] / (block * block)) > 2) {
          if (wrong < 3)
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(q[2 - c]) << ", expected "
                          << sum[c] / (block * block);
          ++wrong;
        }
    }
  EXPECT_GT(compared, side * side / 3);  // the picture is mostly opaque
  EXPECT_EQ(wrong, 0) << "of " << compared << " pixels at " << side;
}

BOOL CALLBACK FirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* out = reinterpret_cast<std::wstring*>(param);
  *out = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
  return FALSE;
}

}  // namespace

TEST(ProductFace, VersionInformationOfPackagesAndUninstaller) {
  TBuilt& b = Built();
  ExpectVersionInformation(b.Report.FullPackage, L"测试产品 安装程序", L"Full.exe");
  ExpectVersionInformation(b.Report.OnlineStub, L"测试产品 安装程序", L"Mini.exe");
  ASSERT_FALSE(b.Uninstaller.empty());
  ExpectVersionInformation(b.Uninstaller, L"测试产品 卸载程序", L"Uninstall.exe");
}

TEST(ProductFace, ShellIconsAreThePictureScaled) {
  TBuilt& b = Built();
  for (const fs::path& file : {b.Report.FullPackage, b.Report.OnlineStub, b.Uninstaller}) {
    SCOPED_TRACE(PathText(file));
    HICON large = nullptr, small = nullptr;
    ASSERT_EQ(ExtractIconExW(file.c_str(), 0, &large, &small, 1), 2u);
    // (Wine's small shell icon does not carry the 16-pixel image's colours
    // unchanged, so only its size is checked here; LoadImageW below reads
    // the 16-pixel image itself.)
    int smallSide = 0;
    EXPECT_FALSE(IconPixels(small, smallSide).empty());
    EXPECT_EQ(smallSide, 16);
    ExpectPictureScaled(large, 32);
    DestroyIcon(large);
    DestroyIcon(small);

    // The group loaded by its own name at 48 pixels.
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    std::wstring name;
    EnumResourceNamesW(module, RT_GROUP_ICON, FirstName, reinterpret_cast<LONG_PTR>(&name));
    ASSERT_FALSE(name.empty());
    for (int size : {16, 32}) {
      SCOPED_TRACE("LoadImageW " + std::to_string(size));
      HICON loaded = static_cast<HICON>(LoadImageW(module, name.c_str(), IMAGE_ICON, size, size, 0));
      ExpectPictureScaled(loaded, size);
      if (loaded) DestroyIcon(loaded);
    }
    HICON icon = static_cast<HICON>(LoadImageW(module, name.c_str(), IMAGE_ICON, 48, 48, 0));
    int side = 0;
    EXPECT_FALSE(IconPixels(icon, side).empty());
    EXPECT_EQ(side, 48);
    if (icon) DestroyIcon(icon);
    FreeLibrary(module);
  }
  // The runtime keeps its window's icon name.
  HMODULE runtime = LoadLibraryExW(fs::path(NV_SETUP_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  std::wstring runtimeName, packageName;
  EnumResourceNamesW(runtime, RT_GROUP_ICON, FirstName, reinterpret_cast<LONG_PTR>(&runtimeName));
  FreeLibrary(runtime);
  HMODULE package = LoadLibraryExW(b.Report.FullPackage.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EnumResourceNamesW(package, RT_GROUP_ICON, FirstName, reinterpret_cast<LONG_PTR>(&packageName));
  FreeLibrary(package);
  EXPECT_EQ(packageName, runtimeName);
}

TEST(ProductFace, TheEditedFullPackageInstalls) {
  TBuilt& b = Built();
  std::wstring command = L"\"" + b.Report.FullPackage.wstring() + L"\" /Silent";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      << GetLastError();
  DWORD wait = WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 99;
  if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  ASSERT_EQ(wait, WAIT_OBJECT_0) << "Setup /Silent did not end";
  EXPECT_EQ(code, 0u);
  fs::path dir(b.InstallDir);
  EXPECT_EQ(ReadWholeFile(dir / "readme.txt"), "read me");
  ASSERT_TRUE(fs::is_regular_file(dir / "Uninstall.exe"));
  EXPECT_EQ(ReadWholeFile(dir / "Uninstall.exe"), ReadWholeFile(b.Uninstaller));
  ExpectVersionInformation(dir / "Uninstall.exe", L"测试产品 卸载程序", L"Uninstall.exe");

  // "extract" writes what the install wrote, and the uninstall data keeps no
  // path of the build machine.
  const fs::path extracted = b.Dir.Path() / "extracted";
  ExtractFiles(TPackageReader(b.Report.FullPackage), extracted, nullptr);
  std::set<fs::path> installed, fromPackage;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) installed.insert(e.path().lexically_relative(dir));
  for (const auto& e : fs::recursive_directory_iterator(extracted / "{app}"))
    if (e.is_regular_file()) fromPackage.insert(e.path().lexically_relative(extracted / "{app}"));
  installed.erase("Uninstall.da1");
  installed.erase("Uninstall.da2");
  installed.erase("Uninstall.jnl");
  EXPECT_EQ(installed, fromPackage);
  for (const fs::path& rel : fromPackage)
    EXPECT_EQ(ReadWholeFile(dir / rel), ReadWholeFile(extracted / "{app}" / rel)) << PathText(rel);
  const std::string data = Decode(ReadWholeFile(dir / "Uninstall.da1"));
  EXPECT_EQ(data.find("payload"), std::string::npos) << data;  // the SourcePath
  EXPECT_NE(data.find("IconFile=\"icon.png\""), std::string::npos) << data;  // the file name only
}

TEST(ProductFace, AFailingSignCommandRunsThroughCmdAndLeavesNothing) {
  test::TScratch dir;
  test::WriteFile(dir / "proj/payload/readme.txt", "read me");
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.*\"");
  test::WriteFile(dir / "proj/project.xml", t.Xml());
  TBuildOptions o;
  o.Project = dir / "proj/project.xml";
  o.Runtime = test::DemoRuntime();
  o.Quiet = true;
  // cmd.exe gets the quoted file: "dir" of it finds it, then the command fails.
  o.SignCommand = "dir /b {file} & echo the key is locked & exit 3";
  try {
    BuildPackages(o);
    ADD_FAILURE() << "no error";
  } catch (const EBuildError& e) {
    std::string message = e.what();
    EXPECT_NE(message.find("Full.exe: the signing command failed (exit code 3): Full.exe"), std::string::npos) << message;
    EXPECT_NE(message.find("the key is locked"), std::string::npos) << message;
  }
  std::error_code ec;
  EXPECT_FALSE(fs::exists(dir / "proj/out/Full.exe", ec));
  EXPECT_FALSE(fs::exists(dir / "proj/out/Mini.exe", ec));
}
