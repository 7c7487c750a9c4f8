// The host's start-up code: builds the wide argument vector, without losing
// any byte of a file name, and calls wWinMain.
#include <signal.h>

#include <string>
#include <vector>

#include "platform/host/os/wide_text.h"
#include "platform/host/windows.h"

// What the Windows runtime's start-up code hands the program; only this
// start-up code sets them.
int __argc = 0;
wchar_t** __wargv = nullptr;

int main(int argc, char** argv) {
    // A SIGCHLD ignored by whoever started us would make our children reap
    // themselves, and the picture reader's end would go unseen.
    signal(SIGCHLD, SIG_DFL);
    // A message on a stderr whose reader has gone must fail as a write, not
    // end photomap: the dialog still shows and the exit status stays 0.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::wstring> arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i) arguments.push_back(host::WideFromBytes(argv[i]));

    std::vector<wchar_t*> vector;
    for (std::wstring& argument : arguments) vector.push_back(argument.data());
    vector.push_back(nullptr);

    // The command-line text after the program's name, as Windows passes it.
    std::wstring commandLine;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (i > 1) commandLine += L' ';
        commandLine += arguments[i];
    }

    __argc = argc;
    __wargv = vector.data();
    return wWinMain(nullptr, nullptr, commandLine.data(), SW_SHOWNORMAL);
}
