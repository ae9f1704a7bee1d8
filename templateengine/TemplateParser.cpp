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

#include "TextDigest.h"
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

// A stack of plain values that lives inside the parser until it outgrows it, so that a
// template of ordinary size costs no allocation for the parser's own bookkeeping.
template <typename T, size_t N>
class SmallStack {
public:
    SmallStack() = default;
    SmallStack(const SmallStack&) = delete;
    SmallStack& operator=(const SmallStack&) = delete;

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    T* Data() { return data_; }
    T& operator[](size_t index) { return data_[index]; }
    T& Back() { return data_[size_ - 1]; }
    void Push(const T& value) {
        Reserve(1);
        data_[size_++] = value;
    }
    void Pop() { --size_; }
    void Truncate(size_t size) { size_ = size; }
    // Room for `more` values past the end; the pointer is valid until the next growth.
    T* Reserve(size_t more) {
        if (capacity_ - size_ < more) Grow(size_ + more);
        return data_ + size_;
    }
    void Grow(size_t needed) {
        const size_t capacity = std::max(needed, 2 * capacity_);
        std::unique_ptr<T[]> grown(new T[capacity]);
        std::copy(data_, data_ + size_, grown.get());
        heap_ = std::move(grown);
        data_ = heap_.get();
        capacity_ = capacity;
    }
    void Resize(size_t size) { size_ = size; }

private:
    T inline_[N];
    std::unique_ptr<T[]> heap_;
    T* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = N;
};

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
    TemplateParser(const char* text, size_t length)
        : text_(text), end_(text + length), loadEnd_(end_), digest_(text) {}
    ~TemplateParser() {
        // Blocks still open after an error belong to nobody else.
        for (size_t i = 0; i < open_.Size(); ++i)
            delete open_[i].block;
    }

    // Reads every line and checks the mandatory content; the UID comes back beside the entry and
    // the MD5 text of the whole text in md5.
    std::unique_ptr<zrTemplateEntry> Run(const char* fileName, int* uid, char (&md5)[33]) {
        entry_ = std::make_unique<zrTemplateEntry>();
        entry_->SetFileName(fileName);
        const char* line = text_;
        const bool anyCr = std::memchr(text_, '\r', static_cast<size_t>(end_ - text_)) != nullptr;
        while (true) {
            digest_.Advance(line);
#if defined(__SSE2__)
            if (!anyCr && end_ - line >= kWindowReach) {
                if (const char* next = ShortLines(line)) {
                    line = next;
                    continue;
                }
            }
#endif
            bool hasCr = false;
            const char* lineFeed = FindLineFeed(line, &hasCr);
            HandleLine(line, lineFeed ? lineFeed : end_, hasCr);
            if (lineNumber_ < INT_MAX) ++lineNumber_;
            if (!lineFeed || lineFeed + 1 == end_) break;
            line = lineFeed + 1;
        }
        *uid = CheckMandatoryContent();
        digest_.Finish(end_, md5);
        return std::move(entry_);
    }

private:
    // An item read into bytes_ whose block is still open: its layout there is the item's own.
    struct PendingItem {
        size_t offset;
        size_t size;
        size_t nameLength;
        int valueCount;
        int kind;
    };
    struct OpenBlock {
        zrTemplateBlock* block;
        size_t firstItem;
        size_t firstByte;
    };

    int Line() const {
        return lineNumber_;
    }

    // The next LF at or after p, or null; notes whether a CR comes before it. Lines are short,
    // so a call to memchr for each costs more than the search itself.
    const char* FindLineFeed(const char* p, bool* hasCr) const {
#if defined(__SSE2__)
        const __m128i lineFeed = _mm_set1_epi8('\n');
        const __m128i carriageReturn = _mm_set1_epi8('\r');
        while (end_ - p >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int feeds = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lineFeed));
            const int returns = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, carriageReturn));
            if (feeds) {
                const int at = __builtin_ctz(static_cast<unsigned>(feeds));
                if (returns & ((1 << at) - 1)) *hasCr = true;
                return p + at;
            }
            if (returns) *hasCr = true;
            p += 16;
        }
#endif
        for (; p < end_; ++p) {
            if (*p == '\n') return p;
            if (*p == '\r') *hasCr = true;
        }
        return nullptr;
    }

