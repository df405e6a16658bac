// A small Win32 program that drives the self-extractor's dialogs for the
// end-to-end tests under Wine: it waits for windows by title, reads control
// texts by id, types into edits and presses buttons, and prints what it saw.
//
// Usage: tvkdriver COMMAND...   (each command one argument)
//   wait:TITLE      wait up to 60 s for a visible top-level window whose title
//                   contains TITLE; it becomes the current window
//   gone            wait up to 30 s until the current window is gone
//   text:ID         print "ID=<text>" of a control of the current window
//   title           print the current window's title
//   set:ID=TEXT     put TEXT into a control
//   click:ID        press a button (posted, so a modal dialog it opens does not block us)
//   command:ID      post the current window the command a click of button ID sends,
//                   whether that button is enabled or not
//   checked:ID      print "ID=<0|1>"
//   visible:ID      print "ID=<0|1>"
//   enabled:ID      print "ID=<0|1>"
//   dump            print every child control: id, class, text
//   sleep:MS        wait
//   run:PATH        start PATH (no arguments) and keep its process
//   exit            wait up to 60 s for that process and print "exit=<code>"
//   absent:TITLE    fail when a visible window whose title contains TITLE exists
//   present:TITLE   fail unless such a window exists now
//   shot:FILE       save the current window as it is on screen (24-bit BMP)
//   nowindow:MS     watch MS milliseconds; fail when the started process shows
//                   any visible window meanwhile
//   icon[:FILE]     draw the started program's icon 101 at 32x32 on black,
//                   print "icon=<centre>,<left middle>" as RRGGBB, and save
//                   the drawing in FILE when one is named
//   version:KEY     print "KEY=<value>" of the started program's version
//                   record, as the system's version functions read it
// Exit code 0, or 2 when a wait timed out or a control was missing.
// The native test program globs this folder too; there the file is empty.
#if defined(_WIN32)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND g_current = nullptr;
PROCESS_INFORMATION g_process{};  // the program started by run:
std::string g_program;            // and its path

struct FindArgs {
  const char* title;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lp) {
  auto* args = reinterpret_cast<FindArgs*>(lp);
  if (!IsWindowVisible(hwnd)) return TRUE;
  // Wine shares one desktop between its X displays: windows of programs
  // started by other tests are visible too, so only our program's count.
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (g_process.dwProcessId && pid != g_process.dwProcessId) return TRUE;
  char text[1024] = "";
  GetWindowTextA(hwnd, text, sizeof text);
  if (std::strstr(text, args->title)) {
    args->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForWindow(const char* title, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 100) {
    FindArgs args{title, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&args));
    if (args.found) {
      Sleep(300);  // let the dialog finish its initialisation
      return args.found;
    }
    Sleep(100);
  }
  return nullptr;
}

