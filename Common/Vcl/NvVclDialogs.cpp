// The user-interface functions the forms call: the owner-relative modal run,
// the information box and the folder picker.
#include "NvVclUtils.h"

#include <objbase.h>
#include <shlobj.h>

#include "BaseFrm.h"
#include "NvCallbackBarrier.h"
#include "NvExceptions.h"

// ---- TNvVclfn --------------------------------------------------------------------------
int TNvVclfn::ShowModalForm(TBaseForm* form, HWND owner) {
  if (!owner || !IsWindow(owner)) NvAssertFailed(L"Assertion failure", L"Common\\NvVclUtils", __LINE__);
  HWND top = owner;
  while (HWND parent = GetParent(top)) top = parent;
  HWND wnd = form->Handle();
  HWND previousOwner = reinterpret_cast<HWND>(GetWindowLongPtrW(wnd, GWLP_HWNDPARENT));
  SetWindowLongPtrW(wnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(top));
  struct TRestoreOwner {
    HWND wnd, owner;
    ~TRestoreOwner() {
      if (IsWindow(wnd)) SetWindowLongPtrW(wnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    }
  } restoreOwner{wnd, previousOwner};

  if (IsWindowVisible(wnd) || !IsWindowEnabled(wnd) || form->IsModal())
    throw Exception(L"Cannot make a visible window modal");
  if (HWND capture = GetCapture()) {
    SendMessageW(capture, WM_CANCELMODE, 0, 0);
    ReleaseCapture();
  }
  if (Application) Application->ModalStarted();
  form->SetModal(true);
  HWND active = GetActiveWindow();
  TCursor cursor = Application ? Application->Cursor() : TCursor::crDefault;
  if (Application) Application->SetCursor(TCursor::crDefault);
  EnableWindow(top, FALSE);
  int result = mrNone;
  try {
    form->ShowForm();
    SetForegroundWindow(wnd);
    SetActiveWindow(wnd);
    form->SetModalResult(mrNone);
    while (true) {
      if (Application) {
        Application->HandleMessage();
        if (Application->Terminated()) form->SetModalResult(mrCancel);
      } else {
        MSG msg;
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) form->SetModalResult(mrCancel);
        else {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
          NvRethrowKept();
        }
      }
      if (form->ModalResult() != mrNone) {
        if (!form->CloseQuery()) form->SetModalResult(mrNone);
      }
      if (form->ModalResult() != mrNone) break;
    }
    result = form->ModalResult();
  } catch (...) {
    EnableWindow(top, TRUE);
    form->SetModal(false);
    if (Application) Application->ModalFinished();
    throw;
  }
  if (GetActiveWindow() != wnd) active = nullptr;
  ShowWindow(wnd, SW_HIDE);
  if (Application) Application->SetCursor(cursor);
  EnableWindow(top, TRUE);
  if (active && IsWindow(active)) {
    SetActiveWindow(active);
  } else {
    SetActiveWindow(top);
  }
  SetForegroundWindow(top);
  form->SetModal(false);
  if (Application) Application->ModalFinished();
  return result;
}

void TNvVclfn::ShowInfo(HWND owner, const std::wstring& text) {
  TCursor cursor = Application ? Application->Cursor() : TCursor::crDefault;
  if (Application) {
    Application->SetCursor(TCursor::crDefault);
    Application->ModalStarted();
  }
  std::wstring title = Application ? Application->Title : L"";
  MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
  NvRethrowKept();  // raised by one of our windows while the box was up
  if (Application) {
    Application->ModalFinished();
    Application->SetCursor(cursor);
  }
}

bool TNvVclfn::SelectDirectory(HWND owner, const std::wstring& title, std::wstring& path) {
  TNvPathDialog dialog;
  dialog.Caption = title;
  dialog.Root.clear();
  dialog.Path = path;
  bool ok = dialog.Execute(owner);
  if (ok) path = dialog.Path;
  return ok;
}

namespace {
int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
  return NvCallbackBarrier<int>(0, [&] {
    if (msg == BFFM_INITIALIZED && data) SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
  });
}
}  // namespace

bool TNvPathDialog::Execute(HWND owner) {
  DWORD attrs = Path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) Path.clear();
  IMalloc* shellMalloc = nullptr;
  if (FAILED(SHGetMalloc(&shellMalloc)) || !shellMalloc) return false;
  auto* buffer = static_cast<wchar_t*>(shellMalloc->Alloc(MAX_PATH * sizeof(wchar_t)));
  if (!buffer) {
    shellMalloc->Release();
    return false;
  }
  buffer[0] = 0;
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = buffer;
  bi.lpszTitle = Caption.c_str();
  bi.ulFlags = 0x41;  // BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE
  if (!Path.empty()) {
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(Path.c_str());
  }
  if (Application) Application->ModalStarted();
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  LPITEMIDLIST item = SHBrowseForFolderW(&bi);
  SetErrorMode(oldMode);
  if (Application) Application->ModalFinished();
  // Raised by one of our windows (or the callback) while the dialog was up:
  // it goes on once the dialog's memory is freed.
  const std::exception_ptr kept = NvTakeKept(GetCurrentThreadId());
  bool result = false;
  if (item) {
    if (SHGetPathFromIDListW(item, buffer)) {
      std::wstring chosen = buffer;
      if (chosen.empty() || chosen.back() != L'\\') chosen += L'\\';
      Path = chosen;
      result = true;
    }
    shellMalloc->Free(item);
  }
  shellMalloc->Free(buffer);
  shellMalloc->Release();
  if (kept) std::rethrow_exception(kept);
  if (Application) Application->ProcessMessages();
  return result;
}
