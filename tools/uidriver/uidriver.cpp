// uidriver: finds and drives the windows of other processes, for the end-to-end tests.
// One command per run; results as UTF-8 lines on stdout, complaints on stderr.
// Exit code 0 = done, 1 = not found / timed out / refused, 2 = usage error.
#include "toolio.h"

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
// How long a sent message may take before the driver stops waiting for the reply. A click
// that opens a modal box keeps its handler busy; the driver then reports "pending".
constexpr UINT kReplyMs = 2000;

const char kUsageText[] = R"(usage: uidriver COMMAND [options]

Windows are named by --hwnd 0xHEX, or by --title TEXT (exact) with optional --pid N and
--class NAME. Controls inside them by --id N (decimal or 0x hex) or --text CAPTION (exact,
or without its '&'). Commands that look for something poll up to --timeout MS (default 10000).

  windows [--pid N] [--class C] [--title T] [--all]
      top-level windows (visible ones unless --all):
      hwnd pid class visible window-rect client-rect title
  wait WINDOW [--visible] [--gone]
      until such a window exists (and is visible), or until none is left (--gone)
  children WINDOW
      all descendants: hwnd id class visible enabled checked style rect text
      (visible: the control's own WS_VISIBLE; checked: BM_GETCHECK for buttons, else -;
      rect in client coordinates of WINDOW)
  text WINDOW [--id N | --text CAPTION]
      the text of the window or of the control (WM_GETTEXT), exactly
  settext WINDOW (--id N | --text CAPTION) [--] TEXT
      WM_SETTEXT on the control (an edit sends its EN_CHANGE itself)
  type WINDOW (--id N | --text CAPTION) [--clear] [--] TEXT
      WM_CHAR for each UTF-16 unit of TEXT, as typing does, at the end of the field;
      --clear empties the field first
  click WINDOW (--id N | --text CAPTION) [--force]
      BM_CLICK on a visible, enabled button; prints "clicked", or "pending" when the
      click's handler is still busy (a modal box opened)
  msgbox [--pid N] [--title T] [--press BUTTON] [--none]
      waits for a message box (class #32770); prints its title, its message and then
      "id<TAB>caption" for each button; --press Yes|No|OK|Cancel|... (caption without '&',
      or the name or number of the button id) clicks it and waits until the box is gone;
      --none succeeds only if no box appears within the timeout
  rect WINDOW [--id N | --text CAPTION]
      "window l,t,r,b", "client l,t,r,b" in screen pixels, and "dpi N"
  activate WINDOW
      brings the window to the foreground
  close WINDOW
      posts WM_CLOSE
  post (WINDOW | --broadcast) --message M [--wparam N] [--lparam N]
      posts message M (a number, or a name registered with RegisterWindowMessage, such as
      TaskbarCreated) to the window, or to every top-level window with --broadcast, as the
      shell announces its taskbar; prints the message number
  tray-delete WINDOW [--uid N]
      removes the window's tray icon N (default 1) from the shell, as a restarted shell
      has forgotten it
  processes [--name EXE] [--pid N] [--gone]
      waits until such a process runs and lists them: pid parent-pid exe; with --gone
      waits until none is left (process ids here are Windows ones, as in "windows")
  batch COMMAND [options] ; COMMAND [options] ; ...
      runs the commands one after the other in this one process (a ";" argument between
      them), and stops at the first that fails, with its exit code

Output fields are tab-separated, the text last; in texts a backslash, newline, carriage
return and tab are written as \\, \n, \r and \t. With --json every record is one JSON object
per line instead, texts exact.
)";

struct Options {
    std::wstring command;
    std::optional<HWND> hwnd;
    std::optional<std::wstring> title, cls, text, press, name, message;
    std::optional<DWORD> pid;
    std::optional<int> id;
    DWORD timeout = 10000;
    long long wparam = 0, lparam = 0;
    UINT uid = 1;
    bool visible = false, gone = false, all = false, none = false, json = false, clear = false,
         force = false, help = false, broadcast = false;
    std::vector<std::wstring> positional;
};

Options opt;

void complain(const std::string& what) {
    std::string line = "uidriver: " + what + "\n";
    DWORD done = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), DWORD(line.size()), &done, nullptr);
}

