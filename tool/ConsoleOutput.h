// Everything zdtool prints goes through here: on a terminal, control characters in the text are
// made visible, and a failed write of standard output is remembered so the run can report it.
#ifndef ZDTOOL_CONSOLEOUTPUT_H
#define ZDTOOL_CONSOLEOUTPUT_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

#include "ZRFrameworkExport.h"

// Writes `size` bytes to `stream` (stdout or stderr).
void zdWrite(FILE* stream, const char* data, size_t size);
void zdVprintf(FILE* stream, const char* format, va_list args);
void zdPrintf(FILE* stream, const char* format, ...) ZR_PRINTF_FORMAT(2, 3);
// A message on standard error; what was printed before comes first.
void zdError(const char* format, ...) ZR_PRINTF_FORMAT(1, 2);

// Bytes 0x00-0x1F other than tab and line feed, and 0x7F, become '?'; others pass unchanged,
// so UTF-8 names stay readable.
void makeTerminalSafe(std::string& text);

// Whether text for `stream` is sanitised; decided once per stream from isatty, unless a test
// has set it.
bool isTerminalStream(FILE* stream);
void setTerminalStream(FILE* stream, bool terminal);

// A transient line on standard error (a progress count), drawn over itself; it is erased
// before anything else is written, and by zdClearStatus.
void zdShowStatus(const char* text);
void zdClearStatus();

// Flushes standard output at the end of the run. False, with a message on standard error, when
// any of its writes failed.
bool finishOutput();
// Forgets a recorded write failure (tests run several times in one process).
void resetOutputState();

#endif
