// Credentials and the Dispatcher's address from outside the command line: the password typed
// at a terminal or read from standard input (-p -), and the variables ZD_USER, ZD_PASSWORD and
// ZD_DISPATCHER, which stand in for -u, -p and -s when those are not given.
#ifndef ZDTOOL_CREDENTIALS_H
#define ZDTOOL_CREDENTIALS_H

#include <cstddef>
#include <string>
#include <string_view>

// Longest password read from standard input; a longer line is refused rather than cut.
constexpr size_t kMaxPasswordBytes = 4096;

enum class zdLineRead { kOk, kTooLong, kNoInput };

// Reads one line through `next` (a byte, or -1 at the end of the input) into `line`, without
// its line feed and a carriage return before it. kNoInput when the input ends before any byte.
template <typename NextByte>
zdLineRead readSecretLine(NextByte&& next, std::string& line) {
    line.clear();
    bool any = false;
    for (int c; (c = next()) != -1;) {
        any = true;
        if (c == '\n') break;
        // One byte beyond the limit may still be the carriage return before the line feed.
        if (line.size() > kMaxPasswordBytes) return zdLineRead::kTooLong;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxPasswordBytes) return zdLineRead::kTooLong;
    return any ? zdLineRead::kOk : zdLineRead::kNoInput;
}

// Reads the password for -p -: at a terminal after the prompt "Password: " on standard error
// with echo off, otherwise one line of standard input. False, with the message printed, when
// there was none or it was too long.
bool readPasswordFromInput(std::string& password);

// "host" or "host:port" as ZD_DISPATCHER gives it. `port` is -1 when the text has no port part;
// false when the port part is not a number from 1 to 65535 or the host is empty.
bool parseDispatcherAddress(std::string_view text, std::string& host, int& port);

// Which of the flags that the variables stand in for were on the command line.
struct zdGivenFlags {
    bool server = false, port = false, user = false, password = false;
};
// Fills what the flags left unset from the variables. False, with the message printed, when
// ZD_DISPATCHER is not valid.
bool applyCredentialVariables(const zdGivenFlags& given);

#endif