#if defined(__SSE2__)
    // Most lines are short: one window of 64 bytes yields, as bit masks, the line's end and the
    // spaces, quotes and escapes that split its tokens, so each token costs a few bit operations
    // instead of a walk over its bytes. Reads reach up to kWindowReach bytes from the line start.
    static constexpr ptrdiff_t kWindowReach = 80;

    static uint64_t Mask64(const __m128i (&chunks)[4], char c) {
        const __m128i wanted = _mm_set1_epi8(c);
        uint64_t mask = 0;
        for (int i = 0; i < 4; ++i)
            mask |= static_cast<uint64_t>(
                        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunks[i], wanted))))
                    << (16 * i);
        return mask;
    }

    // Bit i set when an odd number of quotes stands at or before i: inside quotes.
    static uint64_t InsideQuotes(uint64_t quotes) {
        for (int shift = 1; shift < 64; shift *= 2)
            quotes ^= quotes << shift;
        return quotes;
    }

    static uint64_t Below(unsigned bit) {
        return (uint64_t{1} << bit) - 1;
    }

    // Copies n bytes, up to 15 more read and written: both sides have room for that.
    static void CopyWide(char* out, const char* from, size_t n) {
        for (size_t i = 0; i < n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    }

    // The bytes of one window that split lines and tokens.
    struct WindowMasks {
        uint64_t spaces;
        uint64_t quotes;
        uint64_t escapes;
    };

    // Handles every line that starts at or after `window` and ends within its 64 bytes; returns
    // where the next line starts, or null (nothing done) when the first line is longer. Called
    // only for texts without CR.
    const char* ShortLines(const char* window) {
        __m128i chunks[4];
        for (int i = 0; i < 4; ++i)
            chunks[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * i));
        uint64_t feeds = Mask64(chunks, '\n');
        if (!feeds) return nullptr;
        const WindowMasks masks{Mask64(chunks, ' '), Mask64(chunks, '"'), Mask64(chunks, '\\')};
        unsigned start = 0;
        while (feeds) {
            const auto length = static_cast<unsigned>(__builtin_ctzll(feeds));
            feeds &= feeds - 1;
            ShortLine(window, start, length, masks);
            if (lineNumber_ < INT_MAX) ++lineNumber_;
            start = length + 1;
        }
        return window + start;
    }

    // The line on [first, length) of the window.
    void ShortLine(const char* window, unsigned first, unsigned length, const WindowMasks& masks) {
        while (first < length && IsLeadingBlank(window[first]))
            ++first;
        if (first == length) return;
        const StatementKind* kind = nullptr;
        switch (window[first]) {
            case 'S':
                if (StartsWith(window + first, window + length, "SET", 3)) kind = &kSet;
                break;
            case 'M':
                if (StartsWith(window + first, window + length, "MAP", 3)) kind = &kMap;
                break;
            case 'A':
                if (StartsWith(window + first, window + length, "ADD", 3)) kind = &kAdd;
                break;
            default:
                break;
        }
        if (!kind || !ShortStatement(*kind, window, first + 3, length, masks))
            HandleCleanLine(window + first, window + length);
    }

    // A statement on [begin, end) of the window; false (nothing done) when it needs the full
    // tokenizer: escapes, an odd number of quotes, or quotes other than around a whole value.
    bool ShortStatement(const StatementKind& kind, const char* window, unsigned begin, unsigned end,
                        const WindowMasks& masks) {
        if (!Current()) return false;
        const uint64_t spaces = masks.spaces;
        const uint64_t text = ~spaces & Below(end) & ~Below(begin);
        if (!text) return false;
        // Leading and trailing spaces are not part of the statement.
        begin = static_cast<unsigned>(__builtin_ctzll(text));
        end = 64 - static_cast<unsigned>(__builtin_clzll(text));
        const uint64_t range = Below(end) & ~Below(begin);
        if (masks.escapes & range) return false;
        const uint64_t quotes = masks.quotes & range;
        const uint64_t inside = InsideQuotes(quotes);
        if (inside >> 63) return false;  // an odd number of quotes: one is left open
        uint64_t separators = spaces & range & ~inside;

        char* const start = bytes_.Reserve(kWindowReach);
        char* out = start;
        unsigned to = separators ? static_cast<unsigned>(__builtin_ctzll(separators)) : end;
        CopyWide(out, window + begin, to - begin);  // the name keeps its quotes
        out += to - begin;
        const auto nameLength = static_cast<size_t>(out - start);
        int valueCount = 0;
        while (separators) {
            const unsigned from = static_cast<unsigned>(__builtin_ctzll(separators)) + 1;
            separators &= separators - 1;
            to = separators ? static_cast<unsigned>(__builtin_ctzll(separators)) : end;
            unsigned at = from, size = to - from;
            const uint64_t quoted = quotes & Below(to) & ~Below(from);
            if (quoted) {
                if (size < 2 || quoted != ((uint64_t{1} << from) | (uint64_t{1} << (to - 1))))
                    return false;
                ++at;
                size -= 2;
            }
            *out++ = static_cast<char>(size);  // below 64: a length of one byte
            CopyWide(out, window + at, size);
            out += size;
            ++valueCount;
        }
        Push(kind, start, out, nameLength, valueCount);
        return true;
    }