bool parseNumber(std::wstring s, long long& out, bool hexOnly = false) {
    int base = hexOnly ? 16 : 10;
    if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
        s.erase(0, 2);
        base = 16;
    }
    if (s.empty())
        return false;
    wchar_t* end = nullptr;
    errno = 0;
    out = std::wcstoll(s.c_str(), &end, base);
    return errno == 0 && *end == 0;
}

std::optional<std::string> parse(int argc, wchar_t** argv) {
    if (argc < 2)
        return "no command given";
    opt.command = argv[1];
    if (opt.command == L"--help" || opt.command == L"help") {
        opt.help = true;
        return std::nullopt;
    }
    bool rest = false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (rest || a.rfind(L"--", 0) != 0) {
            opt.positional.push_back(a);
            continue;
        }
        bool* flag = a == L"--visible"     ? &opt.visible
                     : a == L"--gone"      ? &opt.gone
                     : a == L"--all"       ? &opt.all
                     : a == L"--none"      ? &opt.none
                     : a == L"--json"      ? &opt.json
                     : a == L"--clear"     ? &opt.clear
                     : a == L"--force"     ? &opt.force
                     : a == L"--help"      ? &opt.help
                     : a == L"--broadcast" ? &opt.broadcast
                                           : nullptr;
        if (a == L"--") {
            rest = true;
        } else if (flag) {
            *flag = true;
        } else if (i + 1 >= argc) {
            return "missing value for " + toolio::utf8(a);
        } else {
            const std::wstring v = argv[++i];
            long long n = 0;
            if (a == L"--title")
                opt.title = v;
            else if (a == L"--class")
                opt.cls = v;
            else if (a == L"--text")
                opt.text = v;
            else if (a == L"--press")
                opt.press = v;
            else if (a == L"--name")
                opt.name = v;
            else if (a == L"--message")
                opt.message = v;
            else if (a == L"--wparam" && parseNumber(v, n))
                opt.wparam = n;
            else if (a == L"--lparam" && parseNumber(v, n))
                opt.lparam = n;
            else if (a == L"--uid" && parseNumber(v, n) && n >= 0)
                opt.uid = UINT(n);
            else if (a == L"--hwnd" && parseNumber(v, n, true))
                opt.hwnd = HWND(uintptr_t(n));
            else if (a == L"--pid" && parseNumber(v, n) && n >= 0)
                opt.pid = DWORD(n);
            else if (a == L"--id" && parseNumber(v, n))
                opt.id = int(n);
            else if (a == L"--timeout" && parseNumber(v, n) && n >= 0)
                opt.timeout = DWORD(n);
            else
                return "bad option " + toolio::utf8(a) + " " + toolio::utf8(v);
        }
    }
    return std::nullopt;
}

// --- reading windows -------------------------------------------------------------------------

std::wstring className(HWND h) {
    wchar_t buf[256];
    int n = GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

bool isClass(HWND h, const wchar_t* name) {
    return _wcsicmp(className(h).c_str(), name) == 0;
}

// The caption as the window manager keeps it; sends nothing, so a busy process cannot block us.
std::wstring titleOf(HWND h) {
    std::wstring s(512, L'\0');
    for (;;) {
        int n = GetWindowTextW(h, s.data(), int(s.size()));
        if (n < int(s.size()) - 1) {
            s.resize(n > 0 ? n : 0);
            return s;
        }
        s.resize(s.size() * 4);
    }
}

// The text the control itself reports (an edit's current contents, say).
std::wstring controlText(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kReplyMs, &len))
        return titleOf(h);
    std::wstring s(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, s.size(), LPARAM(s.data()), SMTO_NORMAL, kReplyMs,
                             &got))
        return titleOf(h);
    s.resize(std::min<size_t>(got, len));
    return s;
}

DWORD pidOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

