// A small Win32 program that drives the self-extractor's dialogs for the
// end-to-end tests under Wine: it waits for windows by title, reads control
// texts by id, types into edits and presses buttons, and prints what it saw.
//
// Usage: tvkdriver COMMAND...   (each command one argument)
//   wait:TITLE      wait up to 30 s for a visible top-level window whose title
//                   contains TITLE; it becomes the current window
//   gone            wait up to 30 s until the current window is gone
//   text:ID         print "ID=<text>" of a control of the current window
//   title           print the current window's title
//   set:ID=TEXT     put TEXT into a control
//   click:ID        press a button (posted, so a modal dialog it opens does not block us)
//   checked:ID      print "ID=<0|1>"
//   visible:ID      print "ID=<0|1>"
//   enabled:ID      print "ID=<0|1>"
//   dump            print every child control: id, class, text
//   sleep:MS        wait
// Exit code 0, or 2 when a wait timed out or a control was missing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND g_current = nullptr;

struct FindArgs {
  const char* title;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lp) {
  auto* args = reinterpret_cast<FindArgs*>(lp);
  if (!IsWindowVisible(hwnd)) return TRUE;
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
  int n = GetWindowTextLengthA(control);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(control, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
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
    g_current = WaitForWindow(arg.c_str(), 30000);
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
  } else if (verb == "sleep") {
    Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
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
