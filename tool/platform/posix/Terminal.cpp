// The terminal on POSIX: termios for echo, signal handlers that put it back, and the locale
// variables (read directly, so the process's own locale stays "C").
#include "../../Terminal.h"

#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "../../DisplayWidth.h"

namespace {

// Read by the signal handler, hence plain and volatile.
struct termios savedTerminal;
volatile sig_atomic_t echoDisabled = 0;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[sizeof kSignals / sizeof kSignals[0]];

// Async-signal-safe: puts the terminal back, ends the prompt's line, and lets the signal do
// what it would have done.
void onSignal(int signal) {
    if (echoDisabled) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoDisabled = 0;
        (void)!write(STDERR_FILENO, "\n", 1);
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

}  // namespace

bool inputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool disableInputEcho() {
    if (echoDisabled) return true;
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &action, &previousActions[i]);
    struct termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    echoDisabled = 1;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
        restoreInputEcho();
        return false;
    }
    return true;
}

void restoreInputEcho() {
    if (echoDisabled) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoDisabled = 0;
    }
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
}

bool outputIsUtf8() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = getenv(name);
        if (value && *value) return zdLocaleIsUtf8(value);
    }
    return false;
}