bool ownVisible(HWND h) {
    return (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
}

RECT clientOnScreen(HWND h) {
    RECT r{};
    GetClientRect(h, &r);
    MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

UINT dpiOf(HWND h) {
    using Fn = UINT(WINAPI*)(HWND);
    static Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = fn ? fn(h) : 0;
    return dpi ? dpi : 96;
}

BOOL CALLBACK collect(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> v;
    EnumWindows(collect, LPARAM(&v));
    return v;
}

std::vector<HWND> descendants(HWND top) {
    std::vector<HWND> v;
    EnumChildWindows(top, collect, LPARAM(&v));
    return v;
}

std::wstring withoutAmpersands(const std::wstring& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&' && i + 1 < s.size())
            ++i;
        out += s[i];
    }
    return out;
}

bool captionIs(const std::wstring& caption, const std::wstring& wanted) {
    return caption == wanted || withoutAmpersands(caption) == wanted;
}

// --- output ----------------------------------------------------------------------------------

std::string escaped(std::wstring_view w) {
    std::wstring s;
    for (wchar_t c : w) {
        switch (c) {
        case L'\\':
            s += L"\\\\";
            break;
        case L'\n':
            s += L"\\n";
            break;
        case L'\r':
            s += L"\\r";
            break;
        case L'\t':
            s += L"\\t";
            break;
        default:
            s += c;
        }
    }
    return toolio::utf8(s);
}

std::string hex(uintptr_t v, int width = 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", width, static_cast<unsigned long long>(v));
    return buf;
}

// One line of output: tab-separated fields, or one JSON object with --json.
class Record {
public:
    Record& text(const char* key, std::wstring_view v) {
        return field(key, escaped(v), toolio::jsonString(v));
    }
    Record& num(const char* key, long long v) {
        return field(key, std::to_string(v), std::to_string(v));
    }
    Record& handle(const char* key, HWND h) {
        const std::string s = hex(uintptr_t(h));
        return field(key, s, "\"" + s + "\"");
    }
    Record& rect(const char* key, const RECT& r) {
        const std::string s = std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                              std::to_string(r.right) + "," + std::to_string(r.bottom);
        return field(key, s, "[" + s + "]");
    }
    Record& field(const char* key, std::string plain, std::string json) {
        fields_.push_back({key, std::move(plain), std::move(json)});
        return *this;
    }
    void print() const {
        std::string line;
        for (const auto& f : fields_) {
            if (opt.json)
                line += (line.empty() ? "{\"" : ",\"") + f.key + "\":" + f.json;
            else
                line += (line.empty() ? "" : "\t") + f.plain;
        }
        toolio::writeLine(opt.json ? line + "}" : line);
    }

private:
    struct Field {
        std::string key, plain, json;
    };
    std::vector<Field> fields_;
};

void printWindow(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    Record()
        .handle("hwnd", h)
        .num("pid", pidOf(h))
        .text("class", className(h))
        .num("visible", IsWindowVisible(h) ? 1 : 0)
        .rect("rect", r)
        .rect("client", clientOnScreen(h))
        .text("title", titleOf(h))
        .print();
}

// --- finding ---------------------------------------------------------------------------------

// Calls found() every 50 ms until it says yes or the time is up; always asks at least once.
template <class F> bool poll(DWORD timeoutMs, F found) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (found())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(50);
    }
}

bool hasWindowSelector() {
    return opt.hwnd || opt.title || opt.pid || opt.cls;
}

bool selected(HWND h) {
    return (!opt.pid || pidOf(h) == *opt.pid) &&
           (!opt.cls || _wcsicmp(className(h).c_str(), opt.cls->c_str()) == 0) &&
           (!opt.title || titleOf(h) == *opt.title) && (!opt.visible || IsWindowVisible(h));
}

// The selected windows, visible ones first, each group in Z order.
std::vector<HWND> selectedWindows() {
    std::vector<HWND> found;
    if (opt.hwnd) {
        if (IsWindow(*opt.hwnd) && selected(*opt.hwnd))
            found.push_back(*opt.hwnd);
        return found;
    }
    for (HWND h : topLevelWindows()) {
        if (selected(h))
            found.push_back(h);
    }
    std::stable_partition(found.begin(), found.end(), [](HWND h) { return IsWindowVisible(h); });
    return found;
}

HWND findControl(HWND top) {
    HWND hidden = nullptr;
    for (HWND c : descendants(top)) {
        if (opt.id && GetDlgCtrlID(c) != *opt.id)
            continue;
        if (opt.text && !captionIs(controlText(c), *opt.text))
            continue;
        if (ownVisible(c))
            return c;
        if (!hidden)
            hidden = c;
    }
    return hidden;
}

