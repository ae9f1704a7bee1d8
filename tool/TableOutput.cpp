// The field catalogues, default column lists, field-list parsers, the words of coded values, and
// the columns of one listing.
#include "TableOutput.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "CodeWords.h"
#include "ConsoleOutput.h"
#include "PayloadText.h"
#include "Tokenizer.h"
#include "ZRStringHelper.h"
#include "ZRTemplateManager.h"

namespace {

using ZRFramework::ZRStringHelper::FormatTime;
using ZRFramework::ZRStringHelper::FormatTimespan;

constexpr int kDateAndTime = 2;  // FormatTime mode of every time cell

constexpr zdCellKind kText = zdCellKind::kText;
constexpr zdCellKind kNumber = zdCellKind::kNumber;
constexpr zdCellKind kCoded = zdCellKind::kCoded;

std::string_view number(long value, zdCellScratch& scratch) {
    const std::to_chars_result r =
        std::to_chars(scratch.number, scratch.number + sizeof scratch.number, value);
    return std::string_view(scratch.number, static_cast<size_t>(r.ptr - scratch.number));
}

std::string_view frameNumber(float value, zdCellScratch& scratch) {
    int n =
        std::snprintf(scratch.number, sizeof scratch.number, "%.3f", static_cast<double>(value));
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof scratch.number)) n = sizeof scratch.number - 1;
    return std::string_view(scratch.number, static_cast<size_t>(n));
}

std::string_view timeText(long seconds, zdCellScratch& scratch) {
    scratch.text = FormatTime(seconds, kDateAndTime);
    return scratch.text;
}

std::string_view timespanText(long seconds, zdCellScratch& scratch) {
    scratch.text = FormatTimespan(seconds);
    return scratch.text;
}

// A coded value: its word, or its number when constants are off.
std::string_view coded(int value, const zdProtocol::CodeSet& set, bool constants,
                       zdCellScratch& scratch) {
    return constants ? set.WordOf(value) : number(value, scratch);
}

std::string_view engineCell(int uid, const zdCellContext& context, zdCellScratch& scratch) {
    if (!context.constants) return number(uid, scratch);
    return context.engineName ? context.engineName(uid) : std::string_view();
}

// Accessors of plain members: a number or a text as received.
template <auto Member>
struct MemberOf;
template <typename R, typename T, T R::*Member>
struct MemberOf<Member> {
    using Record = R;
};

template <auto Member>
std::string_view numberCell(const typename MemberOf<Member>::Record& record, const zdCellContext&,
                            zdCellScratch& scratch) {
    return number(static_cast<long>(record.*Member), scratch);
}

template <auto Member>
std::string_view textCell(const typename MemberOf<Member>::Record& record, const zdCellContext&,
                          zdCellScratch&) {
    return record.*Member;
}

template <auto Member>
std::string_view frameCell(const typename MemberOf<Member>::Record& record, const zdCellContext&,
                           zdCellScratch& scratch) {
    return frameNumber(record.*Member, scratch);
}

// A job attribute as stored; an absent one is empty.
std::string_view attributeCell(const jobentry&, const zdCellContext& context, zdCellScratch&) {
    return context.attributes && context.attribute >= 0 ? context.attributes[context.attribute]
                                                        : std::string_view();
}

// Rows whose underline and minimum width are the header's length.
template <typename Record>
constexpr zdField<Record> field(int number, const char* keyword, const char* header,
                                const char* meaning, zdCellFunction<Record> cell,
                                zdCellKind kind = kText, const char* attribute = nullptr) {
    const int length = static_cast<int>(std::char_traits<char>::length(header));
    return {number, keyword, header, length, length, meaning, attribute, kind, cell};
}

using J = jobentry;
using C = cpuentry;
using H = chunkentry;
using L = logentry;
using P = poolentry;

