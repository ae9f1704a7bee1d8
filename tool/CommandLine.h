// zdtool's command line: the flag parser, the usage text and verbosity-filtered output.
#ifndef ZDTOOL_COMMANDLINE_H
#define ZDTOOL_COMMANDLINE_H

#include <cstdio>
#include <vector>

#include "RunSettings.h"
#include "Tokenizer.h"
#include "ZRFrameworkExport.h"

// Parses the command line into the run settings. 0 when the run must stop: a message was
// printed on standard error or the usage text was shown; stopStatus then says how it ends.
int getOptFromExec(int argc, char** argv);

// Resets the submission record to its defaults.
void setupJob();

// Prints to standard output when nVerbose >= level (to standard error when the output format is
// tsv or json); messages that end the run bypass it.
void _zdprintf(int level, const char* format, ...) ZR_PRINTF_FORMAT(2, 3);

// The usage text that -h prints.
void printUsage(FILE* out);
// The usage text followed by the flags and variables beyond it (--help).
void printHelp(FILE* out);
// "zdtool" and the version (--version).
void printVersion(FILE* out);

// A flag as programs that describe the command line see it (completion, manual checks).
struct zdFlagDescription {
    const char* name;
    int values;  // how many arguments follow the flag
};

// Every flag that the parser accepts, in the order it compares them.
std::vector<zdFlagDescription> describeFlags();

#endif
