// Query tables: field keywords of every record kind, the column lists chosen with -jf, -cf, -hf,
// -lf and -pf, and the parsers of those field lists.
#ifndef ZDTOOL_TABLEOUTPUT_H
#define ZDTOOL_TABLEOUTPUT_H

#include <string>
#include <vector>

constexpr int kMaxColumns = 256;  // column arrays end at the first 0, so 255 columns at most

// A job field: any other keyword names a custom job attribute.
struct zdJobField {
    const char* keyword;
    const char* header;
    const char* meaning;  // null when the usage text does not list it
};

// A numbered field of the node, chunk, log and pool records.
struct zdNumberedField {
    int number;
    const char* keyword;
    const char* header;
    int underline;  // dashes under the header; the minimum widths are the *HAlign tables
    const char* meaning;
};

struct zdFieldTable {
    const zdNumberedField* fields;
    int count;
};

extern const zdJobField jobFields[];
extern const int jobFieldsCount;
extern const zdFieldTable cpuFields;
extern const zdFieldTable chunkFields;
extern const zdFieldTable logFields;
extern const zdFieldTable poolFields;

// Field lookup; null when the number or keyword is unknown.
const zdJobField* findJobField(const std::string& keyword);
const zdNumberedField* findField(const zdFieldTable& table, int number);
const zdNumberedField* findField(const zdFieldTable& table, const char* keyword);

extern std::vector<std::string> jobColumns;
extern std::vector<int> jobColumnsAlign;
extern int cpuColumns[kMaxColumns];
extern int cpuColumnsAlign[kMaxColumns];
extern int chunkColumns[kMaxColumns];
extern int chunkColumnsAlign[kMaxColumns];
extern int poolColumns[kMaxColumns];
extern int poolColumnsAlign[kMaxColumns];
extern int logColumns[kMaxColumns];
extern int logColumnsAlign[kMaxColumns];

// Minimum widths indexed by field number (index 0 unused).
extern const int cpuColumnsHAlign[];
extern const int chunkColumnsHAlign[];
extern const int poolColumnsHAlign[];
extern const int logColumnsHAlign[];

// The default job columns; main sets them before the command line is read.
void setDefaultJobColumns();
// Every column list back to its default.
void resetColumnLists();

// Replace one kind's column list from a comma-separated field list; false makes the command
// line invalid (the unknown keyword has been reported on standard error).
bool buildJobFormat(const char* list);
bool buildCpuFormat(const char* list);
bool buildChunkFormat(const char* list);
bool buildLogFormat(const char* list);
bool buildPoolFormat(const char* list);

#endif
