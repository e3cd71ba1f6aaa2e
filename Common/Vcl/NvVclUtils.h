// A small control layer over real child windows, the application object with
// its message loop, and the user-interface functions the forms call
// (owner-relative modal run, information box, folder picker).
//
// Every control is a real window with a control ID of its own (GetDlgCtrlID),
// so that other programs (tests, accessibility tools) can find and drive it:
//   class "NvPanel"       panels and bevels
//   class "NvLabel"       labels and link labels      (WM_GETTEXT gives the caption)
//   class "NvImage"       pictures and glyph images   (a click: WM_LBUTTONDOWN/UP)
//   class "NvButton"      push buttons                (BM_CLICK presses it)
//   class "NvCheckBox"    check boxes                 (BM_CLICK toggles, BM_GETCHECK reads)
//   class "NvProgressBar" progress bars               (PBM_GETPOS, PBM_GETRANGE read)
//   class "Edit"          edit boxes and memos        (the system edit control)
// All controls are painted by this layer in one flat look in the product
// colour; nothing relies on the system's themed controls.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---- look ------------------------------------------------------------------
constexpr COLORREF clProduct = RGB(0, 153, 249);       // the product colour
constexpr COLORREF clProductHot = RGB(38, 170, 255);   // hovered
constexpr COLORREF clProductDown = RGB(0, 122, 204);   // pressed
constexpr COLORREF clProductPale = RGB(229, 243, 254); // track of bars, selections
constexpr COLORREF clDisabled = RGB(190, 200, 210);
constexpr COLORREF clWhite = RGB(255, 255, 255);
constexpr COLORREF clText = RGB(40, 40, 40);
constexpr COLORREF clLink = RGB(0, 102, 204);
constexpr COLORREF clFrame = RGB(200, 208, 216);       // flat borders of light surfaces
constexpr COLORREF clFace = RGB(246, 248, 250);        // background of dialogs

// Modal results (the values of IDOK, IDCANCEL, ... of the system).
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5 };

enum class TCursor { crDefault, crArrow, crHourGlass, crHandPoint };

enum class TAlignment { taLeftJustify, taCenter, taRightJustify };

// A font by face name and character height in pixels (96 dots per inch).
struct TFont {
  std::wstring Name = L"Tahoma";
  int Height = 12;
  bool Bold = false;
  bool Underline = false;
  COLORREF Color = clText;
};

class TWinControl;
class TBaseForm;

// ---- the application object --------------------------------------------------
class TApplication {
public:
  // The caption of message boxes.
  std::wstring Title;

  // Runs the message loop until Terminate or WM_QUIT; each key message is first
  // offered to the form that contains its window (key preview).
  void Run();
  // Handles every queued message, then returns (no waiting).
  void ProcessMessages();
  // Handles one message, waiting for one when the queue is empty.
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Minimises the main form.
  void Minimize();
  TBaseForm* MainForm() const { return FMainForm; }
  void SetMainForm(TBaseForm* form) { FMainForm = form; }

  // Modal-state bookkeeping of message boxes and modal forms.
  void ModalStarted() { ++FModalLevel; }
  void ModalFinished() { --FModalLevel; }
  int ModalLevel() const { return FModalLevel; }

  // The screen cursor: crDefault lets each window show its own cursor; any
  // other value is shown over every window of the program.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor cursor);

  // Internal: the cursor every window shows while it is forced.
  HCURSOR ForcedCursor() const;

private:
  bool DispatchOne(MSG& msg);
  bool FTerminated = false;
  int FModalLevel = 0;
  TCursor FCursor = TCursor::crDefault;
  TBaseForm* FMainForm = nullptr;
};

extern TApplication* Application;

HCURSOR NvCursorHandle(TCursor cursor);
// The window procedure of every window of this layer (controls and forms).
LRESULT CALLBACK NvControlWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// A cached GDI font for the description (never freed before exit).
HFONT NvFontHandle(const TFont& font);

