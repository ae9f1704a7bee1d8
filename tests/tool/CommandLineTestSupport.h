// Shared by the command-line tests: one parse of a command line from fresh run settings, with
// what it printed on standard error.
#ifndef ZD_TESTS_TOOL_COMMANDLINETESTSUPPORT_H
#define ZD_TESTS_TOOL_COMMANDLINETESTSUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "TableOutput.h"

struct ParseResult {
    int result;
    std::string err;
};

inline ParseResult parse(std::vector<std::string> args) {
    resetRunSettings();
    resetColumnLists();
    args.insert(args.begin(), "zdtool");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    const int result = getOptFromExec(static_cast<int>(args.size()), argv.data());
    return {result, testing::internal::GetCapturedStderr()};
}

#endif
