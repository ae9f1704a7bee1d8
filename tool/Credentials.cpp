// The password of -p - and the ZD_USER, ZD_PASSWORD and ZD_DISPATCHER variables; the terminal
// itself is the platform's (Terminal.h).
#include "Credentials.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ConsoleOutput.h"
#include "RunSettings.h"
#include "Terminal.h"

bool readPasswordFromInput(std::string& password) {
    const bool terminal = inputIsTerminal();
    bool quiet = false;
    if (terminal) {
        // Echo goes off first, so nothing typed after the prompt shows.
        quiet = disableInputEcho();
        zdError("Password: ");
        std::fflush(stderr);
    }
    const zdLineRead result = readSecretLine([] { return std::getc(stdin); }, password);
    if (terminal) {
        if (quiet) restoreInputEcho();
        // The line feed typed after the password was not echoed.
        zdWrite(stderr, "\n", 1);
    }
    if (result == zdLineRead::kOk) return true;
    password.clear();
    if (result == zdLineRead::kTooLong) {
        zdError("\nPassword too long: at most %zu bytes.\n", kMaxPasswordBytes);
    } else {
        zdError("\nNo password given.\n");
    }
    return false;
}

bool parseDispatcherAddress(std::string_view text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    host = std::string(text.substr(0, colon));
    port = -1;
    if (host.empty()) return false;
    if (colon == std::string_view::npos) return true;
    const std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

bool applyCredentialVariables(const zdGivenFlags& given) {
    const char* value = nullptr;
    if (!given.user && (value = std::getenv("ZD_USER")) != nullptr) username = value;
    if (!given.password && (value = std::getenv("ZD_PASSWORD")) != nullptr) password = value;
    if (given.server || (value = std::getenv("ZD_DISPATCHER")) == nullptr || *value == '\0') {
        return true;
    }
    std::string host;
    int port = -1;
    if (!parseDispatcherAddress(value, host, port)) {
        zdError("\nInvalid ZD_DISPATCHER: %s (host or host:port, the port from 1 to 65535)\n",
                value);
        return false;
    }
    if (host.size() >= static_cast<size_t>(kServerCapacity)) {
        zdError("\nValue too long for variable: ZD_DISPATCHER (at most %d characters)\n",
                kServerCapacity - 1);
        return false;
    }
    std::memcpy(server, host.c_str(), host.size() + 1);
    if (port != -1 && !given.port) nPort = port;
    return true;
}