// ---- controls ------------------------------------------------------------------
// The base of every control: a child window placed in pixels in its parent.
class TControl {
public:
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  HWND Handle() const { return FHandle; }
  int Id() const { return FId; }
  // The control of a window of this layer, or null.
  static TControl* FromHandle(HWND wnd);
  TWinControl* Parent() const { return FParent; }

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
  virtual void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);

  std::wstring Caption() const;
  virtual void SetCaption(const std::wstring& caption);

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font);
  // Background colour; CLR_INVALID takes the parent's.
  COLORREF Color() const;
  void SetColor(COLORREF color);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor cursor) { FCursor = cursor; }

  // Marks the control for painting / paints it at once.
  void Invalidate();
  void Repaint();
  void SetFocus();
  bool Focused() const;

  // Events. A mouse-down handler receives the button (MK_LBUTTON, ...).
  std::function<void()> OnClick;
  std::function<void(int button)> OnMouseDown;

  // Internal: the message handler of the control's window.
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

protected:
  // Creates the window of a class registered by this layer (or a system class
  // when subclassSystem is true) as a child of parent.
  TControl(TWinControl* parent, int id, const wchar_t* className, DWORD style, DWORD exStyle,
           int left, int top, int width, int height, bool subclassSystem = false);
  // Used by forms: no window yet.
  TControl() = default;
  void AttachWindow(HWND handle);
  // Paints the control into a memory DC (double buffering); the default
  // fills the background.
  virtual void Paint(HDC dc, const RECT& client);
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void FillBackground(HDC dc, const RECT& rect);
  bool FMouseInside = false;
  bool FPressed = false;  // the left button went down on the control and is still down
  void TrackMouse();

  HWND FHandle = nullptr;
  int FId = 0;
  TWinControl* FParent = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  TFont FFont;
  COLORREF FColor = CLR_INVALID;
  TCursor FCursor = TCursor::crDefault;
  bool FSystemClass = false;

  friend LRESULT CALLBACK NvControlWndProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK NvSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
};

// A control that holds other controls.
class TWinControl : public TControl {
public:
  // Children in creation order (not owned: the form owns every control).
  const std::vector<TControl*>& Controls() const { return FControls; }
  int ClientWidth() const;
  int ClientHeight() const;

protected:
  using TControl::TControl;
  friend class TControl;
  std::vector<TControl*> FControls;
};

class TPanel : public TWinControl {
public:
  TPanel(TWinControl* parent, int id, int left, int top, int width, int height);
  // A one-pixel border in BorderColor when set (CLR_INVALID: none).
  COLORREF BorderColor = CLR_INVALID;

protected:
  void Paint(HDC dc, const RECT& client) override;
};

// A horizontal separator line.
class TBevel : public TControl {
public:
  TBevel(TWinControl* parent, int id, int left, int top, int width, int height);

protected:
  void Paint(HDC dc, const RECT& client) override;
};

class TLabel : public TControl {
public:
  TLabel(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption);
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool Layout_Center = false;  // centred vertically
  bool WordWrap = false;
  // Without it the label takes its width and height from its text.
  bool AutoSize = false;
  void SetCaption(const std::wstring& caption) override;
  // Sizes the label to its single-line text (AutoSize).
  void AdjustSize();

protected:
  void Paint(HDC dc, const RECT& client) override;
};

// A label drawn as a link: blue, underlined, hand cursor.
class TLinkLabel : public TLabel {
public:
  TLinkLabel(TWinControl* parent, int id, int left, int top, const std::wstring& caption);

protected:
  void Paint(HDC dc, const RECT& client) override;
};

// A picture: a 32-bit premultiplied bitmap drawn centred, scaled down
// proportionally when it does not fit.
class TImage : public TControl {
public:
  TImage(TWinControl* parent, int id, int left, int top, int width, int height);
  ~TImage() override;
  // Decodes PNG (or any format the imaging component knows) bytes; raises
  // Exception with the decoder's reason when they are not a picture.
  void LoadFromBytes(const std::string& bytes);
  // Takes ownership of a 32-bit top-down premultiplied DIB section.
  void SetBitmap(HBITMAP bitmap);
  bool HasPicture() const { return FBitmap != nullptr; }
  int PictureWidth() const { return FPicWidth; }
  int PictureHeight() const { return FPicHeight; }
  bool Stretch = false;  // fill the control instead of centring
  bool Proportional = true;
  // Hovered look for glyph images (a lighter square behind the picture).
  bool HotTrack = false;

protected:
  void Paint(HDC dc, const RECT& client) override;
  HBITMAP FBitmap = nullptr;
  int FPicWidth = 0, FPicHeight = 0;
};