const zdField<J> kJobFields[] = {
    field<J>(1, "id", "ID", "Job ID", numberCell<&J::id>, kNumber),
    field<J>(2, "parent", "PARENT", "Job parent ID", numberCell<&J::parent>, kNumber),
    field<J>(3, "depend", "DEPEND", "Job depend IDs", textCell<&J::depend>),
    field<J>(
        4, "type", "TYPE", "Job type",
        [](const J& j, const zdCellContext& c, zdCellScratch& s) {
            return coded(j.type, zdProtocol::kJobTypes, c.constants, s);
        },
        kCoded),
    field<J>(5, "priority", "PRIORITY", "Job priority", numberCell<&J::priority>, kNumber),
    field<J>(
        6, "status", "STATUS", "Job status",
        [](const J& j, const zdCellContext& c, zdCellScratch& s) {
            return coded(j.status, zdProtocol::kJobStatuses, c.constants, s);
        },
        kCoded),
    field<J>(7, "locked", "LOCKED", "Job locked status", numberCell<&J::locked>, kNumber),
    field<J>(8, "progress", "PROGRESS", "Job progress", numberCell<&J::progress>, kNumber),
    field<J>(
        9, "pktype", "PKTYPE", "Packet type",
        [](const J& j, const zdCellContext& c, zdCellScratch& s) {
            return coded(j.pktype, zdProtocol::kPacketTypes, c.constants, s);
        },
        kCoded),
    field<J>(10, "pksize", "PKSIZE", "Packet size", numberCell<&J::pksize>, kNumber),
    field<J>(
        11, "engine", "ENGINE", "Job template",
        [](const J& j, const zdCellContext& c, zdCellScratch& s) {
            return engineCell(j.engine, c, s);
        },
        kCoded),
    field<J>(12, "maxcpu", "MAXCPU", "Max allowed nodes", numberCell<&J::maxcpu>, kNumber),
    field<J>(13, "workingcpu", "WORKINGCPU", "Nodes working on job", numberCell<&J::workingcpu>,
             kNumber),
    field<J>(14, "requeued", "REQUEUED", "Number of requeues", numberCell<&J::requeued>, kNumber),
    field<J>(15, "skiperror", "SKIPERRORS", "Skip errors flag", numberCell<&J::skiperror>, kNumber),
    field<J>(16, "name", "NAME", "Job name", textCell<&J::name>),
    field<J>(17, "pool", "POOL", "Job pool", textCell<&J::pool>),
    field<J>(18, "submitter", "SUBMITTER", "Job owner", textCell<&J::submitter>),
    field<J>(19, "group", "PROJECT", "Job project", textCell<&J::group>),
    field<J>(20, "department", "DEPARTMENT", "Job department", textCell<&J::department>),
    field<J>(
        21, "subtm", "SUBTIME", "Job submission time",
        [](const J& j, const zdCellContext&, zdCellScratch& s) { return timeText(j.subtm, s); }),
    field<J>(22, "start", "STARTING", "Job starting time",
             [](const J& j, const zdCellContext&, zdCellScratch& s) {
                 if (j.status == JobStatus::kOnQueue || j.starttm == 0) return std::string_view();
                 return timeText(j.starttm, s);
             }),
    field<J>(23, "end", "ENDING", "Job ending time",
             [](const J& j, const zdCellContext&, zdCellScratch& s) {
                 if (j.status == JobStatus::kOnQueue || j.endtm == 0) return std::string_view();
                 return timeText(j.endtm, s);
             }),
    field<J>(24, "totalt", "TOTAL TIME", "Job total processing time",
             [](const J& j, const zdCellContext&, zdCellScratch& s) {
                 if (j.starttm < 1 || j.endtm < 1) return std::string_view();
                 return timespanText(j.endtm - j.starttm, s);
             }),
    field<J>(25, "paused", "PAUSED", "Job paused flag", numberCell<&J::paused>, kNumber),
    field<J>(26, "sf", "START FRAME", "Job starting frame", attributeCell, kText, "start_frame"),
    field<J>(27, "ef", "END FRAME", "Job ending frame", attributeCell, kText, "end_frame"),
    field<J>(28, "bf", "BY FRAME", "Job by frame", attributeCell, kText, "by_frame"),
    field<J>(29, "step", "STEP", "Job step by", attributeCell, kText, "step_by"),
    field<J>(30, "nb", "NUMBER BY", "Job number by", attributeCell, kText, "number_by"),
    field<J>(31, "digits", "DIGITS", "Job frame digits", attributeCell, kText, "digits"),
    field<J>(32, "xres", "X_RES", "Job X resolution (SF)", attributeCell, kText, "x_res"),
    field<J>(33, "yres", "Y_RES", "Job Y resolution (SF)", attributeCell, kText, "y_res"),
    field<J>(34, "overlap", "OVERLAP", "Job AS overlap (SF)", attributeCell, kText, "as_overlap"),
    field<J>(35, "ratio", "RATIO", "Job image ratio (SF)", attributeCell, kText, "ratio"),
    field<J>(36, "file", "FILE", "Job file", attributeCell, kText, "job_file"),
    field<J>(37, "project", "PROJECT PATH", "Job content path", attributeCell, kText,
             "job_project"),
    field<J>(38, "output_folder", "OUTPUT", "Job output path", attributeCell, kText,
             "output_folder"),
    field<J>(
        39, "remove_slices", "remove_slices", nullptr,
        [](const J&, const zdCellContext& c, zdCellScratch& s) {
            const std::string_view value =
                c.attributes ? c.attributes[c.attribute] : std::string_view();
            return value.data() ? number(zdProtocol::ParseInt(value), s) : std::string_view();
        },
        kNumber, "remove_slices"),
};

