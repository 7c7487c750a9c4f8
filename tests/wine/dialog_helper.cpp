// dialog_helper: runs a Windows program, reports the message boxes it shows,
// dismisses each with OK, and reports the program's exit code.
//
//   dialog_helper.exe [--timeout SECONDS] PROGRAM.exe [ARGS...]
//
// Output (stdout, UTF-8, lines end in "\n"), for each dialog in order:
//   caption: <dialog title>
//   text: <message text>      one such line per line of the message
// then, once the program has ended:
//   exit: <exit code>
// A program that shows no dialog produces only the "exit:" line.
//
// Exit status: 0 when the program ran and ended; 2 when the timeout
// (default 60 s) passed: the program is then killed; 3 for usage errors or
// when the program cannot be started.
//
// Build: i686-w64-mingw32-g++-posix -municode -static -O2 -o dialog_helper.exe dialog_helper.cpp

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

const wchar_t kDialogClass[] = L"#32770";
// MessageBox gives its text control this ID on both Windows and Wine.
const int kMessageTextId = 0xFFFF;
const DWORD kPollMs = 50;
const UINT kSendTimeoutMs = 5000;

void WriteStdout(const std::string& s) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        if (!WriteFile(out, p, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
        p += written;
        left -= written;
    }
}

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
    return s;
}

void PrintField(const char* name, const std::wstring& value) {
    WriteStdout(std::string(name) + ": " + ToUtf8(value) + "\n");
}

// One "text:" line per line of the text; "\r\n", "\r" and "\n" all end a line.
void PrintLines(const char* name, const std::wstring& value) {
    std::wstring line;
    for (size_t i = 0; i < value.size(); ++i) {
        wchar_t c = value[i];
        if (c == L'\r' || c == L'\n') {
            PrintField(name, line);
            line.clear();
            if (c == L'\r' && i + 1 < value.size() && value[i + 1] == L'\n') ++i;
        } else {
            line += c;
        }
    }
    PrintField(name, line);
}

void ReportError(const wchar_t* fmt, ...) {
    wchar_t buf[1024];
    va_list ap;
    va_start(ap, fmt);
    _vsnwprintf(buf, sizeof buf / sizeof buf[0] - 1, fmt, ap);
    va_end(ap);
    buf[sizeof buf / sizeof buf[0] - 1] = L'\0';
    std::string s = "dialog_helper: " + ToUtf8(buf) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
              nullptr);
}

// Quotes one argument so that CommandLineToArgvW / the C runtime give it back
// unchanged.
std::wstring QuoteArg(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out += L'"';
            backslashes = 0;
        } else {
            out.append(backslashes, L'\\');
            out += c;
            backslashes = 0;
        }
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t buf[256];
    int n = GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// WM_GETTEXT works across processes (the system copies the text back).
bool WindowText(HWND hwnd, std::wstring& text) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len))
        return false;
    std::vector<wchar_t> buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &got))
        return false;
    text.assign(buf.data(), got <= len ? got : len);
    return true;
}

struct DialogSearch {
    DWORD pid;
    const std::set<HWND>* done;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lp) {
    DialogSearch* f = reinterpret_cast<DialogSearch*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != f->pid || f->done->count(hwnd) || !IsWindowVisible(hwnd) ||
        ClassName(hwnd) != kDialogClass)
        return TRUE;
    f->found = hwnd;
    return FALSE;
}

struct StaticsSearch {
    HWND dialog;
    std::vector<HWND> statics;
};

BOOL CALLBACK FindStatics(HWND hwnd, LPARAM lp) {
    StaticsSearch* f = reinterpret_cast<StaticsSearch*>(lp);
    if (GetParent(hwnd) != f->dialog || _wcsicmp(ClassName(hwnd).c_str(), L"Static") != 0)
        return TRUE;
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    DWORD type = style & SS_TYPEMASK;
    if (type == SS_ICON || type == SS_BITMAP || type == SS_ENHMETAFILE) return TRUE;
    f->statics.push_back(hwnd);
    return TRUE;
}

// The message text: the static control with MessageBox's text ID, or else
// the first non-empty static that is not a picture.
std::wstring MessageText(HWND dialog) {
    std::wstring text;
    HWND byId = GetDlgItem(dialog, kMessageTextId);
    if (byId && WindowText(byId, text)) return text;
    StaticsSearch f{dialog, {}};
    EnumChildWindows(dialog, FindStatics, reinterpret_cast<LPARAM>(&f));
    for (HWND s : f.statics) {
        if (WindowText(s, text) && !text.empty()) return text;
    }
    return std::wstring();
}

void ReportAndDismiss(HWND dialog) {
    std::wstring caption;
    if (!WindowText(dialog, caption)) {
        wchar_t buf[1024];
        int n = GetWindowTextW(dialog, buf, 1024);
        caption.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }
    PrintLines("caption", caption);
    PrintLines("text", MessageText(dialog));

    HWND ok = GetDlgItem(dialog, IDOK);
    if (ok) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(ok));
    } else {
        // No OK button (e.g. Yes/No): closing acts as Cancel where allowed.
        ReportError(L"dialog has no OK button; sending WM_CLOSE");
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
}

void PrintUsage() {
    ReportError(L"usage: dialog_helper.exe [--timeout SECONDS] PROGRAM.exe [ARGS...]");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeout_ms = 60 * 1000;
    int first = 1;
    if (first < argc && wcscmp(argv[first], L"--timeout") == 0) {
        if (first + 1 >= argc) {
            PrintUsage();
            return 3;
        }
        wchar_t* end = nullptr;
        unsigned long secs = wcstoul(argv[first + 1], &end, 10);
        if (!end || *end != L'\0' || secs == 0 || secs > 24 * 3600) {
            PrintUsage();
            return 3;
        }
        timeout_ms = static_cast<DWORD>(secs * 1000);
        first += 2;
    }
    if (first < argc && wcscmp(argv[first], L"--") == 0) ++first;
    if (first >= argc) {
        PrintUsage();
        return 3;
    }

    std::wstring cmdline;
    for (int i = first; i < argc; ++i) {
        if (i > first) cmdline += L' ';
        cmdline += QuoteArg(argv[i]);
    }
    std::vector<wchar_t> cmdbuf(cmdline.begin(), cmdline.end());
    cmdbuf.push_back(L'\0');

    // A job lets a timeout kill whatever the program itself started too.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    DWORD start = GetTickCount();
    if (!CreateProcessW(nullptr, cmdbuf.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &si, &pi)) {
        ReportError(L"cannot start %ls (error %lu)", argv[first], GetLastError());
        return 3;
    }
    if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    std::set<HWND> done;
    bool exited = false;
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
        DialogSearch f{pi.dwProcessId, &done, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&f));
        if (f.found) {
            done.insert(f.found);
            ReportAndDismiss(f.found);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) break;
        DWORD wait = timeout_ms - elapsed;
        if (wait > kPollMs) wait = kPollMs;
        if (WaitForSingleObject(pi.hProcess, wait) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
    }

    if (!exited) {
        ReportError(L"timeout after %lu s; killing %ls", timeout_ms / 1000, argv[first]);
        if (job) TerminateJobObject(job, 1);
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        return 2;
    }

    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    if (job) CloseHandle(job);
    char line[32];
    std::snprintf(line, sizeof line, "exit: %lu\n", static_cast<unsigned long>(code));
    WriteStdout(line);
    return 0;
}
