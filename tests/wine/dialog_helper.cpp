// dialog_helper: runs a Windows program, reports the message boxes it shows,
// dismisses each with OK, and reports the program's exit code.
//
//   dialog_helper.exe [--timeout SECONDS] PROGRAM.exe [ARGS...]
//   dialog_helper.exe [--timeout SECONDS] --command-line "COMMAND LINE"
//   dialog_helper.exe [--timeout SECONDS] --shell-verb VERB FILE
//
// The second form starts a command line as given, as Explorer starts a
// verb's registered command; the third asks the shell (ShellExecuteExW) to
// start VERB on FILE.
//
// Output (stdout, UTF-8, lines end in "\n"), for each dialog in order:
//   caption: <dialog title>
//   text: <message text>      one such line per line of the message
// before the first dialog, the started program's command line as its own
// start-up code splits it (CommandLineToArgvW), program name first:
//   argument: <argument>      one such line per argument
// then, once the program has ended:
//   exit: <exit code>
// A program that shows no dialog produces only the "exit:" line.
//
// Exit status: 0 when the program ran and ended; 2 when the timeout
// (default 60 s) passed: the program is then killed; 3 for usage errors or
// when the program cannot be started; 4 when the shell finds no such verb
// for FILE (or starts no process for it).
//
// Build: i686-w64-mingw32-g++-posix -municode -static -O2 -o dialog_helper.exe dialog_helper.cpp
// -lntdll

#include <windows.h>
#include <shellapi.h>
#include <winternl.h>

#include <cstddef>
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

// Reads what the program's start-up code reads: the command line in its
// process parameters.
bool ReadCommandLine(HANDLE process, std::wstring& command_line) {
    PROCESS_BASIC_INFORMATION basic;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                  nullptr) != 0)
        return false;
    const char* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
    const char* parameters = nullptr;
    UNICODE_STRING text;
    if (!ReadProcessMemory(process, peb + offsetof(PEB, ProcessParameters), &parameters,
                           sizeof parameters, nullptr) ||
        !parameters ||
        !ReadProcessMemory(process, parameters + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                           &text, sizeof text, nullptr))
        return false;
    std::vector<wchar_t> buf(text.Length / sizeof(wchar_t) + 1, L'\0');
    if (!ReadProcessMemory(process, text.Buffer, buf.data(), text.Length, nullptr)) return false;
    command_line.assign(buf.data(), text.Length / sizeof(wchar_t));
    return true;
}

void PrintArguments(HANDLE process) {
    std::wstring command_line;
    if (!ReadCommandLine(process, command_line)) {
        ReportError(L"cannot read the program's command line (error %lu)", GetLastError());
        return;
    }
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(command_line.c_str(), &count);
    if (!arguments) return;
    for (int i = 0; i < count; ++i) PrintField("argument", arguments[i]);
    LocalFree(arguments);
}

// The started program: its process handle and ID.
struct Started {
    HANDLE process;
    DWORD pid;
};

// Starts COMMAND_LINE suspended, so that a job can hold it before it runs.
bool StartCommandLine(std::wstring command_line, HANDLE job, Started& started) {
    std::vector<wchar_t> buf(command_line.begin(), command_line.end());
    buf.push_back(L'\0');
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &si, &pi)) {
        ReportError(L"cannot start %ls (error %lu)", command_line.c_str(), GetLastError());
        return false;
    }
    if (job) AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    started = Started{pi.hProcess, pi.dwProcessId};
    return true;
}

// Asks the shell to start VERB on FILE, as a click on the verb in Explorer's
// menu does.
bool StartShellVerb(const wchar_t* verb, const wchar_t* file, HANDLE job, Started& started) {
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb;
    info.lpFile = file;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        ReportError(L"the shell started no \"%ls\" for %ls (error %lu, code %ld)", verb, file,
                    GetLastError(), static_cast<long>(reinterpret_cast<INT_PTR>(info.hInstApp)));
        return false;
    }
    if (job) AssignProcessToJobObject(job, info.hProcess);
    started = Started{info.hProcess, GetProcessId(info.hProcess)};
    return true;
}

void PrintUsage() {
    ReportError(
        L"usage: dialog_helper.exe [--timeout SECONDS] "
        L"(PROGRAM.exe [ARGS...] | --command-line \"COMMAND LINE\" | --shell-verb VERB FILE)");
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

    // A job lets a timeout kill whatever the program itself started too.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    DWORD start = GetTickCount();
    Started started{nullptr, 0};
    bool ok = false;
    if (wcscmp(argv[first], L"--shell-verb") == 0) {
        if (argc - first != 3) {
            PrintUsage();
            return 3;
        }
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        if (!StartShellVerb(argv[first + 1], argv[first + 2], job, started)) return 4;
        ok = true;
    } else if (wcscmp(argv[first], L"--command-line") == 0) {
        if (argc - first != 2) {
            PrintUsage();
            return 3;
        }
        ok = StartCommandLine(argv[first + 1], job, started);
    } else {
        std::wstring command_line;
        for (int i = first; i < argc; ++i) {
            if (i > first) command_line += L' ';
            command_line += QuoteArg(argv[i]);
        }
        ok = StartCommandLine(command_line, job, started);
    }
    if (!ok) return 3;
    std::set<HWND> done;
    bool exited = false;
    for (;;) {
        if (WaitForSingleObject(started.process, 0) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
        DialogSearch f{started.pid, &done, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&f));
        if (f.found) {
            if (done.empty()) PrintArguments(started.process);
            done.insert(f.found);
            ReportAndDismiss(f.found);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) break;
        DWORD wait = timeout_ms - elapsed;
        if (wait > kPollMs) wait = kPollMs;
        if (WaitForSingleObject(started.process, wait) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
    }

    if (!exited) {
        ReportError(L"timeout after %lu s; killing %ls", timeout_ms / 1000, argv[first]);
        if (job) TerminateJobObject(job, 1);
        TerminateProcess(started.process, 1);
        WaitForSingleObject(started.process, 5000);
        CloseHandle(started.process);
        return 2;
    }

    DWORD code = 0;
    GetExitCodeProcess(started.process, &code);
    CloseHandle(started.process);
    if (job) CloseHandle(job);
    char line[32];
    std::snprintf(line, sizeof line, "exit: %lu\n", static_cast<unsigned long>(code));
    WriteStdout(line);
    return 0;
}
