// The console on Windows: its input mode without ENABLE_ECHO_INPUT while a password is typed, a
// control handler that puts the mode back on Ctrl-C, and the output code page.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "../../Terminal.h"

namespace {

HANDLE echoInput = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;
volatile LONG echoDisabled = 0;

// Runs on a thread of its own; the default handler then ends the program.
BOOL WINAPI onControl(DWORD) {
    if (InterlockedExchange(&echoDisabled, 0)) {
        SetConsoleMode(echoInput, savedMode);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
    }
    return FALSE;
}

}  // namespace

bool inputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool disableInputEcho() {
    if (echoDisabled) return true;
    echoInput = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(echoInput, &savedMode)) return false;
    SetConsoleCtrlHandler(onControl, TRUE);
    InterlockedExchange(&echoDisabled, 1);
    if (!SetConsoleMode(echoInput, savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        restoreInputEcho();
        return false;
    }
    return true;
}

void restoreInputEcho() {
    if (InterlockedExchange(&echoDisabled, 0)) SetConsoleMode(echoInput, savedMode);
    SetConsoleCtrlHandler(onControl, FALSE);
}

bool outputIsUtf8() {
    return GetConsoleOutputCP() == CP_UTF8;
}
