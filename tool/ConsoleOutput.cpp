// Console output: terminal-safe text and the record of failed writes to standard output.
#include "ConsoleOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

enum class Kind { kUnknown, kTerminal, kPlain };
Kind stdoutKind = Kind::kUnknown;
Kind stderrKind = Kind::kUnknown;
int stdoutError = 0;     // errno of the first failed write of standard output
size_t statusWidth = 0;  // of the transient line on standard error, 0 when none is shown

Kind& kindOf(FILE* stream) {
    return stream == stderr ? stderrKind : stdoutKind;
}

void noteFailure(FILE* stream) {
    if (stream == stdout && stdoutError == 0 && std::ferror(stdout)) {
        stdoutError = errno ? errno : EIO;
    }
}

bool isControl(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
}

}  // namespace

void makeTerminalSafe(std::string& text) {
    for (char& c : text) {
        if (isControl(static_cast<unsigned char>(c))) c = '?';
    }
}

bool isTerminalStream(FILE* stream) {
    Kind& kind = kindOf(stream);
    if (kind == Kind::kUnknown) kind = isatty(fileno(stream)) ? Kind::kTerminal : Kind::kPlain;
    return kind == Kind::kTerminal;
}

void setTerminalStream(FILE* stream, bool terminal) {
    kindOf(stream) = terminal ? Kind::kTerminal : Kind::kPlain;
}

void zdShowStatus(const char* text) {
    std::string line = "\r";
    line += text;
    const size_t width = line.size() - 1;
    if (width < statusWidth) line.append(statusWidth - width, ' ');
    statusWidth = width > statusWidth ? width : statusWidth;
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void zdClearStatus() {
    if (statusWidth == 0) return;
    std::string blank = "\r";
    blank.append(statusWidth, ' ');
    blank += '\r';
    statusWidth = 0;
    std::fwrite(blank.data(), 1, blank.size(), stderr);
    std::fflush(stderr);
}

void zdWrite(FILE* stream, const char* data, size_t size) {
    if (size == 0) return;
    zdClearStatus();
    if (isTerminalStream(stream)) {
        std::string safe(data, size);
        makeTerminalSafe(safe);
        std::fwrite(safe.data(), 1, safe.size(), stream);
    } else {
        std::fwrite(data, 1, size, stream);
    }
    noteFailure(stream);
}

void zdVprintf(FILE* stream, const char* format, va_list args) {
    if (!isTerminalStream(stream)) {
        zdClearStatus();
        std::vfprintf(stream, format, args);
        noteFailure(stream);
        return;
    }
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        text.pop_back();
        zdWrite(stream, text.data(), text.size());
    }
    va_end(again);
}

void zdPrintf(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    zdVprintf(stream, format, args);
    va_end(args);
}

void zdError(const char* format, ...) {
    zdClearStatus();
    std::fflush(stdout);
    noteFailure(stdout);
    va_list args;
    va_start(args, format);
    zdVprintf(stderr, format, args);
    va_end(args);
}

bool finishOutput() {
    if (std::fflush(stdout) != 0) noteFailure(stdout);
    if (stdoutError == 0 && std::ferror(stdout)) stdoutError = EIO;
    if (stdoutError == 0) return true;
    std::fprintf(stderr, "\nCannot write to standard output: %s.\n", std::strerror(stdoutError));
    return false;
}

void resetOutputState() {
    std::clearerr(stdout);
    stdoutError = 0;
    stdoutKind = stderrKind = Kind::kUnknown;
    statusWidth = 0;
}
