// Fuzzes zdtool's flag parser with argument vectors cut from the input at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
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
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int result = getOptFromExec(static_cast<int>(args.size()), argv.data());

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
