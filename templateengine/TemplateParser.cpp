// TemplateParser: the template language, read in one pass over the text, and
// zrTemplateManager::Parse, which checks the identity block, hashes the text and registers it.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ZRTemplateManager.h"
#include "ZRTemplateObjects.h"

#if defined(__GNUC__)
#define ZR_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#define ZR_NOINLINE __attribute__((noinline))
#else
#define ZR_PRINTF_LIKE
#define ZR_NOINLINE
#endif

namespace ZRFramework {
namespace ZRTemplateManager {

namespace {

// Messages keep the length they always had; each parse formats its own, so parses on several
// threads never share a buffer.
constexpr size_t kMessageSize = 2048;

[[noreturn]] ZR_PRINTF_LIKE void Fail(const char* format, ...) {
    char message[kMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    throw new zrTemplateException(message);
}

bool IsLeadingBlank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool StartsWith(const char* begin, const char* end, const char* word, size_t length) {
    return static_cast<size_t>(end - begin) >= length && std::memcmp(begin, word, length) == 0;
}

// Bytes that end a plain run of a token: the separator, the quote and the escape; inside
// quotes only the last two.
struct StopTable {
    bool stop[256] = {};
    bool inQuotes[256] = {};
    constexpr StopTable() {
        stop[static_cast<unsigned char>(' ')] = true;
        stop[static_cast<unsigned char>('"')] = true;
        stop[static_cast<unsigned char>('\\')] = true;
        inQuotes[static_cast<unsigned char>('"')] = true;
        inQuotes[static_cast<unsigned char>('\\')] = true;
    }
};
constexpr StopTable kStops;

// The first stop byte in [p, end), or end. Tokenizing is most of the parser's work, so 16 bytes
// are tested at a time where the processor allows.
inline const char* SkipPlain(const char* p, const char* end, bool quoted) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i escape = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(quoted ? '"' : ' ');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, escape)),
                         _mm_cmpeq_epi8(chunk, space));
        const int mask = _mm_movemask_epi8(hits);
        if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    const bool* stops = quoted ? kStops.inQuotes : kStops.stop;
    while (p < end && !stops[static_cast<unsigned char>(*p)])
        ++p;
    return p;
}

// One token: a range of the line when it needs no rewriting, else of the parser's scratch
// buffer, which the next rewritten token overwrites.
struct Token {
    const char* begin = nullptr;
    const char* end = nullptr;

    size_t Size() const { return static_cast<size_t>(end - begin); }
    bool Empty() const { return begin == end; }
};

// The rest of NextToken, for tokens with quotes or escapes; `p` is the first such byte. The
// rewritten text is never longer than its source, so `scratch` holds at least end - cursor.
ZR_NOINLINE bool NextRewrittenToken(const char*& cursor, const char* end, const char* p,
                                    bool keepQuotes, char* scratch, Token& token) {
    // One quoted text and nothing else needs no copy either.
    if (p == cursor && *p == '"' && !keepQuotes) {
        const char* q = SkipPlain(p + 1, end, true);
        if (q < end && *q == '"' && (q + 1 == end || q[1] == ' ')) {
            token.begin = p + 1;
            token.end = q;
            cursor = q + 1 == end ? end : q + 2;
            return true;
        }
    }
    char* out = scratch;
    std::memcpy(out, cursor, static_cast<size_t>(p - cursor));
    out += p - cursor;
    bool inQuotes = false;
    while (p < end) {
        const char* run = p;
        p = SkipPlain(p, end, inQuotes);
        std::memcpy(out, run, static_cast<size_t>(p - run));
        out += p - run;
        if (p == end) break;
        const char c = *p;
        if (c == ' ') {
            ++p;
            break;
        }
        if (c == '\\') {
            if (p + 1 < end) {
                const char next = p[1];
                *out++ = next == 'n' ? '\n' : next == 't' ? '\t' : next;
                p += 2;
            } else {
                *out++ = c;
                ++p;
            }
            continue;
        }
        inQuotes = !inQuotes;
        if (keepQuotes) *out++ = c;
        ++p;
    }
    if (inQuotes) return false;
    token.begin = scratch;
    token.end = out;
    cursor = p;
    return true;
}

// Splits one token off [cursor, end) exactly as the quote-aware ExtractToken does with the
// separator " " and the quote '"', but moves a cursor instead of erasing the front of a string,
// so a long line costs linear time. False, with nothing moved, at the end or on an open quote.
inline bool NextToken(const char*& cursor, const char* end, bool keepQuotes, char* scratch,
                      Token& token) {
    if (cursor == end) return false;
    const char* p = SkipPlain(cursor, end, false);
    if (p != end && *p != ' ')
        return NextRewrittenToken(cursor, end, p, keepQuotes, scratch, token);
    token.begin = cursor;
    token.end = p;
    cursor = p == end ? end : p + 1;
    return true;
}