std::string describeTarget() {
    std::string s = "window";
    if (opt.hwnd)
        s += " " + hex(uintptr_t(*opt.hwnd));
    if (opt.title)
        s += " titled \"" + toolio::utf8(*opt.title) + "\"";
    if (opt.cls)
        s += " of class " + toolio::utf8(*opt.cls);
    if (opt.pid)
        s += " of process " + std::to_string(*opt.pid);
    if (opt.id)
        s += ", control id " + std::to_string(*opt.id);
    if (opt.text)
        s += ", control \"" + toolio::utf8(*opt.text) + "\"";
    return s;
}

// The selected window, and the selected control in it when --id or --text is given.
bool waitForTarget(HWND& top, HWND& control) {
    const bool wantControl = opt.id || opt.text;
    bool ok = poll(opt.timeout, [&] {
        for (HWND h : selectedWindows()) {
            top = h;
            control = wantControl ? findControl(h) : h;
            if (control)
                return true;
        }
        return false;
    });
    if (!ok)
        complain("no " + describeTarget() + " within " + std::to_string(opt.timeout) + " ms");
    return ok;
}

// A user can only reach a control that is shown and enabled, in a window that is too.
bool reachable(HWND c) {
    if (opt.force)
        return true;
    for (HWND h = c; h; h = GetAncestor(h, GA_PARENT)) {
        if (h == GetDesktopWindow())
            break;
        if (!ownVisible(h) || !IsWindowEnabled(h)) {
            complain(describeTarget() + " is " + (ownVisible(h) ? "disabled" : "hidden") +
                     (h == c ? "" : " (window " + hex(uintptr_t(h)) + ")"));
            return false;
        }
    }
    return true;
}

// --- message boxes ---------------------------------------------------------------------------

bool isMessageText(HWND c) {
    const int id = GetDlgCtrlID(c);
    return isClass(c, L"Static") && (id == 0xFFFF || id == -1) &&
           (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
}

// A dialog made of a message text and standard buttons only.
bool isMessageBox(HWND h) {
    if (!isClass(h, L"#32770") || !IsWindowVisible(h))
        return false;
    bool text = false, button = false;
    for (HWND c : descendants(h)) {
        if (isMessageText(c))
            text = true;
        else if (isClass(c, L"Button"))
            button = button || (GetDlgCtrlID(c) >= IDOK && GetDlgCtrlID(c) <= 11);
        else if (!isClass(c, L"Static"))
            return false;
    }
    return text && button;
}

HWND findMessageBox() {
    for (HWND h : topLevelWindows()) {
        if ((!opt.pid || pidOf(h) == *opt.pid) && (!opt.title || titleOf(h) == *opt.title) &&
            isMessageBox(h))
            return h;
    }
    return nullptr;
}

std::vector<HWND> boxButtons(HWND box) {
    std::vector<HWND> v;
    for (HWND c : descendants(box)) {
        if (isClass(c, L"Button") && ownVisible(c))
            v.push_back(c);
    }
    return v;
}

void printMessageBox(HWND box) {
    std::wstring message;
    for (HWND c : descendants(box)) {
        if (isMessageText(c)) {
            message = controlText(c);
            break;
        }
    }
    if (opt.json) {
        std::string buttons = "[";
        for (HWND b : boxButtons(box)) {
            if (buttons.size() > 1)
                buttons += ",";
            buttons += "{\"id\":" + std::to_string(GetDlgCtrlID(b)) +
                       ",\"text\":" + toolio::jsonString(controlText(b)) + "}";
        }
        buttons += "]";
        Record()
            .handle("hwnd", box)
            .num("pid", pidOf(box))
            .text("title", titleOf(box))
            .text("text", message)
            .field("buttons", "", buttons)
            .print();
        return;
    }
    toolio::writeLine(escaped(titleOf(box)));
    toolio::writeLine(escaped(message));
    for (HWND b : boxButtons(box))
        Record().num("id", GetDlgCtrlID(b)).text("text", controlText(b)).print();
}

HWND boxButton(HWND box, const std::wstring& wanted) {
    static const wchar_t* const names[] = {L"ok",     L"cancel",   L"abort",   L"retry",
                                           L"ignore", L"yes",      L"no",      L"close",
                                           L"help",   L"tryagain", L"continue"};
    const std::vector<HWND> buttons = boxButtons(box);
    for (HWND b : buttons) {
        if (_wcsicmp(withoutAmpersands(controlText(b)).c_str(), wanted.c_str()) == 0)
            return b;
    }
    long long id = 0;
    if (!parseNumber(wanted, id)) {
        for (size_t i = 0; i < std::size(names); ++i) {
            if (_wcsicmp(names[i], wanted.c_str()) == 0)
                id = static_cast<long long>(i + 1);
        }
    }
    for (HWND b : buttons) {
        if (id && GetDlgCtrlID(b) == id)
            return b;
    }
    return nullptr;
}

// --- commands --------------------------------------------------------------------------------

int cmdWindows() {
    for (HWND h : topLevelWindows()) {
        if (selected(h) && (opt.all || IsWindowVisible(h)))
            printWindow(h);
    }
    return kDone;
}

int cmdWait() {
    std::vector<HWND> found;
    const bool ok = poll(opt.timeout, [&] {
        found = selectedWindows();
        return opt.gone == found.empty();
    });
    if (!ok) {
        complain((opt.gone ? "still there: " : "no ") + describeTarget() + " within " +
                 std::to_string(opt.timeout) + " ms");
        return kNotFound;
    }
    if (!opt.gone)
        printWindow(found.front());
    return kDone;
}

int cmdChildren(HWND top) {
    for (HWND c : descendants(top)) {
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
        Record rec;
        rec.handle("hwnd", c)
            .num("id", GetDlgCtrlID(c))
            .text("class", className(c))
            .num("visible", ownVisible(c) ? 1 : 0)
            .num("enabled", IsWindowEnabled(c) ? 1 : 0);
        DWORD_PTR check = 0;
        if (isClass(c, L"Button") &&
            SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_NORMAL, kReplyMs, &check))
            rec.num("checked", static_cast<long long>(check));
        else
            rec.field("checked", "-", "null");
        const std::string style = hex(DWORD(GetWindowLongW(c, GWL_STYLE)), 8);
        rec.field("style", style, "\"" + style + "\"")
            .rect("rect", r)
            .text("text", controlText(c))
            .print();
    }
    return kDone;
}

