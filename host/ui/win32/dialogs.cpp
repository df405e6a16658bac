// The Windows front end: the dialog templates of the resources, message
// boxes, the folder browser and the painted progress bar. Every text comes
// from the host (the payload's message table); this file only shows them and
// hands the answers back.
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include "host/ui.h"
#include "platform/platform.h"

namespace tvk {

namespace {

// Places a window's centre on the centre of another (the desktop when none),
// then back onto the screen; only the position changes.
void CentreWindow(HWND window, HWND over) {
  RECT w, o;
  GetWindowRect(window, &w);
  if (over) {
    GetWindowRect(over, &o);
  } else {
    GetWindowRect(GetDesktopWindow(), &o);
  }
  Rect win{w.left, w.top, w.right, w.bottom};
  Rect ov{o.left, o.top, o.right, o.bottom};
  int32_t x = 0, y = 0;
  CentrePosition(win, ov, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), &x, &y);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetText(HWND dialog, int control, const char* text) {
  if (text) SetDlgItemTextA(dialog, control, text);
}

// ---- Progress bar (control 1050) ----------------------------------------------

struct ProgressState {
  WNDPROC former;
  int32_t percent;
  char text[kPathSize + 32];
};
ProgressState g_progress;

void PaintProgress(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC screen = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  int width = client.right - client.left, height = client.bottom - client.top;
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width > 0 ? width : 1, height > 0 ? height : 1);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
  SetBkMode(dc, TRANSPARENT);

  RECT inner = client;
  DrawEdge(dc, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(dc, &inner, GetSysColorBrush(COLOR_HIGHLIGHTTEXT));
  int32_t percent = g_progress.percent < 0 ? 0 : g_progress.percent > 100 ? 100 : g_progress.percent;
  RECT bar = inner;
  bar.right = percent * inner.right / 100;
  if (bar.right < inner.left) bar.right = inner.left;
  RECT rest = inner;
  rest.left = bar.right;
  if (bar.right > bar.left) FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));

  // The text is drawn twice, each time clipped to one part, so that it reads
  // in the opposite colour over the bar and over the rest.
  RECT whole = client;
  HRGN clip = CreateRectRgn(bar.left, bar.top, bar.right, bar.bottom);
  SelectClipRgn(dc, clip);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  DrawTextA(dc, g_progress.text, -1, &whole, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  DeleteObject(clip);
  clip = CreateRectRgn(rest.left, rest.top, rest.right, rest.bottom);
  SelectClipRgn(dc, clip);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
  DrawTextA(dc, g_progress.text, -1, &whole, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);

  BitBlt(screen, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      g_progress.percent = static_cast<int32_t>(wp);
      const char* name = reinterpret_cast<const char*>(lp);
      if (name) {
        StrFormat(g_progress.text, sizeof g_progress.text, "%s (%ld %%)", name,
                  static_cast<long>(g_progress.percent));
      } else {
        StrFormat(g_progress.text, sizeof g_progress.text, "%ld %%",
                  static_cast<long>(g_progress.percent));
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      UpdateWindow(hwnd);
      return TRUE;
    }
    case WM_PAINT:
      PaintProgress(hwnd);
      return 0;
    default:
      return CallWindowProcA(g_progress.former, hwnd, msg, wp, lp);
  }
}

// ---- The front end --------------------------------------------------------------

class DialogUi final : public Ui {
 public:
  void SetInstance(HINSTANCE instance) { instance_ = instance; }

  void SetBoxLabels(const BoxLabels&) override {}

  uint32_t ShowMessage(const char* text, const char* caption, uint32_t style) override {
    return static_cast<uint32_t>(MessageBoxA(main_, text, caption, style));
  }