struct StatementKind {
    const char* keyword;
    int kind;
};
constexpr StatementKind kSet{"SET", kTemplateItemSet};
constexpr StatementKind kMap{"MAP", kTemplateItemMap};
constexpr StatementKind kAdd{"ADD", kTemplateItemAdd};

const char* const kLogics[] = {"MULTIFRAME", "FRAMESLICING", "BROADCAST", "SINGLE"};

}  // namespace

// Reads one template text into a new entry; a friend of the block classes so that items are
// built in place.
class TemplateParser {
public:
    TemplateParser(const char* text, size_t length) : text_(text), end_(text + length) {}

    // Reads every line and checks the mandatory content; the UID comes back beside the entry.
    std::unique_ptr<zrTemplateEntry> Run(const char* fileName, int* uid) {
        entry_ = std::make_unique<zrTemplateEntry>();
        entry_->SetFileName(fileName);
        open_.reserve(8);
        const char* line = text_;
        nextCr_ = FindCr(text_);
        while (true) {
            const char* lineFeed = FindLineFeed(line);
            HandleLine(line, lineFeed ? lineFeed : end_);
            if (lineNumber_ < INT_MAX) ++lineNumber_;
            if (!lineFeed || lineFeed + 1 == end_) break;
            line = lineFeed + 1;
        }
        *uid = CheckMandatoryContent();
        return std::move(entry_);
    }

private:
    int Line() const { return lineNumber_; }

    // Lines are short, so a call to memchr for each costs more than the search itself.
    const char* FindLineFeed(const char* p) const {
#if defined(__SSE2__)
        const __m128i lineFeed = _mm_set1_epi8('\n');
        while (end_ - p >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lineFeed));
            if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
            p += 16;
        }