int cmdText(HWND control) {
    const std::wstring text = controlText(control);
    toolio::writeLine(opt.json ? toolio::jsonString(text) : toolio::utf8(text));
    return kDone;
}

bool sendOrComplain(HWND h, UINT msg, WPARAM w, LPARAM l, DWORD_PTR* result = nullptr) {
    DWORD_PTR r = 0;
    if (SendMessageTimeoutW(h, msg, w, l, SMTO_NORMAL, kReplyMs, &r)) {
        if (result)
            *result = r;
        return true;
    }
    complain("no reply from " + describeTarget() + " (error " + std::to_string(GetLastError()) +
             ")");
    return false;
}

int cmdSetText(HWND control) {
    DWORD_PTR ok = 0;
    if (!sendOrComplain(control, WM_SETTEXT, 0, LPARAM(opt.positional[0].c_str()), &ok))
        return kNotFound;
    if (!ok) {
        complain("the control refused the text");
        return kNotFound;
    }
    return kDone;
}

int cmdType(HWND control) {
    if (!reachable(control))
        return kNotFound;
    if (opt.clear && !sendOrComplain(control, WM_SETTEXT, 0, LPARAM(L"")))
        return kNotFound;
    // The caret goes to the end, as after clicking behind the text.
    std::wstring cls = className(control);
    CharLowerBuffW(cls.data(), DWORD(cls.size()));
    DWORD_PTR length = 0;
    if (cls.find(L"edit") != std::wstring::npos &&
        !(sendOrComplain(control, WM_GETTEXTLENGTH, 0, 0, &length) &&
          sendOrComplain(control, EM_SETSEL, length, length)))
        return kNotFound;
    for (wchar_t unit : opt.positional[0]) {
        if (!sendOrComplain(control, WM_CHAR, WPARAM(unit), 1))
            return kNotFound;
    }
    return kDone;
}

int cmdClick(HWND control) {
    if (!reachable(control))
        return kNotFound;
    DWORD_PTR r = 0;
    if (SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, kReplyMs, &r)) {
        toolio::writeLine("clicked");
    } else if (GetLastError() == ERROR_TIMEOUT || GetLastError() == 0) {
        toolio::writeLine("pending");
    } else {
        complain("click failed (error " + std::to_string(GetLastError()) + ")");
        return kNotFound;
    }
    return kDone;
}

struct Process {
    DWORD pid, parent;
    std::wstring exe;
};

