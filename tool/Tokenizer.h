// The comma-list tokenizer of the field lists and of the flags that take lists.
#ifndef ZDTOOL_TOKENIZER_H
#define ZDTOOL_TOKENIZER_H

// Capacity of a token array handed to `tokenizer` (255 tokens and the closing null).
constexpr int kMaxTokens = 256;

// Splits a comma-separated list into newly allocated tokens, empty items skipped, at most 255;
// tokens[count] is set to null. Release them with deallocatetokens.
int tokenizer(const char* text, char** tokens);
void deallocatetokens(int count, char** tokens);

#endif
