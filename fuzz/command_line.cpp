// Fuzzes zdtool's flag parser with argument vectors cut from the input at NUL bytes, the
// ZD_DISPATCHER variable (the last argument, when the first byte is odd) and the password line.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Credentials.h"
#include "TableOutput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetRunSettings();
    resetColumnLists();
    std::vector<std::string> args{"zdtool"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (size > 0 && (data[0] & 1) != 0) {
        setenv("ZD_DISPATCHER", args.back().c_str(), 1);
    } else {
        unsetenv("ZD_DISPATCHER");
    }
    int result = getOptFromExec(static_cast<int>(args.size()), argv.data());
    if (result == 0 && stopStatus != 0 && stopStatus != -1) __builtin_trap();
    if (nPort != 8681 && (size == 0 || (data[0] & 1) == 0)) {
        bool portGiven = false;
        for (const std::string& arg : args)
            portGiven |= arg == "-port";
        if (!portGiven) __builtin_trap();
    }

    size_t at = 0;
    std::string line;
    const zdLineRead read =
        readSecretLine([&]() -> int { return at < size ? data[at++] : -1; }, line);
    if (line.size() > kMaxPasswordBytes || at > kMaxPasswordBytes + 2) __builtin_trap();
    if (read == zdLineRead::kNoInput && size != 0) __builtin_trap();

    // Whatever was accepted must leave the run settings consistent.
    if (result != 0) {
        if (submitActive && (queryActive || controlActive)) __builtin_trap();
        if (!queryActive && !controlActive && !submitActive) __builtin_trap();
        if (server[kServerCapacity - 1] != '\0' || strBuffer[kStrBufferCapacity - 1] != '\0') {
            __builtin_trap();
        }
    }
    return 0;
}
