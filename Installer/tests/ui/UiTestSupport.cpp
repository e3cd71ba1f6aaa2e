#include "UiTestSupport.h"

#include <wincodec.h>

#include <filesystem>
#include <stdexcept>

#include "MainFrm.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "Setupfn.h"

namespace uitest {

std::wstring SetupExe() { return Utf8Decode(NV_SETUP_EXE); }

std::wstring FreshDir(const std::wstring& name) {
  std::filesystem::path dir = std::filesystem::path(L"C:\\nvui-tests") / name;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir, ec);
  return dir.wstring() + L"\\";
}

void RemoveTree(const std::wstring& path) {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path), ec);
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(h);
  return bytes;
}

bool IsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string MakePng(COLORREF color) {
  const UINT size = 48;
  std::vector<BYTE> pixels(size * size * 4);
  for (UINT y = 0; y < size; ++y)
    for (UINT x = 0; x < size; ++x) {
      bool inner = x >= 14 && x < 34 && y >= 14 && y < 34;
      BYTE* p = &pixels[(y * size + x) * 4];
      p[0] = inner ? 255 : GetBValue(color);
      p[1] = inner ? 255 : GetGValue(color);
      p[2] = inner ? 255 : GetRValue(color);
      p[3] = 255;
    }
  IWICImagingFactory* factory = nullptr;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))))
    throw std::runtime_error("no WIC");
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  IWICBitmapEncoder* encoder = nullptr;
  factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
  encoder->Initialize(stream, WICBitmapEncoderNoCache);
  IWICBitmapFrameEncode* frame = nullptr;
  encoder->CreateNewFrame(&frame, nullptr);
  frame->Initialize(nullptr);
  frame->SetSize(size, size);
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  frame->SetPixelFormat(&format);
  frame->WritePixels(size, size * 4, static_cast<UINT>(pixels.size()), pixels.data());
  frame->Commit();
  encoder->Commit();
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  frame->Release();
  encoder->Release();
  stream->Release();
  factory->Release();
  return bytes;
}

// ---- packages ----
TPackage::TPackage(const std::wstring& title, const std::wstring& defDir) {
  Info().AppTitle = title;
  Info().Version = L"2.5.0.1";
  Info().GUID = TNvStrfn::NewGuidString();
  Info().DefInstallPath = defDir;
  Info().IconResID = TNvStrfn::NewGuidString();
  Info().LicenseResID = TNvStrfn::NewGuidString();
  SetResource(Info().IconResID, MakePng(RGB(255, 160, 0)));
  SetResource(Info().LicenseResID, "\xEF\xBB\xBF" + Utf8Encode(L"用户许可协议\r\n第一条：本软件仅供测试。\n第二条：请勿外传。"));
}

void TPackage::AddFile(const std::wstring& sourceMask, const std::string& content) {
  TSetupFile* f = FScript.FileList()->AddNew();
  f->DestDir = L"{app}";
  f->SourceMask = sourceMask;
  f->FileBytes = static_cast<int32_t>(content.size());
  if (!content.empty()) {
    f->ResID = TNvStrfn::NewGuidString();
    SetResource(f->ResID, content);
  }
}

void TPackage::SetResource(const std::wstring& name, const std::string& bytes, bool raw) {
  RemoveResource(name);
  FResources.push_back({name, {bytes, raw}});
}

void TPackage::RemoveResource(const std::wstring& name) {
  for (auto it = FResources.begin(); it != FResources.end(); ++it)
    if (it->first == name) {
      FResources.erase(it);
      return;
    }
}

void TPackage::Build(const std::wstring& exePath) const {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(exePath).parent_path(), ec);
  if (!CopyFileW(SetupExe().c_str(), exePath.c_str(), FALSE)) throw std::runtime_error("cannot copy Setup.exe");
  HANDLE update = BeginUpdateResourceW(exePath.c_str(), FALSE);
  if (!update) throw std::runtime_error("BeginUpdateResourceW failed");
  auto put = [&](const std::wstring& name, const std::string& plain, bool raw) {
    TMemoryStream stream(plain);
    if (!raw) TSetupfn::EncodeStream(stream);
    std::string payload = stream.Bytes();
    if (!UpdateResourceW(update, RT_RCDATA, name.c_str(), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         payload.empty() ? nullptr : payload.data(), static_cast<DWORD>(payload.size())))
      throw std::runtime_error("UpdateResourceW failed");
  };
  if (!NoMarker) {
    std::string project = ProjectOverride;
    if (project.empty()) {
      TMemoryStream stream;
      FScript.SaveToStream(stream, 0);
      project = stream.Bytes();
    }
    put(OnlineStub ? OnlineStubMarker : FullPackageMarker, project, ProjectOverrideRaw);
  }
  for (const auto& [name, content] : FResources) put(name, content.first, content.second);
  if (!EndUpdateResourceW(update, FALSE)) throw std::runtime_error("EndUpdateResourceW failed");
}

