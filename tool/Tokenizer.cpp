// The comma-list tokenizer.
#include "Tokenizer.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A malloc'ed copy, released with free like the tokens have always been.
char* copyOf(const char* text, size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy) std::abort();
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

int tokenizer(const char* text, char** tokens) {
    int count = 0;
    if (text) {
        std::string work(text);
        size_t start = 0;
        while (count < kMaxTokens - 1 && start < work.size()) {
            size_t comma = work.find(',', start);
            if (comma == std::string::npos) comma = work.size();
            if (comma > start) tokens[count++] = copyOf(work.c_str() + start, comma - start);
            start = comma + 1;
        }
    }
    tokens[count] = nullptr;
    return count;
}

void deallocatetokens(int count, char** tokens) {
    for (int i = 0; i < count; ++i) {
        std::free(tokens[i]);
        tokens[i] = nullptr;
    }
}