// Every process of the prefix, or those that --name and --pid select.
std::vector<Process> processes(bool selected) {
    std::vector<Process> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
        if (!selected || ((!opt.name || _wcsicmp(pe.szExeFile, opt.name->c_str()) == 0) &&
                          (!opt.pid || pe.th32ProcessID == *opt.pid)))
            found.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
    }
    CloseHandle(snap);
    return found;
}

// The program file of a process, for saying whose window it is.
std::wstring exeOf(DWORD pid) {
    for (const Process& process : processes(false)) {
        if (process.pid == pid)
            return process.exe;
    }
    return L"?";
}

int cmdMsgbox() {
    HWND box = nullptr;
    const bool seen = poll(opt.timeout, [&] { return (box = findMessageBox()) != nullptr; });
    if (opt.none) {
        if (!seen)
            return kDone;
        // Whose box it is, read first: the box may be gone before its texts are printed.
        const DWORD pid = pidOf(box);
        complain("a message box of process " + std::to_string(pid) + " (" +
                 toolio::utf8(exeOf(pid)) + ") is shown");
        printMessageBox(box);
        return kNotFound;
    }
    if (!seen) {
        complain("no message box within " + std::to_string(opt.timeout) + " ms");
        return kNotFound;
    }
    printMessageBox(box);
    if (!opt.press)
        return kDone;
    HWND button = boxButton(box, *opt.press);
    if (!button) {
        complain("the message box has no button " + toolio::utf8(*opt.press));
        return kNotFound;
    }
    // Posted: the click ends the box's modal loop and the code that called it goes on.
    PostMessageW(button, BM_CLICK, 0, 0);
    if (!poll(opt.timeout, [&] { return !IsWindow(box) || !IsWindowVisible(box); })) {
        complain("the message box is still open");
        return kNotFound;
    }
    return kDone;
}

int cmdRect(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    const RECT client = clientOnScreen(h);
    if (opt.json) {
        Record()
            .handle("hwnd", h)
            .rect("window", r)
            .rect("client", client)
            .num("dpi", dpiOf(h))
            .print();
    } else {
        Record().field("", "window", "").rect("", r).print();
        Record().field("", "client", "").rect("", client).print();
        Record().field("", "dpi", "").num("", dpiOf(h)).print();
    }
    return kDone;
}

int cmdActivate(HWND top) {
    if (IsIconic(top))
        ShowWindow(top, SW_RESTORE);
    if (!SetForegroundWindow(top)) {
        complain("could not bring " + describeTarget() + " to the foreground");
        return kNotFound;
    }
    return kDone;
}

int cmdProcesses() {
    std::vector<Process> found;
    if (!poll(opt.timeout, [&] {
            found = processes(true);
            return opt.gone == found.empty();
        })) {
        complain(std::string(opt.gone ? "still running: " : "no process ") +
                 (opt.name ? toolio::utf8(*opt.name) : "") +
                 (opt.pid ? " " + std::to_string(*opt.pid) : ""));
        return kNotFound;
    }
    for (const Process& p : found)
        Record().num("pid", p.pid).num("parent", p.parent).text("exe", p.exe).print();
    return kDone;
}

// The message named by --message: a number, or a name registered for the session.
std::optional<UINT> messageOf() {
    long long n = 0;
    if (!opt.message || opt.message->empty())
        return std::nullopt;
    if (parseNumber(*opt.message, n))
        return n >= 0 && n <= 0xFFFFFFFFLL ? std::optional<UINT>(UINT(n)) : std::nullopt;
    const UINT registered = RegisterWindowMessageW(opt.message->c_str());
    return registered ? std::optional<UINT>(registered) : std::nullopt;
}

int cmdPost(HWND target) {
    const std::optional<UINT> message = messageOf();
    if (!message) {
        complain("name the message with --message NUMBER or --message NAME");
        return kUsage;
    }
    if (!PostMessageW(target, *message, WPARAM(opt.wparam), LPARAM(opt.lparam))) {
        complain("could not post to " + (opt.broadcast ? "every window" : describeTarget()));
        return kNotFound;
    }
    Record().num("message", *message).print();
    return kDone;
}