// A control pressed as a button is: a left press takes the mouse, a release
// inside the control clicks; Space and BM_CLICK click as well.
class TPressControl : public TControl {
public:
  // What a click does.
  virtual void Click() = 0;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
  using TControl::TControl;
};

class TButton : public TPressControl {
public:
  TButton(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption);
  // Set on a modal form: the form's modal result when the button is clicked.
  int ModalResult = mrNone;
  // Enter presses the default button, Escape the cancel button of the form.
  bool Default = false;
  bool Cancel = false;
  // Primary buttons are filled in the product colour; secondary ones are
  // white with a product-colour frame.
  bool Primary = true;
  // Presses the button: OnClick, then the modal result.
  void Click() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
  void Paint(HDC dc, const RECT& client) override;
};

class TCheckBox : public TPressControl {
public:
  TCheckBox(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption);
  bool Checked() const { return FChecked; }
  // Changes the state without OnClick.
  void SetChecked(bool checked);
  // Toggles the state, then OnClick.
  void Click() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
  void Paint(HDC dc, const RECT& client) override;
  bool FChecked = false;
};

// A flat progress bar that shows its percentage centred in the bar.
class TProgressBar : public TControl {
public:
  TProgressBar(TWinControl* parent, int id, int left, int top, int width, int height);
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  void SetMax(int max);
  // Clamped to 0..Max.
  void SetPosition(int position);
  void StepBy(int delta) { SetPosition(FPosition + delta); }
  // The percentage text: "0%" while Max is 0.
  std::wstring PercentText() const;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
  void Paint(HDC dc, const RECT& client) override;
  int FMax = 100;
  int FPosition = 0;
};

// A flat single-line edit box (the system edit control with a product-colour
// frame) or, with multiLine, a memo.
class TEdit : public TControl {
public:
  TEdit(TWinControl* parent, int id, int left, int top, int width, int height, bool multiLine = false,
        bool readOnly = false, bool wordWrap = false);
  std::wstring Text() const { return Caption(); }
  void SetText(const std::wstring& text) { SetCaption(text); }
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
  bool FMultiLine;
  HBRUSH FBrush = nullptr;
};

// ---- user-interface functions --------------------------------------------------
class TNvVclfn {
public:
  // Shows form modally relative to owner: the top-level window that contains
  // owner becomes the form's owner window, is disabled while the form is open
  // (other top-level windows stay enabled) and is enabled and re-activated
  // afterwards; returns the modal result. A visible, disabled or already
  // modal form raises Exception "Cannot make a visible window modal" (the
  // owner window is restored first).
  static int ShowModalForm(TBaseForm* form, HWND owner);
  // Information message box owned by owner, captioned with Application->Title,
  // with the information icon and an OK button; the arrow cursor while open.
  static void ShowInfo(HWND owner, const std::wstring& text);
  // The folder browser captioned title, preselecting path when it names a
  // folder; on OK stores the chosen folder (with a trailing backslash) into
  // path and returns true; on cancel path is unchanged.
  static bool SelectDirectory(HWND owner, const std::wstring& title, std::wstring& path);
};

// The shell's folder browser (SHBrowseForFolderW, file-system folders only,
// new dialog style).
class TNvPathDialog {
public:
  std::wstring Caption;  // text above the folder tree
  std::wstring Path;     // preselected on entry; the chosen folder on return
  std::wstring Root;     // unused: the tree starts at the desktop
  // Shows the browser; true when the user chose a folder (Path then ends
  // with a backslash).
  bool Execute(HWND owner);
};