#endif
        return static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end_ - p)));
    }

    const char* FindCr(const char* from) const {
        const void* cr = std::memchr(from, '\r', static_cast<size_t>(end_ - from));
        return cr ? static_cast<const char*>(cr) : end_;
    }

    void HandleLine(const char* begin, const char* end) {
        while (begin < end && IsLeadingBlank(*begin))
            ++begin;
        // The position of the next CR is kept, so lines without one cost no extra scan.
        if (nextCr_ < begin) nextCr_ = FindCr(begin);
        if (nextCr_ < end) {
            while (end > begin && end[-1] == '\r')
                --end;
            nextCr_ = FindCr(begin);
            if (nextCr_ < end) {
                // A CR inside the line: rare enough to pay for a copy.
                cleaned_.clear();
                for (const char* p = begin; p < end; ++p)
                    if (*p != '\r') cleaned_ += *p;
                begin = cleaned_.data();
                end = begin + cleaned_.size();
            }
        }
        if (begin == end || *begin == '#') return;

        if (StartsWith(begin, end, "DECLARE", 7)) {
            Declare(begin, end);
        } else if (*begin == '{') {
            OpenBrace();
        } else if (*begin == '}') {
            CloseBrace();
        } else if (StartsWith(begin, end, "SET", 3)) {
            Statement(kSet, begin + 3, end);
        } else if (StartsWith(begin, end, "MAP", 3)) {
            Statement(kMap, begin + 3, end);
        } else if (StartsWith(begin, end, "ADD", 3)) {
            Statement(kAdd, begin + 3, end);
        } else if (depth_ > 0) {
            Fail("Invalid statement on template line %d. Should contain a MAP/SET/ADD statement",
                 Line());
        } else {
            Fail("Invalid statement on template line %d. Should contain a DECLARE statement",
                 Line());
        }
    }

    void Declare(const char* begin, const char* end) {
        // The first token is the keyword as written, the second the name, quotes kept.
        Token keyword, name;
        char* scratch = Scratch(begin, end);
        if (!NextToken(begin, end, true, scratch, keyword) ||
            !NextToken(begin, end, true, scratch, name) || name.Empty())
            Fail("No name specified in declaration on line %d", Line());
        open_.push_back(
            std::make_unique<zrTemplateBlock>(std::string(name.begin, name.end), Current()));
        awaitingBrace_ = true;
    }

    void OpenBrace() {
        ++depth_;
        if (!Current() || !awaitingBrace_)
            Fail("Opening bracket ({) without a declaration block in line %d", Line());
        awaitingBrace_ = false;
    }

    void CloseBrace() {
        --depth_;
        if (depth_ < 0) Fail("Invalid closing bracket (}) in line %d", Line());
        if (!Current()) Fail("Closing bracket (}) outside a declaration block in line %d", Line());
        // A block joins its parent only when it is closed.
        std::unique_ptr<zrTemplateBlock> block = std::move(open_.back());
        open_.pop_back();
        if (open_.empty())
            entry_->AddBlock(std::move(block));
        else
            open_.back()->AddBlock(std::move(block));
        awaitingBrace_ = false;
    }

    void Statement(const StatementKind& kind, const char* begin, const char* end) {
        if (!Current()) Fail("%s statement outside DECLARE block in line %d", kind.keyword, Line());
        while (begin < end && *begin == ' ')
            ++begin;
        while (end > begin && end[-1] == ' ')
            --end;
        char* scratch = Scratch(begin, end);
        Token name;
        if (!NextToken(begin, end, true, scratch, name) || name.Empty())
            Fail("Found an empty %s statement in line %d", kind.keyword, Line());
        zrTemplateItemList& list = Current()->ItemList(kind.kind);
        if (list.capacity() == 0) list.reserve(4);
        // Values take no more room than their text: each length byte replaces a separator, and
        // only a value beyond 127 bytes needs more. Short statements grow only if they must.
        const auto rest = static_cast<size_t>(end - begin);
        const size_t room = rest > 96 ? rest + 1 + rest / 128 : 0;
        zrTemplateBlockEntry& item = list.emplace_back();
        item.SetName(name.begin, name.Size(), room);
        Token value;
        if (item.Room() >= rest + 1 + rest / 128) {
            while (NextToken(begin, end, false, scratch, value))
                item.AddValueInRoom(value.begin, value.Size());
        } else {
            while (NextToken(begin, end, false, scratch, value))
                item.AddValue(value.begin, value.Size());
        }
        awaitingBrace_ = false;
    }

    // The first SET item of that name in the block, as GetItem finds it; null without a block.
    static const zrTemplateBlockEntry* FindSet(const zrTemplateBlock* block, const char* name) {
        if (!block) return nullptr;
        const size_t length = std::strlen(name);
        for (const zrTemplateBlockEntry& item : block->setItems_)
            if (item.NameIs(name, length)) return &item;
        return nullptr;
    }

    int CheckMandatoryContent() {
        const zrTemplateBlock* identity = entry_->GetBlockByName("TEMPLATE");
        auto hasValue = [identity](const char* name) {
            const zrTemplateBlockEntry* item = FindSet(identity, name);
            return item && item->GetValueCount() > 0 ? item : nullptr;
        };
        if (!hasValue("TEMPLATE_NAME"))
            Fail("Missing required SET TEMPLATE_NAME statement from TEMPLATE block");
        if (!hasValue("TEMPLATE_DESC"))
            Fail("Missing required SET TEMPLATE_DESC statement from TEMPLATE block");
        int uid = 0;
        const zrTemplateBlockEntry* uidItem = hasValue("TEMPLATE_UID");
        if (!uidItem) Fail("Missing required SET TEMPLATE_UID statement from TEMPLATE block");
        uidItem->GetInt(uid, 0);
        if (uid < 1) Fail("TEMPLATE_UID must be greather than 0");
        std::string logic;
        const zrTemplateBlockEntry* logicItem = hasValue("TEMPLATE_LOGIC");
        if (!logicItem) Fail("Missing required SET TEMPLATE_LOGIC statement from TEMPLATE block");
        logicItem->GetString(logic, 0);
        bool known = false;
        for (const char* name : kLogics)
            known = known || logic == name;
        if (!known) Fail("Unsupported TEMPLATE_LOGIC value (%s)", logic.c_str());
        if (!entry_->GetBlockByName(logic.c_str()))
            Fail("Missing %s template block", logic.c_str());
        return uid;
    }

    // Room for any token rewritten from [begin, end); grows only for a longer line than before.
    char* Scratch(const char* begin, const char* end) {
        const auto length = static_cast<size_t>(end - begin);
        if (length <= sizeof shortScratch_) return shortScratch_;
        if (scratch_.size() < length) scratch_.resize(std::max(length, 2 * scratch_.size()));
        return scratch_.data();
    }

    zrTemplateBlock* Current() const {
        return open_.empty() ? nullptr : open_.back().get();
    }

    const char* text_;
    const char* end_;
    std::unique_ptr<zrTemplateEntry> entry_;
    // Declared blocks not closed yet, outermost first; the last is the current block.
    std::vector<std::unique_ptr<zrTemplateBlock>> open_;
    bool awaitingBrace_ = false;
    int depth_ = 0;
    int lineNumber_ = 1;
    std::string cleaned_;
    std::vector<char> scratch_;
    char shortScratch_[512];
    const char* nextCr_ = nullptr;
};

zrTemplateEntry* zrTemplateManager::Parse(const char* text, const char* fileName, bool replace,
                                          bool registerTemplate) {
    if (!text) text = "";
    const size_t length = std::strlen(text);
    int uid = 0;
    std::unique_ptr<zrTemplateEntry> entry =
        TemplateParser(text, length).Run(fileName ? fileName : "", &uid);

    if (registerTemplate) {
        zrTemplateListIterator registered = FindFirst(uid);
        if (registered != templates_.end()) {
            if (!replace) Fail("Duplicate template UID found. Template discarded");
            Unlink(registered, uid);
        }
    }
    entry->SetTemplateContent(text, length);
    if (!registerTemplate) return entry.release();
    zrTemplateEntry* result = entry.get();
    Register(std::move(entry), uid);
    return result;
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