#endif

    void Push(const StatementKind& kind, const char* start, const char* out, size_t nameLength,
              int valueCount) {
        const auto size = static_cast<size_t>(out - start);
        items_.Push({bytes_.Size(), size, nameLength, valueCount, kind.kind});
        bytes_.Resize(bytes_.Size() + size);
        awaitingBrace_ = false;
    }

    void HandleLine(const char* begin, const char* end, bool hasCr) {
        while (begin < end && IsLeadingBlank(*begin))
            ++begin;
        if (hasCr) {
            while (end > begin && end[-1] == '\r')
                --end;
            if (std::memchr(begin, '\r', static_cast<size_t>(end - begin))) {
                // A CR inside the line: rare enough to pay for a copy. Reads stay inside it.
                cleaned_.clear();
                for (const char* p = begin; p < end; ++p)
                    if (*p != '\r') cleaned_ += *p;
                loadEnd_ = cleaned_.data() + cleaned_.size();
                HandleCleanLine(cleaned_.data(), loadEnd_);
                loadEnd_ = end_;
                return;
            }
        }
        HandleCleanLine(begin, end);
    }

    void HandleCleanLine(const char* begin, const char* end) {
        if (begin == end) return;
        switch (*begin) {
            case '#':
                return;
            case '{':
                OpenBrace();
                return;
            case '}':
                CloseBrace();
                return;
            case 'D':
                if (StartsWith(begin, end, "DECLARE", 7)) return Declare(begin, end);
                break;
            case 'S':
                if (StartsWith(begin, end, "SET", 3)) return Statement(kSet, begin + 3, end);
                break;
            case 'M':
                if (StartsWith(begin, end, "MAP", 3)) return Statement(kMap, begin + 3, end);
                break;
            case 'A':
                if (StartsWith(begin, end, "ADD", 3)) return Statement(kAdd, begin + 3, end);
                break;
            default:
                break;
        }
        if (depth_ > 0)
            Fail("Invalid statement on template line %d. Should contain a MAP/SET/ADD statement",
                 Line());
        Fail("Invalid statement on template line %d. Should contain a DECLARE statement", Line());
    }

    // Copies the plain bytes from p up to the first stop byte or `end` to out, and returns where
    // it stopped. Tokenizing is most of the parser's work, so 16 bytes are tested and copied at
    // a time where the processor allows; out has room for 16 bytes past what it receives.
    const char* CopyPlain(const char* p, const char* end, char*& out, bool quoted) const {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i escape = _mm_set1_epi8('\\');
        const __m128i space = _mm_set1_epi8(quoted ? '"' : ' ');
        while (loadEnd_ - p >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chunk);
            const __m128i hits = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, escape)),
                _mm_cmpeq_epi8(chunk, space));
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
            const auto left = static_cast<size_t>(end - p);
            if (left < 16) mask |= 1u << left;
            if (mask) {
                const unsigned at = static_cast<unsigned>(__builtin_ctz(mask));
                out += at;
                return p + at;
            }
            p += 16;
            out += 16;
        }
