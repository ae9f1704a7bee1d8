// What zdtool asks of the terminal: whether standard input is one, echo off while a password is
// typed, and whether the terminal shows UTF-8. One implementation per platform.
#ifndef ZDTOOL_TERMINAL_H
#define ZDTOOL_TERMINAL_H

// Whether standard input is an interactive terminal (a console on Windows).
bool inputIsTerminal();

// Turns echo off on the terminal of standard input; false when it cannot. Until
// restoreInputEcho, an interrupting signal (Ctrl-C on Windows) restores it before the program
// ends.
bool disableInputEcho();
void restoreInputEcho();

// Whether the terminal expects UTF-8: on POSIX the first of LC_ALL, LC_CTYPE and LANG that is
// set names a UTF-8 codeset; on Windows the console's output code page is UTF-8.
bool outputIsUtf8();

#endif