// ---- processes ----
TSetup::TSetup(const std::wstring& exePath, const std::wstring& args) {
  FOutFile = exePath + L".out.txt";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out = CreateFileW(FOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0,
                           nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring cmd = L"\"" + exePath + L"\"" + (args.empty() ? L"" : L" " + args);
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &FInfo)) FInfo = {};
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (FInfo.hProcess) WaitForInputIdle(FInfo.hProcess, 10000);
}

TSetup::~TSetup() {
  Kill();
  if (FInfo.hProcess) CloseHandle(FInfo.hProcess);
  if (FInfo.hThread) CloseHandle(FInfo.hThread);
}

bool TSetup::WaitExit(DWORD ms) const {
  return FInfo.hProcess && WaitForSingleObject(FInfo.hProcess, ms) == WAIT_OBJECT_0;
}

DWORD TSetup::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (FInfo.hProcess) GetExitCodeProcess(FInfo.hProcess, &code);
  return code;
}

std::string TSetup::Output() const { return ReadBytes(FOutFile); }

void TSetup::Kill() {
  if (FInfo.hProcess && !WaitExit(0)) {
    TerminateProcess(FInfo.hProcess, 99);
    WaitExit(5000);
  }
}

// ---- windows ----
bool WaitUntil(const std::function<bool()>& pred, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
}

namespace {
struct TTopSearch {
  DWORD Pid;
  const std::wstring* Class;
  HWND Found;
};

BOOL CALLBACK TopProc(HWND wnd, LPARAM lp) {
  auto* s = reinterpret_cast<TTopSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != s->Pid || !IsWindowVisible(wnd)) return TRUE;
  wchar_t cls[128] = {};
  GetClassNameW(wnd, cls, 128);
  if (*s->Class == cls) {
    s->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

struct TChildSearch {
  int Id;
  HWND Found;
  std::wstring All;
};

BOOL CALLBACK ChildProc(HWND wnd, LPARAM lp) {
  auto* s = reinterpret_cast<TChildSearch*>(lp);
  if (s->Id != 0 && GetDlgCtrlID(wnd) == s->Id) {
    s->Found = wnd;
    return FALSE;
  }
  if (s->Id == 0) s->All += Text(wnd) + L"\n";
  return TRUE;
}
}  // namespace

HWND FindTop(DWORD pid, const std::wstring& className) {
  TTopSearch s{pid, &className, nullptr};
  EnumWindows(TopProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

HWND WaitTop(DWORD pid, const std::wstring& className, DWORD ms) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTop(pid, className)) != nullptr; }, ms);
  return found;
}

HWND Control(HWND top, int id) {
  TChildSearch s{id, nullptr, L""};
  EnumChildWindows(top, ChildProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

std::wstring Text(HWND wnd) {
  wchar_t buffer[4096] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutW(wnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &n);
  return std::wstring(buffer, static_cast<size_t>(n));
}

std::wstring AllTexts(HWND top) {
  TChildSearch s{0, nullptr, L""};
  EnumChildWindows(top, ChildProc, reinterpret_cast<LPARAM>(&s));
  return s.All;
}

bool Visible(HWND wnd) { return wnd && IsWindowVisible(wnd); }
bool Enabled(HWND wnd) { return wnd && IsWindowEnabled(wnd); }

RECT RectInParent(HWND wnd) {
  RECT r{};
  GetWindowRect(wnd, &r);
  MapWindowPoints(nullptr, GetParent(wnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Press(HWND wnd) { PostMessageW(wnd, BM_CLICK, 0, 0); }

void ClickAt(HWND wnd) {
  RECT r{};
  GetClientRect(wnd, &r);
  LPARAM pos = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(wnd, WM_MOUSEMOVE, 0, pos);
  PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, pos);
  PostMessageW(wnd, WM_LBUTTONUP, 0, pos);
}

void TypeText(HWND edit, const std::wstring& text) {
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_CLEAR, 0, 0);
  for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

void PostKey(HWND wnd, WORD key) {
  PostMessageW(wnd, WM_KEYDOWN, key, 1);
  PostMessageW(wnd, WM_KEYUP, key, 0xC0000001);
}

HWND FocusOf(HWND wnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool WaitDoneLook(HWND main, DWORD ms) {
  return WaitUntil(
      [&] {
        return Text(Control(main, idLblAppTitle)) == L"安装完成" && Visible(Control(main, idBtnRunApp)) &&
               !Visible(Control(main, idPbProgress)) && !Visible(Control(main, idLblWait));
      },
      ms);
}

HWND WaitMessageBox(DWORD pid, DWORD ms) { return WaitTop(pid, L"#32770", ms); }

void AnswerMessageBox(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok) PostMessageW(ok, BM_CLICK, 0, 0);
  else PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void Screenshot(const std::wstring& name) {
  std::wstring dir = Utf8Decode(NV_SHOT_DIR);
  auto run = [](std::wstring cmd) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      WaitForSingleObject(pi.hProcess, 20000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  };
  Sleep(400);  // let the windows finish painting
  run(L"/bin/mkdir -p " + dir);
  run(L"/usr/bin/import -window root " + dir + L"/" + name + L".png");
}

}  // namespace uitest