// Node rows carry their own underline and minimum width, which differ from the header's length
// for TPAUSE and RAM USAGE.
constexpr zdField<C> node(int number, const char* keyword, const char* header, int underline,
                          int minWidth, const char* meaning, zdCellFunction<C> cell,
                          zdCellKind kind = kText) {
    return {number, keyword, header, underline, minWidth, meaning, nullptr, kind, cell};
}

const zdField<C> kCpuFields[] = {
    node(1, "chunkid", "CHUNKID", 7, 7, "Current chunk ID", numberCell<&C::chunkid>, kNumber),
    node(2, "id", "CPUID", 5, 5, "Node ID", numberCell<&C::id>, kNumber),
    node(
        3, "os", "OS", 2, 2, "Node system",
        [](const C& n, const zdCellContext& c, zdCellScratch& s) {
            return coded(n.os, zdProtocol::kNodeSystems, c.constants, s);
        },
        kCoded),
    node(4, "name", "NAME", 4, 4, "Node name", textCell<&C::name>),
    node(5, "num", "CPUNUM", 6, 6, "Node number of cpus", textCell<&C::num>),
    node(6, "ip", "IP", 2, 2, "Node IP address", textCell<&C::ip>),
    node(7, "sst", "RENDERSTATUS", 12, 12, "Node render status", textCell<&C::sst>),
    node(8, "ppriority", "PRIORITY", 8, 8, "Node spawned process priority",
         numberCell<&C::ppriority>, kNumber),
    node(9, "jobid", "JOBID", 5, 5, "Current job ID", numberCell<&C::jobid>, kNumber),
    node(
        10, "status", "STATUS", 6, 6, "Node status",
        [](const C& n, const zdCellContext& c, zdCellScratch& s) {
            return coded(n.status, zdProtocol::kNodeStatuses, c.constants, s);
        },
        kCoded),
    node(11, "tpause", "TPAUSE", 7, 7, "Scheduled pause flag", numberCell<&C::tpause>, kNumber),
    node(12, "jobname", "JOBNAME", 7, 7, "Node active job name", textCell<&C::jobname>),
    node(13, "chunknamef", "CHUNKNAME", 9, 9, "Node active chunk frame range",
         textCell<&C::chunknamef>),
    node(14, "chunkname", "CHUNKNAME", 9, 9, "Node active chunk frame range[integer numbers]",
         textCell<&C::chunkname>),
    node(15, "logpath", "LOGPATH", 7, 7, "Node exported log path", textCell<&C::logpath>),
    node(16, "supmask", "ENGINEMASK", 10, 10, "Engine support bit mask", textCell<&C::supmask>),
    node(17, "version", "VERSION", 7, 7, "Node version", numberCell<&C::version>, kNumber),
    node(18, "priority", "PRIORITY", 8, 8, "Node priority", numberCell<&C::priority>, kNumber),
    node(19, "rtlog", "RTLOG", 5, 5, "Node real time log flag", numberCell<&C::rtlog>, kNumber),
    node(20, "ramusage", "RAM USAGE", 9, 10, "Node ram usage", textCell<&C::ramusage>),
    node(21, "cpuusage", "PROC USAGE", 10, 10, "Node cpus usage", textCell<&C::cpuusage>),
    node(22, "notes", "NOTES", 5, 5, "Node notes", textCell<&C::notes>),
};