std::string ControlText(HWND control) {
  // GetWindowText does not ask a control of another process for its text;
  // the message does.
  DWORD_PTR n = 0;
  SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &n);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(control, WM_GETTEXT, n + 1, reinterpret_cast<LPARAM>(s.data()),
                      SMTO_ABORTIFHUNG, 5000, &got);
  s.resize(got <= n ? static_cast<size_t>(got) : static_cast<size_t>(n));
  // One line per value: line breaks are shown as \n.
  std::string out;
  for (char c : s) {
    if (c == '\r') continue;
    if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

BOOL CALLBACK DumpChild(HWND hwnd, LPARAM) {
  char cls[64] = "";
  GetClassNameA(hwnd, cls, sizeof cls);
  std::printf("control %d %s \"%s\" visible=%d\n", GetDlgCtrlID(hwnd), cls, ControlText(hwnd).c_str(),
              IsWindowVisible(hwnd) ? 1 : 0);
  return TRUE;
}

// Writes the bitmap selected into nothing as a 24-bit BMP file.
bool SaveBitmap(HDC dc, HBITMAP bitmap, int w, int h, const char* file) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::string pixels(static_cast<size_t>(stride) * h, '\0');
  GetDIBits(dc, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;
  head.bfOffBits = sizeof head + sizeof info;
  head.bfSize = head.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* f = std::fopen(file, "wb");
  if (!f) return false;
  std::fwrite(&head, sizeof head, 1, f);
  std::fwrite(&info, sizeof info, 1, f);
  std::fwrite(pixels.data(), 1, pixels.size(), f);
  return std::fclose(f) == 0;
}

bool SaveShot(HWND window, const char* file) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(dc, old);
  bool saved = SaveBitmap(dc, bitmap, w, h, file);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return saved;
}

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == g_process.dwProcessId && IsWindowVisible(hwnd)) {
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND Control(const char* idText) {
  if (!g_current) return nullptr;
  return GetDlgItem(g_current, std::atoi(idText));
}

bool Run(const char* cmd) {
  std::string c(cmd);
  size_t colon = c.find(':');
  std::string verb = c.substr(0, colon);
  std::string arg = colon == std::string::npos ? "" : c.substr(colon + 1);
  if (verb == "wait") {
    g_current = WaitForWindow(arg.c_str(), 60000);  // Wine starts slowly on a busy machine
    if (!g_current) {
      std::printf("timeout waiting for \"%s\"\n", arg.c_str());
      return false;
    }
    std::printf("window \"%s\"\n", ControlText(g_current).c_str());
  } else if (verb == "gone") {
    for (int waited = 0; g_current && IsWindow(g_current); waited += 100) {
      if (waited > 30000) {
        std::printf("timeout waiting for the window to close\n");
        return false;
      }
      Sleep(100);
    }
    std::printf("gone\n");
  } else if (verb == "title") {
    std::printf("title=%s\n", g_current ? ControlText(g_current).c_str() : "");
  } else if (verb == "dump") {
    if (g_current) EnumChildWindows(g_current, DumpChild, 0);
  } else if (verb == "run") {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string line = "\"" + arg + "\"";
    g_program = arg;
    if (!CreateProcessA(arg.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &g_process)) {
      std::printf("cannot start %s (%lu)\n", arg.c_str(), GetLastError());
      return false;
    }
  } else if (verb == "absent") {
    FindArgs args{arg.c_str(), nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&args));
    if (args.found) {
      std::printf("present \"%s\"\n", arg.c_str());
      return false;
    }
    std::printf("absent \"%s\"\n", arg.c_str());
  } else if (verb == "present") {
    FindArgs args{arg.c_str(), nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&args));
    if (!args.found) {
      std::printf("not present \"%s\"\n", arg.c_str());
      return false;
    }
    std::printf("present \"%s\"\n", arg.c_str());
  } else if (verb == "command") {
    if (!g_current) return false;
    int id = std::atoi(arg.c_str());
    PostMessageA(g_current, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(g_current, id)));
  } else if (verb == "exit") {
    if (!g_process.hProcess || WaitForSingleObject(g_process.hProcess, 60000) != WAIT_OBJECT_0) {
      std::printf("the program did not end\n");
      return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(g_process.hProcess, &code);
    std::printf("exit=%ld\n", static_cast<long>(code));
  } else if (verb == "nowindow") {
    int limit = std::atoi(arg.c_str());
    for (int waited = 0; waited <= limit; waited += 50) {
      HWND seen = nullptr;
      EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&seen));
      if (seen) {
        std::printf("window shown: \"%s\"\n", ControlText(seen).c_str());
        return false;
      }
      if (g_process.hProcess && WaitForSingleObject(g_process.hProcess, 50) == WAIT_OBJECT_0) break;
    }
  } else if (verb == "shot") {
    Sleep(300);  // painting of the newest state
    if (!g_current || !SaveShot(g_current, arg.c_str())) {
      std::printf("no screenshot %s\n", arg.c_str());
      return false;
    }
  } else if (verb == "sleep") {
    Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
  } else if (verb == "icon") {
    // From the file, through the system's own resource loader: the icon
    // the shell shows for the program. (Wine's dialogs answered WM_GETICON
    // with nothing, for the unchanged program too.)
    HMODULE file = LoadLibraryExA(g_program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HICON icon = file ? static_cast<HICON>(LoadImageA(file, MAKEINTRESOURCEA(101), IMAGE_ICON, 32, 32, 0)) : nullptr;
    if (!icon) {
      std::printf("no icon\n");
      return false;
    }
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 32, 32};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    const auto rgb = [&](int x, int y) {
      COLORREF c = GetPixel(dc, x, y);
      return static_cast<unsigned long>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
    };
    std::printf("icon=%06lx,%06lx\n", rgb(16, 16), rgb(4, 16));
    SelectObject(dc, old);
    const bool saved = arg.empty() || SaveBitmap(dc, bitmap, 32, 32, arg.c_str());
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DestroyIcon(icon);
    FreeLibrary(file);
    if (!saved) {
      std::printf("no icon picture %s\n", arg.c_str());
      return false;
    }
  } else if (verb == "version") {
    const char* path = g_program.c_str();
    DWORD ignored = 0;
    std::string record(GetFileVersionInfoSizeA(path, &ignored), '\0');
    char* value = nullptr;
    UINT length = 0;
    const std::string key = "\\StringFileInfo\\040904B0\\" + arg;
    if (record.empty() || !GetFileVersionInfoA(path, 0, static_cast<DWORD>(record.size()), record.data()) ||
        !VerQueryValueA(record.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
      std::printf("%s missing\n", arg.c_str());
      return false;
    }
    std::printf("%s=%s\n", arg.c_str(), value);
  } else {
    std::string id = arg, value;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      id = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    HWND control = Control(id.c_str());
    if (!control) {
      std::printf("no control %s\n", id.c_str());
      return false;
    }
    if (verb == "text") {
      std::printf("%s=%s\n", id.c_str(), ControlText(control).c_str());
    } else if (verb == "set") {
      SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    } else if (verb == "click") {
      PostMessageA(control, BM_CLICK, 0, 0);
      Sleep(200);
    } else if (verb == "checked") {
      std::printf("%s=%d\n", id.c_str(),
                  SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (verb == "visible") {
      std::printf("%s=%d\n", id.c_str(), IsWindowVisible(control) ? 1 : 0);
    } else if (verb == "enabled") {
      std::printf("%s=%d\n", id.c_str(), IsWindowEnabled(control) ? 1 : 0);
    } else {
      std::printf("unknown command %s\n", cmd);
      return false;
    }
  }
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!Run(argv[i])) {
      std::fflush(stdout);
      return 2;
    }
  }
  std::fflush(stdout);
  return 0;
}

#endif  // _WIN32
