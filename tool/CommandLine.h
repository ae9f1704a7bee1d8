// zdtool's command line: the flag parser, the usage text, verbosity-filtered output and the
// comma-list tokenizer.
#ifndef ZDTOOL_COMMANDLINE_H
#define ZDTOOL_COMMANDLINE_H

#include <cstdio>

#include "RunSettings.h"

// Capacity of a token array handed to `tokenizer` (255 tokens and the closing null).
constexpr int kMaxTokens = 256;

// Parses the command line into the run settings. 0 when the run must stop: a message was
// printed on standard error or the usage text was shown.
int getOptFromExec(int argc, char** argv);

// Resets the submission record to its defaults.
void setupJob();

// Prints to standard output when nVerbose >= level; messages that end the run bypass it.
void _zdprintf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The usage text that -h prints.
void printUsage(FILE* out);

// Splits a comma-separated list into newly allocated tokens, empty items skipped, at most 255;
// tokens[count] is set to null. Release them with deallocatetokens.
int tokenizer(const char* text, char** tokens);
void deallocatetokens(int count, char** tokens);

#endif