// A chunk that waits shows no times; one that is sent shows its start only.
bool waiting(const H& chunk) {
    return chunk.status == ChunkStatus::kOnHold;
}
bool unfinished(const H& chunk) {
    return waiting(chunk) || chunk.status == ChunkStatus::kSent;
}

const zdField<H> kChunkFields[] = {
    field<H>(1, "id", "ID", "Chunk ID", numberCell<&H::id>, kNumber),
    field<H>(
        2, "status", "STATUS", "Chunk status",
        [](const H& h, const zdCellContext& c, zdCellScratch& s) {
            return coded(h.status, zdProtocol::kChunkStatuses, c.constants, s);
        },
        kCoded),
    field<H>(3, "requeued", "REQUEUED", "Chunk requeue counter", numberCell<&H::requeued>, kNumber),
    field<H>(4, "sf", "STARTFRAME", "Chunk start frame", frameCell<&H::sf>, kNumber),
    field<H>(5, "ef", "ENDFRAME", "Chunk end frame", frameCell<&H::ef>, kNumber),
    field<H>(6, "bf", "BYFRAME", "Chunk by frame", frameCell<&H::bf>, kNumber),
    field<H>(7, "st", "START", "Chunk starting time",
             [](const H& h, const zdCellContext&, zdCellScratch& s) {
                 return waiting(h) ? std::string_view() : timeText(h.st, s);
             }),
    field<H>(8, "et", "END", "Chunk ending time",
             [](const H& h, const zdCellContext&, zdCellScratch& s) {
                 return unfinished(h) ? std::string_view() : timeText(h.et, s);
             }),
    field<H>(9, "elapsed", "ELAPSED", "Chunk elapsed time",
             [](const H& h, const zdCellContext&, zdCellScratch& s) {
                 return unfinished(h) ? std::string_view() : timespanText(h.elapsed(), s);
             }),
    field<H>(10, "renderby", "RENDERED BY", "Chunk assigned host", textCell<&H::renderby>),
    field<H>(11, "result", "RESULT", "Chunk results", textCell<&H::result>),
};

const zdField<L> kLogFields[] = {
    field<L>(
        1, "type", "TYPE", "Log type",
        [](const L& l, const zdCellContext& c, zdCellScratch& s) {
            return coded(l.type, zdProtocol::kLogTypes, c.constants, s);
        },
        kCoded),
    field<L>(2, "time", "TIME", "Log time", textCell<&L::time>),
    field<L>(3, "ip", "IP", "Log source IP", textCell<&L::ip>),
    field<L>(4, "host", "HOST", "Log source host", textCell<&L::host>),
    field<L>(5, "entry", "ENTRY", "Log entry", textCell<&L::entry>),
    field<L>(6, "user", "USER", "Log source user", textCell<&L::user>),
};

const zdField<P> kPoolFields[] = {
    field<P>(1, "parent", "PARENT", "Pool name", textCell<&P::parent>),
    field<P>(2, "name", "NAME", "Node name", textCell<&P::name>),
    field<P>(3, "ip", "IP", "Node IP", textCell<&P::ip>),
};

template <typename Record, size_t N>
constexpr zdCatalogue<Record> catalogueOf(const zdField<Record> (&fields)[N], const char* kind) {
    return {fields, static_cast<int>(N), kind};
}

const int kDefaultCpuColumns[] = {2, 4, 7, 10, 3, 0};  // id, name, sst, status, os
const int kDefaultChunkColumns[] = {1, 4, 5, 2, 0};    // id, sf, ef, status
const int kDefaultPoolColumns[] = {1, 2, 3, 0};        // parent, name, ip
const int kDefaultLogColumns[] = {1, 2, 5, 0};         // type, time, entry

