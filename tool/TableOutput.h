// Query tables: the field catalogue of every record kind (keyword, header, widths, meaning and
// the cell's accessor on one row), the column lists chosen with -jf, -cf, -hf, -lf and -pf and
// their parsers, the words of coded values, and the columns of one listing made from them.
#ifndef ZDTOOL_TABLEOUTPUT_H
#define ZDTOOL_TABLEOUTPUT_H

#include <string>
#include <string_view>
#include <vector>

#include "ListingRecords.h"
#include "TableRenderer.h"

constexpr int kMaxColumns = 256;  // column arrays end at the first 0, so 255 columns at most

// What a cell may need beyond its record.
struct zdCellContext {
    bool constants = true;  // codes as words rather than numbers
    // The template name of an engine UID; empty when unknown.
    std::string_view (*engineName)(int uid) = nullptr;
    // Jobs: the record's values of the listing's attribute keys, in their order; a null view for
    // an attribute the job does not carry.
    const std::string_view* attributes = nullptr;
    int attribute = -1;  // the attribute of the column being drawn, -1 for none
};

// Where a cell's text is built when it is not a view of the record or a constant word.
struct zdCellScratch {
    char number[64];
    std::string text;
};

// How a cell reads in machine-readable output: text as it is, a decimal number, or a coded value
// (its word, or its number when constants are off).
enum class zdCellKind : unsigned char { kText, kNumber, kCoded };

template <typename Record>
using zdCellFunction = std::string_view (*)(const Record&, const zdCellContext&, zdCellScratch&);

// One field of a record kind.
template <typename Record>
struct zdField {
    int number;  // the number stored in column arrays (jobs: its place in the table, from 1)
    const char* keyword;
    const char* header;
    int underline;          // dashes under the header
    int minWidth;           // with headers on
    const char* meaning;    // null when the usage text does not list it
    const char* attribute;  // jobs: the job attribute the cell shows, null for record fields
    zdCellKind cellKind;  // coded: the cell is one of few words (of a code set, or a template name)
    zdCellFunction<Record> cell;
};

template <typename Record>
struct zdCatalogue {
    const zdField<Record>* fields;
    int count;
    const char* kind;  // names the kind in "Invalid %s format"

    const zdField<Record>* begin() const { return fields; }
    const zdField<Record>* end() const { return fields + count; }
    // Null when the number or keyword is unknown.
    const zdField<Record>* Find(int number) const;
    const zdField<Record>* Find(std::string_view keyword) const;
};

extern const zdCatalogue<jobentry> jobCatalogue;
extern const zdCatalogue<cpuentry> cpuCatalogue;
extern const zdCatalogue<chunkentry> chunkCatalogue;
extern const zdCatalogue<logentry> logCatalogue;
extern const zdCatalogue<poolentry> poolCatalogue;

// ---- Column lists (run settings) ----

extern std::vector<std::string> jobColumns;
extern int cpuColumns[kMaxColumns];
extern int chunkColumns[kMaxColumns];
extern int poolColumns[kMaxColumns];
extern int logColumns[kMaxColumns];

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

// ---- Coded values ----

// Codes as words when `constants` is on, as decimal numbers when it is off.
std::string ResolveJobCostant(const char* keyword, int value, bool constants = true);
std::string ResolveCpuCostant(int field, int value, bool constants = true);
std::string ResolveChunkCostant(int field, int value, bool constants = true);
std::string ResolveLogCostant(int field, int value, bool constants = true);
// The name of the template `uid` in the process-wide template manager; empty when unknown.
// Names are remembered until forgetTemplateNames, which each job listing calls first.
std::string_view templateName(int uid);
void forgetTemplateNames();

std::string getJobHeader(const std::string& keyword);

// ---- The columns of one listing ----

template <typename Record>
struct zdColumn {
    const zdField<Record>* field;  // null for a custom job attribute
    int attribute;                 // index into the listing's attribute keys, -1 for none
};

template <typename Record>
struct zdColumns {
    std::vector<zdColumn<Record>> columns;
    std::vector<zdColumnHead> heads;
    // Jobs: the attribute names the columns show, so that only those values are kept.
    std::vector<std::string> attributeKeys;

    // The text of column i's cell, exactly as it prints.
    std::string_view Cell(size_t i, const Record& record, zdCellContext& context,
                          zdCellScratch& scratch) const;
    bool Repeats(size_t i) const {
        return columns[i].field && columns[i].field->cellKind == zdCellKind::kCoded;
    }
    // The column's keyword: the field's, or a custom job attribute's name.
    std::string_view Key(size_t i) const {
        const zdColumn<Record>& column = columns[i];
        if (column.field) return column.field->keyword;
        return column.attribute >= 0 ? std::string_view(attributeKeys[column.attribute])
                                     : std::string_view();
    }
    // Whether the column's cells are decimal numbers.
    bool Numeric(size_t i, bool constants) const {
        if (!columns[i].field) return false;
        const zdCellKind kind = columns[i].field->cellKind;
        return kind == zdCellKind::kNumber || (kind == zdCellKind::kCoded && !constants);
    }
};

zdColumns<jobentry> jobColumnsOf(const std::vector<std::string>& keywords);
zdColumns<cpuentry> cpuColumnsOf(const int* numbers);
zdColumns<chunkentry> chunkColumnsOf(const int* numbers);
zdColumns<poolentry> poolColumnsOf(const int* numbers);
zdColumns<logentry> logColumnsOf(const int* numbers);

// The attribute values of a job for `keys`, from its Base64 block; all null when the block does
// not decode. `decoded` holds the texts that the values point into.
void jobAttributeValues(const jobentry& job, const std::vector<std::string>& keys,
                        std::string& decoded, std::vector<std::string_view>& values);

// ---- implementation of the templates above ----

template <typename Record>
const zdField<Record>* zdCatalogue<Record>::Find(int number) const {
    for (const zdField<Record>& field : *this)
        if (field.number == number) return &field;
    return nullptr;
}

template <typename Record>
const zdField<Record>* zdCatalogue<Record>::Find(std::string_view keyword) const {
    for (const zdField<Record>& field : *this)
        if (keyword == field.keyword) return &field;
    return nullptr;
}

template <typename Record>
std::string_view zdColumns<Record>::Cell(size_t i, const Record& record, zdCellContext& context,
                                         zdCellScratch& scratch) const {
    const zdColumn<Record>& column = columns[i];
    context.attribute = column.attribute;
    if (!column.field) {
        return context.attributes && column.attribute >= 0 ? context.attributes[column.attribute]
                                                           : std::string_view();
    }
    return column.field->cell(record, context, scratch);
}

#endif