  uint32_t RunMainDialog(const MainDialogSetup& setup, MainDialogHost* host) override {
    setup_ = &setup;
    host_ = host;
    INT_PTR r = DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainProc,
                                reinterpret_cast<LPARAM>(this));
    main_ = nullptr;
    host_ = nullptr;
    setup_ = nullptr;
    return r < 0 ? kAnswerCancel : static_cast<uint32_t>(r);
  }
  bool HasMainDialog() override { return main_ != nullptr; }
  void GetFolder(char* out, uint32_t size) override {
    if (!size) return;
    out[0] = 0;
    if (main_) GetDlgItemTextA(main_, IDC_FOLDER, out, static_cast<int>(size));
  }
  void SetFolder(const char* folder) override {
    if (main_) SetDlgItemTextA(main_, IDC_FOLDER, folder);
  }
  bool IsChecked(uint32_t control) override {
    return main_ && IsDlgButtonChecked(main_, static_cast<int>(control)) == BST_CHECKED;
  }
  void EnableControl(uint32_t control, bool enable) override {
    if (main_) EnableWindow(GetDlgItem(main_, static_cast<int>(control)), enable);
  }
  void ShowProgressBar() override {
    if (main_) ShowWindow(GetDlgItem(main_, IDC_PROGRESS), SW_SHOW);
  }
  void SetProgress(uint32_t percent, const char* name) override {
    if (main_) {
      SendMessageA(GetDlgItem(main_, IDC_PROGRESS), WM_SETTEXT, percent,
                   reinterpret_cast<LPARAM>(name));
    }
  }
  void PostEvent(uint32_t event) override {
    if (main_) PostMessageA(main_, event, 0, 0);
  }
  void EndDialog(uint32_t result) override {
    if (main_) ::EndDialog(main_, result);
  }
  void PumpMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  bool BrowseFolder(const char* title, const char* initial, char* out, uint32_t size) override {
    // The newer, resizable browser needs COM on this thread.
    HRESULT com = CoInitialize(nullptr);
    BROWSEINFOA info{};
    info.hwndOwner = main_;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseProc;
    info.lParam = reinterpret_cast<LPARAM>(initial);
    bool picked = false;
    if (LPITEMIDLIST list = SHBrowseForFolderA(&info)) {
      char path[MAX_PATH + 4] = "";
      if (SHGetPathFromIDListA(list, path) && path[0]) {
        StrCopy(out, size, path);
        picked = true;
      }
      CoTaskMemFree(list);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return picked;
  }

  void ShowSignature(const SignatureTexts& texts) override {
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_SIGNATURE), main_, SignatureProc,
                    reinterpret_cast<LPARAM>(&texts));
  }

  uint32_t AskPassword(const PasswordTexts& texts, char* out, uint32_t size) override {
    PasswordRequest request{&texts, out, size};
    INT_PTR r = DialogBoxParamA(instance_, MAKEINTRESOURCEA(texts.dialog), main_, PasswordProc,
                                reinterpret_cast<LPARAM>(&request));
    return r == IDOK ? kAnswerOk : kAnswerCancel;
  }

  uint32_t AskNextVolume(const NextVolumeTexts& texts, char* folder, uint32_t size) override {
    VolumeRequest request{&texts, folder, size};
    INT_PTR r = DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_NEXT_VOLUME), main_, VolumeProc,
                                reinterpret_cast<LPARAM>(&request));
    return r == IDOK ? kAnswerOk : kAnswerCancel;
  }

  uint32_t AskOverwrite(const OverwriteTexts& texts) override {
    INT_PTR r = DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_OVERWRITE), main_, OverwriteProc,
                                reinterpret_cast<LPARAM>(&texts));
    switch (r) {
      case IDOK:
        return kAnswerOk;
      case IDC_YES_ALL:
        return kAnswerYesAll;
      case IDNO:
        return kAnswerNo;
      case IDCANCEL:
        return kAnswerCancel;
      default:
        // The dialog could not be made: the failure reaches the host as is.
        return static_cast<uint32_t>(r);
    }
  }

  void ShowStartupError(const char* text) override {
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
  }

 private:
  struct PasswordRequest {
    const PasswordTexts* texts;
    char* out;
    uint32_t size;
  };
  struct VolumeRequest {
    const NextVolumeTexts* texts;
    char* folder;
    uint32_t size;
  };

  static INT_PTR CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DialogUi* self = reinterpret_cast<DialogUi*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (msg) {
      case WM_INITDIALOG:
        self = reinterpret_cast<DialogUi*>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        self->InitMain(hwnd);
        return TRUE;
      case WM_COMMAND: {
        UINT id = LOWORD(wp);
        if (HIWORD(wp) != BN_CLICKED || !self || !self->host_) return FALSE;
        if (id == IDOK || id == IDCANCEL || id == IDHELP || id == IDC_ABOUT || id == IDC_BROWSE) {
          self->host_->OnCommand(id);
          return TRUE;
        }
        return FALSE;
      }
      case WM_CLOSE:
        if (self && self->host_) self->host_->OnCommand(IDCANCEL);
        return TRUE;
      case WM_TVK_SHOW_INFO:
      case WM_TVK_EARLY_CHECK:
        // The dialog manager shows a dialog only once its queue has run
        // empty, and these come first: without this the info box, the
        // signature or a password prompt would stand alone on the screen,
        // owned by a window nobody can see yet.
        if (!IsWindowVisible(hwnd)) {
          ShowWindow(hwnd, SW_SHOWNORMAL);
          UpdateWindow(hwnd);
        }
        if (self && self->host_) self->host_->OnEvent(msg);
        return TRUE;
      default:
        return FALSE;
    }
  }

  void InitMain(HWND hwnd) {
    main_ = hwnd;
    const MainDialogSetup& s = *setup_;
    SetText(hwnd, IDC_INSTRUCTION, s.instruction);
    SetText(hwnd, IDC_FOLDER_LABEL, s.folderLabel);
    SetText(hwnd, IDC_BROWSE, s.browse);
    SetText(hwnd, IDOK, s.extract);
    SetText(hwnd, IDCANCEL, s.cancel);
    SetText(hwnd, IDC_ABOUT, s.about);
    SetText(hwnd, IDHELP, s.help);
    CentreWindow(hwnd, nullptr);
    SetWindowTextA(hwnd, s.title);

    HWND progress = GetDlgItem(hwnd, IDC_PROGRESS);
    g_progress.percent = 0;
    g_progress.text[0] = 0;
    g_progress.former = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressProc)));
    ShowWindow(progress, SW_HIDE);

    if (s.folder && s.folder[0]) {
      char folder[kPathSize];
      StrCopy(folder, sizeof folder, s.folder);
      LongForm(folder, sizeof folder);
      SetDlgItemTextA(hwnd, IDC_FOLDER, folder);
    }
    if (s.runAfter) {
      SetDlgItemTextA(hwnd, IDC_RUN_AFTER, s.runAfter);
      CheckDlgButton(hwnd, IDC_RUN_AFTER, s.runAfterChecked ? BST_CHECKED : BST_UNCHECKED);
    } else {
      ShowWindow(GetDlgItem(hwnd, IDC_RUN_AFTER), SW_HIDE);
    }
    SetText(hwnd, IDC_OVERWRITE, s.overwrite);
    if (s.overwriteShown) {
      CheckDlgButton(hwnd, IDC_OVERWRITE, s.overwriteChecked ? BST_CHECKED : BST_UNCHECKED);
    } else {
      ShowWindow(GetDlgItem(hwnd, IDC_OVERWRITE), SW_HIDE);
    }
    HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_PROGRAM));
    if (icon) SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (s.firstEvent) PostMessageA(hwnd, s.firstEvent, 0, 0);
  }

  static int CALLBACK BrowseProc(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) {
      SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
    }
    return 0;
  }

  // Every prompt is centred on its owner (the desktop in quiet mode).
  static void InitPrompt(HWND hwnd, const char* title, const char* ok, const char* cancel) {
    SetWindowTextA(hwnd, title);
    SetText(hwnd, IDOK, ok);
    SetText(hwnd, IDCANCEL, cancel);
    CentreWindow(hwnd, GetWindow(hwnd, GW_OWNER));
  }

  // The end of a prompt with one edit field: OK copies the field into the
  // caller's buffer, Cancel and the close box answer IDCANCEL.
  static INT_PTR EndTextPrompt(HWND hwnd, UINT msg, WPARAM wp, int field, char* out,
                               uint32_t size) {
    if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
      if (size) GetDlgItemTextA(hwnd, field, out, static_cast<int>(size));
      ::EndDialog(hwnd, IDOK);
      return TRUE;
    }
    if ((msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) || msg == WM_CLOSE) {
      ::EndDialog(hwnd, IDCANCEL);
      return TRUE;
    }
    return FALSE;
  }

  static INT_PTR CALLBACK SignatureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      const SignatureTexts* t = reinterpret_cast<const SignatureTexts*>(lp);
      InitPrompt(hwnd, t->title, t->ok, nullptr);
      if (!t->testKeyNote) {
        SetText(hwnd, IDC_SIGNATURE_TEXT, t->text);
        return TRUE;
      }
      // The note goes under the text; the box grows to hold it.
      char text[4096];
      StrCopy(text, sizeof text, t->text);
      StrAppend(text, sizeof text, "\r\n\r\n");
      StrAppend(text, sizeof text, t->testKeyNote);
      SetText(hwnd, IDC_SIGNATURE_TEXT, text);
      RECT extra = {0, 0, 0, 48};
      MapDialogRect(hwnd, &extra);
      const int dy = extra.bottom;
      RECT r;
      GetWindowRect(hwnd, &r);
      SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + dy,
                   SWP_NOMOVE | SWP_NOZORDER);
      HWND label = GetDlgItem(hwnd, IDC_SIGNATURE_TEXT);
      GetWindowRect(label, &r);
      MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
      SetWindowPos(label, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + dy,
                   SWP_NOMOVE | SWP_NOZORDER);
      HWND button = GetDlgItem(hwnd, IDOK);
      GetWindowRect(button, &r);
      MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
      SetWindowPos(button, nullptr, r.left, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
      ::EndDialog(hwnd, LOWORD(wp));
      return TRUE;
    }
    if (msg == WM_CLOSE) {
      ::EndDialog(hwnd, IDCANCEL);
      return TRUE;
    }
    return FALSE;
  }

  static INT_PTR CALLBACK PasswordProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lp);
      const PasswordRequest* r = reinterpret_cast<const PasswordRequest*>(lp);
      InitPrompt(hwnd, r->texts->title, r->texts->ok, r->texts->cancel);
      SetText(hwnd, IDC_PASSWORD_TEXT, r->texts->text);
      SetText(hwnd, IDC_PASSWORD_LABEL, r->texts->label);
      SendDlgItemMessageA(hwnd, IDC_PASSWORD, EM_LIMITTEXT, kPathSize - 1, 0);
      SetFocus(GetDlgItem(hwnd, IDC_PASSWORD));
      return FALSE;  // the focus is set
    }
    if (msg == WM_COMMAND || msg == WM_CLOSE) {
      const PasswordRequest* r =
          reinterpret_cast<const PasswordRequest*>(GetWindowLongPtrA(hwnd, DWLP_USER));
      return EndTextPrompt(hwnd, msg, wp, IDC_PASSWORD, r->out, r->size);
    }
    return FALSE;
  }

  static INT_PTR CALLBACK VolumeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lp);
      const VolumeRequest* r = reinterpret_cast<const VolumeRequest*>(lp);
      InitPrompt(hwnd, r->texts->title, r->texts->ok, r->texts->cancel);
      SetText(hwnd, IDC_VOLUME_TEXT, r->texts->text);
      SetText(hwnd, IDC_VOLUME_FOLDER, r->folder);
      return TRUE;
    }
    if (msg == WM_COMMAND || msg == WM_CLOSE) {
      const VolumeRequest* r =
          reinterpret_cast<const VolumeRequest*>(GetWindowLongPtrA(hwnd, DWLP_USER));
      return EndTextPrompt(hwnd, msg, wp, IDC_VOLUME_FOLDER, r->folder, r->size);
    }
    return FALSE;
  }

  static void SetFileIcon(HWND hwnd, int control, const char* name, uint32_t attributes) {
    SHFILEINFOA info{};
    // Looked up by name and attributes only: the file itself is not touched.
    if (SHGetFileInfoA(name ? name : "", attributes ? attributes : FILE_ATTRIBUTE_NORMAL, &info,
                       sizeof info, SHGFI_ICON | SHGFI_USEFILEATTRIBUTES) &&
        info.hIcon) {
      SendDlgItemMessageA(hwnd, control, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0);
    }
  }

  static INT_PTR CALLBACK OverwriteProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      const OverwriteTexts* t = reinterpret_cast<const OverwriteTexts*>(lp);
      InitPrompt(hwnd, t->title, t->replace, t->cancel);
      SetText(hwnd, IDC_YES_ALL, t->yesAll);
      SetText(hwnd, IDNO, t->no);
      SetText(hwnd, IDC_OVERWRITE_OLD_LABEL, t->existingLabel);
      SetText(hwnd, IDC_OVERWRITE_NEW_LABEL, t->newLabel);
      SetText(hwnd, IDC_OVERWRITE_TEXT, t->question);
      SetText(hwnd, IDC_OLD_INFO, t->existingInfo);
      SetText(hwnd, IDC_NEW_INFO, t->newInfo);
      SetFileIcon(hwnd, IDC_OLD_ICON, t->existingName, t->existingAttributes);
      SetFileIcon(hwnd, IDC_NEW_ICON, t->existingName, t->existingAttributes);
      // The shell library's question icon, loaded from the system folder by
      // its full path; the template's icon stays when it is not there.
      char path[MAX_PATH + 16] = "";
      UINT n = GetSystemDirectoryA(path, MAX_PATH);
      if (n && n < MAX_PATH) {
        StrAppend(path, sizeof path, "\\shell32.dll");
        if (HMODULE shell = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
          if (HICON icon = LoadIconA(shell, MAKEINTRESOURCEA(146))) {
            SendDlgItemMessageA(hwnd, IDC_OVERWRITE_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(icon), 0);
          }
        }
      }
      return TRUE;
    }
    if (msg == WM_COMMAND) {
      UINT id = LOWORD(wp);
      if (id == IDOK || id == IDC_YES_ALL || id == IDNO || id == IDCANCEL) {
        ::EndDialog(hwnd, id);
        return TRUE;
      }
    }
    if (msg == WM_CLOSE) {
      ::EndDialog(hwnd, IDCANCEL);
      return TRUE;
    }
    return FALSE;
  }

  HINSTANCE instance_ = nullptr;
  HWND main_ = nullptr;
  const MainDialogSetup* setup_ = nullptr;
  MainDialogHost* host_ = nullptr;
};

}  // namespace

Ui* PlatformUi(void* instance) {
  static DialogUi* ui = nullptr;
  if (!ui) {
    ui = New<DialogUi>();
    if (ui) ui->SetInstance(static_cast<HINSTANCE>(instance));
  }
  return ui;
}

void SetInterruptFlag(volatile sig_atomic_t*) {}

}  // namespace tvk
