// The base of every window of the program: a top-level window with the common
// look (Tahoma 12 px, centred on the screen, double-buffered painting), key
// preview with the Alt/Tab repaint, and the owner-relative modal run.
#pragma once

#include "NvVclUtils.h"

class TBaseForm : public TWinControl {
public:
  // Creates the form's window of the window class className (registered on
  // first use; tests find forms by it) with a client area of clientWidth x
  // clientHeight, centred on the screen, hidden. owner (may be null) owns the
  // form: its top-level window becomes the form's owner window while modal.
  // style: the window style (WS_POPUP for borderless, WS_CAPTION | ... for
  // dialogs).
  TBaseForm(TBaseForm* owner, const wchar_t* className, int clientWidth, int clientHeight, DWORD style,
            DWORD exStyle = 0);
  ~TBaseForm() override;

  TBaseForm* Owner() const { return FOwner; }
  // Resizes the window so that its client area has this size.
  void SetClientSize(int width, int height);
  // Centres the window on the work area of the primary monitor.
  void CenterOnScreen();

  // Shows the window (not modal), fires OnShow the first time.
  void ShowForm();
  // Whether a program's entry shows this main window as its message loop
  // starts (RunMainForm).
  virtual bool ShowOnRun() const { return true; }
  // Modal run: through TNvVclfn::ShowModalForm when the form has an owner,
  // otherwise a plain modal loop. Returns the modal result.
  virtual int ShowModal();
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result) { FModalResult = result; }
  bool IsModal() const { return FModal; }
  // A modal form ends its loop with mrCancel; the main form closes and ends
  // the application.
  void Close();
  // Asked before the form closes; false keeps it open.
  virtual bool CloseQuery() { return true; }

  // Key preview: called for every key message of a window inside the form
  // before the window gets it; true consumes the message. The base presses
  // the default button on Enter and the cancel button on Escape, moves the
  // focus on Tab, and repaints (KeyDown) on Alt and Tab.
  virtual bool PreviewKey(const MSG& msg);
  // After a key press: with Alt held or on Tab, invalidates the form and every
  // windowed control in it, depth first, so focus and accelerator cues show.
  virtual void KeyDown(WORD key, unsigned shiftState);

  std::function<void()> OnShow;
  // Internal.
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void SetModal(bool modal) { FModal = modal; }
  // The form of a window (its top-level ancestor), or null.
  static TBaseForm* FromWindow(HWND wnd);

  // Takes ownership of a control of this form (freed with the form).
  template <class T>
  T* Own(T* control) {
    FOwned.emplace_back(control);
    return control;
  }

protected:
  void Paint(HDC dc, const RECT& client) override;
  std::vector<std::unique_ptr<TControl>> FOwned;
  HWND FLastFocus = nullptr;
  // Moves the focus to the next (or previous) enabled, visible focusable
  // control in creation order.
  void FocusNext(bool backwards);
  TBaseForm* FOwner = nullptr;
  int FModalResult = mrNone;
  bool FModal = false;
  bool FShown = false;
};

// A program's run with one main window: the application object, the form
// that make() returns (a std::unique_ptr to a TBaseForm with ExitCode()),
// shown unless its ShowOnRun says otherwise, the message loop until the form
// closes; then the form's exit code.
template <class TMake>
unsigned RunMainForm(TMake make) {
  TApplication app;
  Application = &app;
  unsigned code = 0;
  {
    auto form = make();
    app.SetMainForm(form.get());
    if (form->ShowOnRun()) form->ShowForm();
    app.Run();
    code = form->ExitCode();
    app.SetMainForm(nullptr);
  }
  Application = nullptr;
  return code;
}