template <size_t N>
void setColumns(int (&columns)[kMaxColumns], const int (&defaults)[N]) {
    std::memset(columns, 0, sizeof(columns));
    std::memcpy(columns, defaults, sizeof(defaults));
}

// Parses a field list of a numbered kind into `columns`.
template <typename Record>
bool buildNumberedFormat(const char* list, const zdCatalogue<Record>& catalogue,
                         int (&columns)[kMaxColumns]) {
    char* tokens[kMaxColumns];
    int count = tokenizer(list, tokens);
    int parsed[kMaxColumns] = {0};
    bool ok = count > 0;
    for (int i = 0; ok && i < count; ++i) {
        const zdField<Record>* found = catalogue.Find(std::string_view(tokens[i]));
        if (!found) {
            zdError("\nInvalid %s format: %s\n", catalogue.kind, tokens[i]);
            ok = false;
        } else {
            parsed[i] = found->number;
        }
    }
    deallocatetokens(count, tokens);
    if (ok) std::memcpy(columns, parsed, sizeof(parsed));
    return ok;
}

std::unordered_map<int, std::string> templateNames;

template <typename Record>
zdColumns<Record> numberedColumns(const zdCatalogue<Record>& catalogue, const int* numbers) {
    zdColumns<Record> result;
    for (int i = 0; i < kMaxColumns - 1 && numbers[i] != 0; ++i) {
        const zdField<Record>* found = catalogue.Find(numbers[i]);
        result.columns.push_back({found, -1});
        if (found)
            result.heads.push_back({found->header, found->underline, found->minWidth});
        else
            result.heads.push_back({std::string(), 0, 0});
    }
    return result;
}

}  // namespace

const zdCatalogue<jobentry> jobCatalogue = catalogueOf(kJobFields, "job");
const zdCatalogue<cpuentry> cpuCatalogue = catalogueOf(kCpuFields, "cpu");
const zdCatalogue<chunkentry> chunkCatalogue = catalogueOf(kChunkFields, "chunk");
const zdCatalogue<logentry> logCatalogue = catalogueOf(kLogFields, "log");
const zdCatalogue<poolentry> poolCatalogue = catalogueOf(kPoolFields, "pool");

std::vector<std::string> jobColumns;
int cpuColumns[kMaxColumns];
int chunkColumns[kMaxColumns];
int poolColumns[kMaxColumns];
int logColumns[kMaxColumns];

void setDefaultJobColumns() {
    jobColumns = {"id",     "name",     "type",     "pktype",  "engine",
                  "status", "progress", "priority", "requeued"};
}

void resetColumnLists() {
    setDefaultJobColumns();
    setColumns(cpuColumns, kDefaultCpuColumns);
    setColumns(chunkColumns, kDefaultChunkColumns);
    setColumns(poolColumns, kDefaultPoolColumns);
    setColumns(logColumns, kDefaultLogColumns);
}

// The numbered lists start out at their defaults; the job list waits for main.
[[maybe_unused]] static const bool columnsInitialised = [] {
    setColumns(cpuColumns, kDefaultCpuColumns);
    setColumns(chunkColumns, kDefaultChunkColumns);
    setColumns(poolColumns, kDefaultPoolColumns);
    setColumns(logColumns, kDefaultLogColumns);
    return true;
}();

bool buildJobFormat(const char* list) {
    char* tokens[kMaxColumns];
    int count = tokenizer(list, tokens);
    if (count == 0) return false;
    jobColumns.assign(tokens, tokens + count);
    deallocatetokens(count, tokens);
    return true;
}

bool buildCpuFormat(const char* list) {
    return buildNumberedFormat(list, cpuCatalogue, cpuColumns);
}
bool buildChunkFormat(const char* list) {
    return buildNumberedFormat(list, chunkCatalogue, chunkColumns);
}
bool buildLogFormat(const char* list) {
    return buildNumberedFormat(list, logCatalogue, logColumns);
}
bool buildPoolFormat(const char* list) {
    return buildNumberedFormat(list, poolCatalogue, poolColumns);
}

// ---- Coded values ----

