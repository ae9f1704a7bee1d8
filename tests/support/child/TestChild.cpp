// A small child program for the process tests on Windows, where the POSIX tests' /bin tools do
// not exist: each argument is one step, run in order.
//   cat        copies standard input to standard output
//   out:TEXT   writes TEXT and a line end to standard output; err:TEXT to standard error
//   env:NAME   writes NAME's value (or "<unset>")
//   cwd        writes the working folder
//   args       writes the number of arguments and each one between brackets
//   sleep:S    sleeps S seconds
//   exit:N     exits with N
#include <stdio.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
#ifdef _WIN32
    // The bytes as they are, without line-end translation.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (verb == "cat") {
            char buffer[4096];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0)
                fwrite(buffer, 1, n, stdout);
        } else if (verb == "out") {
            printf("%s\n", value.c_str());
        } else if (verb == "err") {
            fprintf(stderr, "%s\n", value.c_str());
        } else if (verb == "env") {
            const char* found = getenv(value.c_str());
            printf("%s\n", found ? found : "<unset>");
        } else if (verb == "cwd") {
            printf("%s\n", std::filesystem::current_path().string().c_str());
        } else if (verb == "args") {
            printf("%d", argc - 1);
            for (int j = 1; j < argc; ++j)
                printf("[%s]", argv[j]);
            printf("\n");
        } else if (verb == "sleep") {
            std::this_thread::sleep_for(std::chrono::seconds(atoi(value.c_str())));
        } else if (verb == "exit") {
            fflush(stdout);
            return atoi(value.c_str());
        }
        fflush(stdout);
        fflush(stderr);
    }
    return 0;
}