#endif
        const bool* stops = quoted ? kStops.inQuotes : kStops.stop;
        while (p < end && !stops[static_cast<unsigned char>(*p)])
            *out++ = *p++;
        return p;
    }

    // Splits one token off [cursor, end) into out exactly as the quote-aware ExtractToken does
    // with the separator " " and the quote '"', but moves a cursor instead of erasing the front
    // of a string, so a long line costs linear time. False at the end or on an open quote; out
    // then holds whatever was copied.
    bool CopyToken(const char*& cursor, const char* end, char*& out, bool keepQuotes) const {
        if (cursor == end) return false;
        const char* p = cursor;
        bool inQuotes = false;
        while (true) {
            p = CopyPlain(p, end, out, inQuotes);
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
        cursor = p;
        return true;
    }

    // Room for everything the tokens of [begin, end) can be rewritten into, with the lengths in
    // front of values and the slack that 16-byte copies need.
    static size_t RoomFor(const char* begin, const char* end) {
        const auto length = static_cast<size_t>(end - begin);
        return length + length / 32 + 64;
    }

    void Declare(const char* begin, const char* end) {
        // The first token is the keyword as written, the second the name, quotes kept.
        char* const start = bytes_.Reserve(RoomFor(begin, end));
        char* out = start;
        const bool keyword = CopyToken(begin, end, out, true);
        out = start;
        if (!keyword || !CopyToken(begin, end, out, true) || out == start)
            Fail("No name specified in declaration on line %d", Line());
        auto* block = new zrTemplateBlock(std::string(start, out), Current());
        open_.Push({block, items_.Size(), bytes_.Size()});
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
        // A block joins its parent only when it is closed; its items are moved in now, each list
        // allocated once at its final size.
        const OpenBlock closing = open_.Back();
        std::unique_ptr<zrTemplateBlock> block(closing.block);
        open_.Pop();
        MoveItemsInto(*block, closing.firstItem);
        items_.Truncate(closing.firstItem);
        bytes_.Truncate(closing.firstByte);
        if (open_.Empty())
            entry_->AddBlock(std::move(block));
        else
            open_.Back().block->AddBlock(std::move(block));
        awaitingBrace_ = false;
    }

    void MoveItemsInto(zrTemplateBlock& block, size_t first) {
        size_t counts[3] = {};
        for (size_t i = first; i < items_.Size(); ++i)
            ++counts[items_[i].kind];
        for (int kind = 0; kind < 3; ++kind)
            if (counts[kind]) block.ItemList(kind).reserve(counts[kind]);
        const char* bytes = bytes_.Data();
        for (size_t i = first; i < items_.Size(); ++i) {
            const PendingItem& pending = items_[i];
            block.ItemList(pending.kind)
                .emplace_back()
                .Assign(bytes + pending.offset, pending.size, pending.nameLength,
                        pending.valueCount, true);
        }
    }

    void Statement(const StatementKind& kind, const char* begin, const char* end) {
        if (!Current()) Fail("%s statement outside DECLARE block in line %d", kind.keyword, Line());
        while (begin < end && *begin == ' ')
            ++begin;
        while (end > begin && end[-1] == ' ')
            --end;
        char* const start = bytes_.Reserve(RoomFor(begin, end));
        char* out = start;
        if (!CopyToken(begin, end, out, true) || out == start)
            Fail("Found an empty %s statement in line %d", kind.keyword, Line());
        const auto nameLength = static_cast<size_t>(out - start);
        int valueCount = 0;
        while (true) {
            // Room for a length of one byte; a value of 128 bytes or more moves up for more.
            char* length = out++;
            if (!CopyToken(begin, end, out, false)) {
                out = length;
                break;
            }
            const auto size = static_cast<size_t>(out - length - 1);
            if (size < 0x80) {
                *length = static_cast<char>(size);
            } else {
                char prefix[10];
                size_t used = 0;
                for (size_t rest = size;; rest >>= 7) {
                    prefix[used++] = static_cast<char>((rest & 0x7f) | (rest > 0x7f ? 0x80 : 0));
                    if (rest <= 0x7f) break;
                }
                std::memmove(length + used, length + 1, size);
                std::memcpy(length, prefix, used);
                out += used - 1;
            }
            ++valueCount;
        }
        Push(kind, start, out, nameLength, valueCount);
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

    zrTemplateBlock* Current() {
        return open_.Empty() ? nullptr : open_.Back().block;
    }

    const char* text_;
    const char* end_;
    // How far 16-byte reads may go: the text's end, or a cleaned copy's.
    const char* loadEnd_;
    std::unique_ptr<zrTemplateEntry> entry_;
    // Declared blocks not closed yet, outermost first; the last is the current block.
    SmallStack<OpenBlock, 16> open_;
    // The items of the open blocks and their bytes, innermost block's last.
    SmallStack<PendingItem, 64> items_;
    SmallStack<char, 4096> bytes_;
    bool awaitingBrace_ = false;
    int depth_ = 0;
    int lineNumber_ = 1;
    std::string cleaned_;
    TextDigest digest_;
};

zrTemplateEntry* zrTemplateManager::Parse(const char* text, const char* fileName, bool replace,
                                          bool registerTemplate) {
    if (!text) text = "";
    const size_t length = std::strlen(text);
    int uid = 0;
    char md5[33];
    std::unique_ptr<zrTemplateEntry> entry =
        TemplateParser(text, length).Run(fileName ? fileName : "", &uid, md5);

    zrTemplateEntry* result = entry.get();
    if (registerTemplate) {
        Register(std::move(entry), uid, replace, text, length, md5);
    } else {
        entry->SetTemplateContent(text, length, md5);
        entry.release();  // the caller's now
    }
    return result;
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