std::string_view templateName(int uid) {
    auto found = templateNames.find(uid);
    if (found != templateNames.end()) return found->second;
    using ZRFramework::ZRTemplateManager::zrTemplateManager;
    ZRFramework::ZRTemplateManager::zrTemplateEntry* entry =
        zrTemplateManager::GetUniqueClass()->GetTemplate(uid);
    return templateNames.emplace(uid, entry ? entry->GetName() : std::string()).first->second;
}

void forgetTemplateNames() {
    templateNames.clear();
}

namespace {

// A coded field's cell for a bare value, through the field's own accessor; other fields give
// the number.
template <typename Record>
std::string resolved(const zdField<Record>* found, const Record& record, int value,
                     bool constants) {
    zdCellScratch scratch;
    if (!found || found->cellKind != zdCellKind::kCoded) return std::string(number(value, scratch));
    zdCellContext context;
    context.constants = constants;
    context.engineName = templateName;
    return std::string(found->cell(record, context, scratch));
}

}  // namespace

std::string ResolveJobCostant(const char* keyword, int value, bool constants) {
    jobentry job;
    job.type = job.pktype = job.status = job.engine = value;
    return resolved(jobCatalogue.Find(std::string_view(keyword)), job, value, constants);
}

std::string ResolveCpuCostant(int field, int value, bool constants) {
    cpuentry node;
    node.os = node.status = value;
    return resolved(cpuCatalogue.Find(field), node, value, constants);
}

std::string ResolveChunkCostant(int field, int value, bool constants) {
    chunkentry chunk;
    chunk.status = value;
    return resolved(chunkCatalogue.Find(field), chunk, value, constants);
}

std::string ResolveLogCostant(int field, int value, bool constants) {
    logentry log;
    log.type = value;
    return resolved(logCatalogue.Find(field), log, value, constants);
}

std::string getJobHeader(const std::string& keyword) {
    const zdField<jobentry>* found = jobCatalogue.Find(std::string_view(keyword));
    return found ? found->header : keyword;
}

// ---- The columns of one listing ----

zdColumns<jobentry> jobColumnsOf(const std::vector<std::string>& keywords) {
    zdColumns<jobentry> result;
    for (const std::string& keyword : keywords) {
        const zdField<jobentry>* found = jobCatalogue.Find(std::string_view(keyword));
        const char* attribute = found ? found->attribute : keyword.c_str();
        int slot = -1;
        if (attribute) {
            size_t at = 0;
            while (at < result.attributeKeys.size() && result.attributeKeys[at] != attribute)
                ++at;
            if (at == result.attributeKeys.size()) result.attributeKeys.emplace_back(attribute);
            slot = static_cast<int>(at);
        }
        result.columns.push_back({found, slot});
        const std::string header = getJobHeader(keyword);
        const int length = static_cast<int>(header.size());
        result.heads.push_back({header, length, length});
    }
    return result;
}

zdColumns<cpuentry> cpuColumnsOf(const int* numbers) {
    return numberedColumns(cpuCatalogue, numbers);
}
zdColumns<chunkentry> chunkColumnsOf(const int* numbers) {
    return numberedColumns(chunkCatalogue, numbers);
}
zdColumns<poolentry> poolColumnsOf(const int* numbers) {
    return numberedColumns(poolCatalogue, numbers);
}
zdColumns<logentry> logColumnsOf(const int* numbers) {
    return numberedColumns(logCatalogue, numbers);
}

void jobAttributeValues(const jobentry& job, const std::vector<std::string>& keys,
                        std::string& decoded, std::vector<std::string_view>& values) {
    values.assign(keys.size(), std::string_view());
    if (keys.empty() || !zdProtocol::DecodeBase64(job.attributeBlock, decoded)) return;
    // The decoded text ends at its first NUL, as a C string would.
    const std::string_view text(decoded.data(), std::char_traits<char>::length(decoded.c_str()));
    zdProtocol::ForEachPropertyGroup(text, [&](std::string_view name, std::string_view value,
                                               std::string_view, std::string_view) {
        // A present attribute is never null, even when its value line is missing.
        if (!value.data()) value = std::string_view("", 0);
        for (size_t k = 0; k < keys.size(); ++k)
            if (keys[k] == name) values[k] = value;
    });
}