int cmdTrayDelete(HWND top) {
    using NotifyIcon = BOOL(WINAPI*)(DWORD, NOTIFYICONDATAW*);
    HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    auto notify = reinterpret_cast<NotifyIcon>(
        reinterpret_cast<void*>(shell32 ? GetProcAddress(shell32, "Shell_NotifyIconW") : nullptr));
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = top;
    nid.uID = opt.uid;
    if (!notify || !notify(NIM_DELETE, &nid)) {
        complain("the shell removed no icon " + std::to_string(opt.uid) + " of " +
                 describeTarget());
        return kNotFound;
    }
    return kDone;
}

// The driver reads and reports real screen pixels, whatever scaling the system uses.
void becomeDpiAware() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using Ctx = BOOL(WINAPI*)(HANDLE);
    auto ctx = reinterpret_cast<Ctx>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (ctx && ctx(HANDLE(-4))) // per monitor, version 2
        return;
    SetProcessDPIAware();
}

int run() {
    const std::wstring& c = opt.command;
    if (c == L"windows")
        return cmdWindows();
    if (c == L"msgbox")
        return cmdMsgbox();
    if (c == L"processes")
        return cmdProcesses();
    if (c == L"post" && opt.broadcast) {
        if (hasWindowSelector() || opt.id || opt.text) {
            complain("--broadcast posts to every window: name none");
            return kUsage;
        }
        return cmdPost(HWND_BROADCAST);
    }

    const bool needsText = c == L"settext" || c == L"type";
    const bool needsControl = needsText || c == L"click";
    const bool known = needsControl || c == L"wait" || c == L"children" || c == L"text" ||
                       c == L"rect" || c == L"activate" || c == L"close" || c == L"post" ||
                       c == L"tray-delete";
    if (!known) {
        complain("unknown command " + toolio::utf8(c));
        return kUsage;
    }
    if (!hasWindowSelector()) {
        complain("name the window with --hwnd, --title, --pid or --class");
        return kUsage;
    }
    if (needsControl && !opt.id && !opt.text) {
        complain("name the control with --id or --text");
        return kUsage;
    }
    if (opt.positional.size() != (needsText ? 1u : 0u)) {
        complain(needsText ? "give the text as one argument" : "unexpected argument");
        return kUsage;
    }
    if (c == L"wait")
        return cmdWait();
    const bool wholeWindow = c == L"children" || c == L"activate" || c == L"close" ||
                             c == L"post" || c == L"tray-delete";
    if (wholeWindow && (opt.id || opt.text)) {
        complain("--id and --text do not apply to " + toolio::utf8(c));
        return kUsage;
    }

    HWND top = nullptr, control = nullptr;
    if (!waitForTarget(top, control))
        return kNotFound;
    if (c == L"children")
        return cmdChildren(top);
    if (c == L"text")
        return cmdText(control);
    if (c == L"settext")
        return cmdSetText(control);
    if (c == L"type")
        return cmdType(control);
    if (c == L"click")
        return cmdClick(control);
    if (c == L"rect")
        return cmdRect(control);
    if (c == L"activate")
        return cmdActivate(top);
    if (c == L"post")
        return cmdPost(top);
    if (c == L"tray-delete")
        return cmdTrayDelete(top);
    PostMessageW(top, WM_CLOSE, 0, 0);
    return kDone;
}

} // namespace

// One command: its arguments are argv[1..argc-1].
int runOne(int argc, wchar_t** argv) {
    opt = Options{};
    if (auto error = parse(argc, argv)) {
        complain(*error);
        complain("see uidriver --help");
        return kUsage;
    }
    if (opt.help) {
        toolio::writeOut(kUsageText);
        return kDone;
    }
    return run();
}

int wmain(int argc, wchar_t** argv) {
    becomeDpiAware();
    if (argc < 2 || std::wstring(argv[1]) != L"batch") {
        return runOne(argc, argv);
    }
    if (std::wstring(argv[argc - 1]) == L";") {
        complain("batch: empty command after the last ;");
        return kUsage;
    }
    // Each command is run as if given alone: argv[start - 1] stands in for the program name.
    int start = 2;
    int step = 1;
    while (start < argc) {
        int end = start;
        while (end < argc && std::wstring(argv[end]) != L";") {
            ++end;
        }
        if (end == start) {
            complain("batch: empty command " + std::to_string(step));
            return kUsage;
        }
        const int result = runOne(end - start + 1, argv + start - 1);
        if (result != kDone) {
            complain("batch: command " + std::to_string(step) + " failed");
            return result;
        }
        start = end + 1;
        ++step;
    }
    return kDone;
}
