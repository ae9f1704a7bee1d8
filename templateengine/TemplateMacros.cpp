// TemplateMacros: %ATTR, %ISACTIVE and %ISNACTIVE expansion against a job's attributes, one
// macro per step, in time that grows with the text produced rather than with its square.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZRLogger.h"
#include "ZRRuntime.h"
#include "ZRTemplateMacros.h"
#include "ZRTemplateManager.h"

namespace ZRFramework {
namespace ZRTemplateManager {

namespace {

// The text may not grow past this; an expansion that would is refused as a whole.
constexpr size_t kMaxOutput = 16u << 20;
// Bytes written and indexed over one resolution, however much of them later expansions remove
// again; it bounds the work of any expansion, one that never settles included.
constexpr uint64_t kMaxWork = uint64_t{1} << 30;

constexpr uint32_t kNoClose = UINT32_MAX;

enum Kind { kActive, kInactive, kAttribute, kKinds };

struct Prefix {
    const char* text;
    size_t length;
};
// In the order they are chosen, whatever their positions in the text.
constexpr Prefix kPrefixes[kKinds] = {{"%ISACTIVE(", 10}, {"%ISNACTIVE(", 11}, {"%ATTR(", 6}};
constexpr size_t kLongestPrefix = 11;

bool HasMacro(const std::string& text) {
    for (const Prefix& prefix : kPrefixes)
        if (text.find(prefix.text) != std::string::npos) return true;
    return false;
}

constexpr const char* kSource = "ZRTemplateEngine";

void ReportTooLarge() {
    ZRLogger::AddLogEntry(GetDefaultLogger(), 1, kSource,
                          "[%s:%d]Macro expansion stopped: the text would grow past %zu bytes or "
                          "take more than %llu bytes of work\n",
                          "./templateengine/TemplateMacros", __LINE__, kMaxOutput,
                          static_cast<unsigned long long>(kMaxWork));
}

// Where a byte of text came from: the original text (node 0), or the value of an attribute
// expanded at some node, as a tree. A macro whose bytes all come from the expansion of one
// attribute and that names that attribute again can only reproduce itself.
class Origins {
public:
    Origins() { nodes_.push_back({0, 0, 0}); }

    uint32_t Child(uint32_t parent, uint32_t name) {
        const uint64_t key = uint64_t{parent} << 32 | name;
        auto found = children_.find(key);
        if (found != children_.end()) return found->second;
        const auto node = static_cast<uint32_t>(nodes_.size());
        nodes_.push_back({parent, name, nodes_[parent].depth + 1});
        children_.emplace(key, node);
        return node;
    }

    uint32_t Common(uint32_t a, uint32_t b) const {
        while (nodes_[a].depth > nodes_[b].depth)
            a = nodes_[a].parent;
        while (nodes_[b].depth > nodes_[a].depth)
            b = nodes_[b].parent;
        while (a != b) {
            a = nodes_[a].parent;
            b = nodes_[b].parent;
        }
        return a;
    }

    // Calls visit(name) for every attribute on the way from `node` up to the original text.
    template <typename Visit>
    void ForEachName(uint32_t node, Visit visit) const {
        for (; node != 0; node = nodes_[node].parent)
            visit(nodes_[node].name);
    }

private:
    struct Node {
        uint32_t parent;
        uint32_t name;
        uint32_t depth;
    };
    std::vector<Node> nodes_;
    std::unordered_map<uint64_t, uint32_t> children_;
};

// A text with the questions an expansion step asks answered at once: where each prefix occurs
// and which parenthesis closes each opening one. `origin` holds one node per byte, or is empty
// when every byte shares the node of the expansion that reads it.
struct Source {
    std::string text;
    std::vector<uint32_t> origin;
    std::vector<uint32_t> starts[kKinds];
    std::vector<uint32_t> closes;  // per byte; kNoClose for all but matched '('

    void Index() {
        for (auto& list : starts)
            list.clear();
        closes.assign(text.size(), kNoClose);
        std::vector<uint32_t> open;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '(') {
                open.push_back(static_cast<uint32_t>(i));
            } else if (c == ')' && !open.empty()) {
                closes[open.back()] = static_cast<uint32_t>(i);
                open.pop_back();
            } else if (c == '%') {
                for (int k = 0; k < kKinds; ++k)
                    if (text.compare(i, kPrefixes[k].length, kPrefixes[k].text) == 0)
                        starts[k].push_back(static_cast<uint32_t>(i));
            }
        }
    }

    // The first occurrence of prefix `kind` lying wholly inside [from, to), or kNoClose.
    uint32_t First(int kind, size_t from, size_t to) const {
        const auto& list = starts[kind];
        auto at = std::lower_bound(list.begin(), list.end(), static_cast<uint32_t>(from));
        if (at == list.end() || *at + kPrefixes[kind].length > to) return kNoClose;
        return *at;
    }
};

// A run of one source's bytes, as an expansion step hands them out.
struct Piece {
    const Source* source;
    size_t begin;
    size_t end;
    uint32_t node;  // for sources without per-byte origins
};

// Splits the name off a condition's inner part as ExtractToken does with a space separator and
// stripped double quotes: the name, and where the rest begins. An unterminated quote gives an
// empty name and leaves the whole part as the rest.
size_t SplitName(const std::string& text, size_t begin, size_t end, std::string& name) {
    name.clear();
    std::string collected;
    bool quoted = false;
    size_t i = begin;
    while (i < end) {
        const char c = text[i];
        if (c == ' ' && !quoted) {
            ++i;
            break;
        }
        if (c == '\\' && i + 1 < end) {
            const char next = text[i + 1];
            collected += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            i += 2;
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else
            collected += c;
        ++i;
    }
    if (quoted) return begin;
    name.swap(collected);
    return i;
}

// The state of one substitution: the attributes looked up so far, with their values indexed,
// the origin tree, and the work done.
class Expander {
public:
    explicit Expander(zrPropertyMap* attributes) : attributes_(attributes) {}

    // One step of the given source's range, as subst_macro defines it: the first-chosen macro
    // replaced by its value or text, itself expanded by one step, and so on inward; a reference
    // to an attribute whose expansion produced the reference expands to nothing. The result is
    // appended to `out` as pieces, in order. False when the work bound is passed.
    bool Step(const Source& first, size_t begin, size_t end, std::vector<Piece>& out);

    uint64_t work = 0;
    Origins origins;

private:
    struct Attribute {
        uint32_t id;
        bool active;
        Source value;
    };

    Attribute& Find(const std::string& name);
    uint32_t MacroOrigin(const Source& source, size_t begin, size_t end, uint32_t node) const;
    void MarkPath(uint32_t node);
    void ClearMarks();

    zrPropertyMap* attributes_;
    std::unordered_map<std::string, std::unique_ptr<Attribute>> byName_;
    std::vector<Attribute*> byId_;
    std::vector<char> onPath_;  // by attribute id: expanding it produced the current macro
    std::vector<uint32_t> marked_;
    std::vector<Piece> tails_;
    bool reported_ = false;
};

Expander::Attribute& Expander::Find(const std::string& name) {
    auto found = byName_.find(name);
    if (found != byName_.end()) return *found->second;
    auto attribute = std::make_unique<Attribute>();
    attribute->id = static_cast<uint32_t>(byId_.size());
    bool specified = false;
    attribute->active =
        attributes_ != nullptr &&
        attributes_->GetString(name.c_str(), attribute->value.text, &specified, nullptr) &&
        specified;
    if (attribute->active) {
        work += attribute->value.text.size();
        attribute->value.Index();
    } else {
        attribute->value.text.clear();
    }
    byId_.push_back(attribute.get());
    onPath_.push_back(0);
    return *byName_.emplace(name, std::move(attribute)).first->second;
}

uint32_t Expander::MacroOrigin(const Source& source, size_t begin, size_t end,
                               uint32_t node) const {
    if (source.origin.empty()) return node;
    uint32_t common = source.origin[begin];
    for (size_t i = begin + 1; i < end; ++i)
        if (source.origin[i] != common) common = origins.Common(common, source.origin[i]);
    return common;
}

void Expander::MarkPath(uint32_t node) {
    origins.ForEachName(node, [this](uint32_t id) {
        if (!onPath_[id]) {
            onPath_[id] = 1;
            marked_.push_back(id);
        }
    });
}

void Expander::ClearMarks() {
    for (uint32_t id : marked_)
        onPath_[id] = 0;
    marked_.clear();
}

bool Expander::Step(const Source& first, size_t begin, size_t end, std::vector<Piece>& out) {
    const Source* source = &first;
    uint32_t node = 0;
    bool inValues = false;  // past the first attribute: the path is marked, `node` is current
    tails_.clear();
    std::string name;
    for (;;) {
        int kind = kKinds;
        uint32_t start = kNoClose;
        for (int k = 0; k < kKinds && start == kNoClose; ++k) {
            start = source->First(k, begin, end);
            kind = k;
        }
        if (start == kNoClose) {
            out.push_back({source, begin, end, node});
            break;
        }
        const size_t open = start + kPrefixes[kind].length - 1;
        const uint32_t close = source->closes[open];
        out.push_back({source, begin, start, node});
        // Unclosed within this text: it ends where the macro starts.
        if (close == kNoClose || close >= end) break;
        tails_.push_back({source, close + 1u, end, node});

        if (kind == kAttribute) {
            name.assign(source->text, open + 1, close - open - 1);
            Attribute& attribute = Find(name);
            if (!attribute.active) break;
            const uint32_t origin = MacroOrigin(*source, start, close + 1, node);
            if (!inValues) {
                MarkPath(origin);
                inValues = true;
            }
            if (onPath_[attribute.id]) {
                if (!reported_)
                    ZRLogger::AddLogEntry(GetDefaultLogger(), 1, kSource,
                                          "%%ATTR(%s) expands into itself; the repeated "
                                          "reference expands to nothing\n",
                                          name.c_str());
                reported_ = true;
                break;
            }
            onPath_[attribute.id] = 1;
            marked_.push_back(attribute.id);
            node = origins.Child(origin, attribute.id);
            source = &attribute.value;
            begin = 0;
            end = source->text.size();
            continue;
        }

        size_t textBegin = SplitName(source->text, open + 1, close, name);
        size_t textEnd = close;
        if (textBegin < textEnd && source->text[textEnd - 1] == ')') --textEnd;
        if (textBegin < textEnd && source->text[textBegin] == '(') ++textBegin;
        if (Find(name).active != (kind == kActive)) break;
        begin = textBegin;
        end = textEnd;
    }
    for (auto tail = tails_.rbegin(); tail != tails_.rend(); ++tail)
        out.push_back(*tail);
    ClearMarks();
    return work <= kMaxWork;
}

// Appends the `count` elements that end at `last` in reverse order.
template <typename Container, typename Element>
void AppendReversed(Container& to, const Element* last, size_t count) {
    const size_t old = to.size();
    to.resize(old + count);
    auto* out = &to[0] + old;
    for (size_t i = 0; i < count; ++i)
        out[i] = *(last - 1 - i);
}

// The origins of one part's bytes as runs, the run nearest the meeting point last.
class Runs {
public:
    void Push(uint32_t node, size_t count) {
        if (count == 0) return;
        if (!runs_.empty() && runs_.back().node == node)
            runs_.back().count += count;
        else
            runs_.push_back({node, count});
    }

    // Moves the `count` bytes nearest the meeting point to the other part, nearest first.
    void MoveTo(Runs& other, size_t count) {
        while (count > 0) {
            Run& run = runs_.back();
            const size_t n = run.count < count ? run.count : count;
            other.Push(run.node, n);
            count -= n;
            if ((run.count -= n) == 0) runs_.pop_back();
        }
    }

    void Drop(size_t count) {
        while (count > 0 && !runs_.empty()) {
            Run& run = runs_.back();
            const size_t n = run.count < count ? run.count : count;
            count -= n;
            if ((run.count -= n) == 0) runs_.pop_back();
        }
    }

    // The origins of the `count` bytes nearest the meeting point, nearest first.
    void Copy(size_t count, std::vector<uint32_t>& out) const {
        out.clear();
        for (auto run = runs_.rbegin(); out.size() < count; ++run) {
            const size_t n = run->count < count - out.size() ? run->count : count - out.size();
            out.insert(out.end(), n, run->node);
        }
    }

private:
    struct Run {
        uint32_t node;
        size_t count;
    };
    std::vector<Run> runs_;
};

// The text being resolved, as two stacks that meet where the last step happened: `left_` in
// order and `right_` reversed, so that the text is left_ followed by right_ read backwards. A
// step works at the front of `right_`, and each prefix occurrence is kept by where it starts,
// ascending in the left part and by index of `right_` in the right part, so that the first
// occurrence of a kind is found at once and the stacks rarely move far.
class Text {
public:
    explicit Text(const std::string& text) {
        AppendReversed(right_, text.data() + text.size(), text.size());
        rightOrigin_.Push(0, text.size());
        IndexFront(0);
    }

    size_t Size() const { return left_.size() + right_.size(); }

    // The start of the first-chosen macro, or false when none is left.
    bool FirstMacro(size_t& start) const {
        for (int k = 0; k < kKinds; ++k) {
            if (!leftStarts_[k].empty()) {
                start = leftStarts_[k].front();
                return true;
            }
            if (!rightStarts_[k].empty()) {
                start = left_.size() + right_.size() - 1 - rightStarts_[k].back();
                return true;
            }
        }
        return false;
    }

    // Moves the meeting point to `position`; occurrences change sides, not places.
    void MoveTo(size_t position) {
        carried += position > left_.size() ? position - left_.size() : left_.size() - position;
        if (position > left_.size()) {
            const size_t keep = right_.size() - (position - left_.size());
            for (int k = 0; k < kKinds; ++k) {
                auto& from = rightStarts_[k];
                while (!from.empty() && from.back() >= keep) {
                    leftStarts_[k].push_back(left_.size() + right_.size() - 1 - from.back());
                    from.pop_back();
                }
            }
            const size_t count = right_.size() - keep;
            AppendReversed(left_, right_.data() + right_.size(), count);
            rightOrigin_.MoveTo(leftOrigin_, count);
            right_.resize(keep);
        } else if (position < left_.size()) {
            const size_t count = left_.size() - position;
            const size_t total = left_.size() + right_.size();
            for (int k = 0; k < kKinds; ++k) {
                auto& from = leftStarts_[k];
                auto first = std::lower_bound(from.begin(), from.end(), position);
                // Ascending positions are descending indexes: take them from the last one.
                for (auto at = from.end(); at != first;)
                    rightStarts_[k].push_back(total - 1 - *--at);
                from.erase(first, from.end());
            }
            AppendReversed(right_, left_.data() + left_.size(), count);
            leftOrigin_.MoveTo(rightOrigin_, count);
            left_.resize(position);
        }
    }

    // Length of the macro at the front, through its closing parenthesis; 0 when it is unclosed.
    size_t MacroLength() const {
        size_t prefix = 0;
        for (const Prefix& p : kPrefixes)
            if (FrontIs(p)) prefix = p.length;
        int depth = 1;
        for (size_t i = right_.size() - prefix; i-- > 0;) {
            if (right_[i] == '(') {
                ++depth;
            } else if (right_[i] == ')' && --depth == 0) {
                return right_.size() - i;
            }
        }
        return 0;
    }

    void CopyFront(size_t length, Source& into) const {
        into.text.clear();
        AppendReversed(into.text, right_.data() + right_.size(), length);
        rightOrigin_.Copy(length, into.origin);
    }

    // Replaces the first `length` bytes of the right part by the pieces.
    void Replace(size_t length, const std::vector<Piece>& pieces) {
        DropFront(length);
        const size_t from = right_.size();
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
            const Source& source = *piece->source;
            const size_t count = piece->end - piece->begin;
            AppendReversed(right_, source.text.data() + piece->end, count);
            if (source.origin.empty()) {
                rightOrigin_.Push(piece->node, count);
            } else {
                for (size_t i = piece->end; i-- > piece->begin;)
                    rightOrigin_.Push(source.origin[i], 1);
            }
        }
        IndexFront(from);
        Reexamine();
    }

    void DropRest() {
        DropFront(right_.size());
        Reexamine();
    }

    uint64_t carried = 0;  // bytes carried across the meeting point so far

    std::string Result() const {
        std::string result = left_;
        AppendReversed(result, right_.data() + right_.size(), right_.size());
        return result;
    }

private:
    char At(size_t position) const {
        return position < left_.size() ? left_[position]
                                       : right_[right_.size() - 1 - (position - left_.size())];
    }

    bool StartsAt(size_t index, const Prefix& prefix) const {
        if (index + 1 < prefix.length) return false;
        for (size_t k = 0; k < prefix.length; ++k)
            if (right_[index - k] != prefix.text[k]) return false;
        return true;
    }

    bool FrontIs(const Prefix& prefix) const {
        return !right_.empty() && StartsAt(right_.size() - 1, prefix);
    }

    // Records the occurrences that start among the bytes of the right part from index `from`
    // on, which were just put in front of it.
    void IndexFront(size_t from) {
        const char* data = right_.data();
        for (size_t i = from; i < right_.size(); ++i) {
            const void* found = std::memchr(data + i, '%', right_.size() - i);
            if (found == nullptr) break;
            i = static_cast<size_t>(static_cast<const char*>(found) - data);
            for (int k = 0; k < kKinds; ++k)
                if (StartsAt(i, kPrefixes[k])) rightStarts_[k].push_back(i);
        }
    }

    void DropFront(size_t length) {
        right_.resize(right_.size() - length);
        rightOrigin_.Drop(length);
        for (auto& list : rightStarts_)
            while (!list.empty() && list.back() >= right_.size())
                list.pop_back();
    }

    // After an edit at the meeting point, prefixes that start in the left part and reach into
    // the right one may have gone or appeared.
    void Reexamine() {
        const size_t from =
            left_.size() > kLongestPrefix - 1 ? left_.size() - kLongestPrefix + 1 : 0;
        for (auto& list : leftStarts_)
            while (!list.empty() && list.back() >= from)
                list.pop_back();
        for (size_t p = from; p < left_.size(); ++p) {
            if (left_[p] != '%') continue;
            for (int k = 0; k < kKinds; ++k) {
                const Prefix& prefix = kPrefixes[k];
                if (p + prefix.length > Size()) continue;
                size_t i = 0;
                while (i < prefix.length && At(p + i) == prefix.text[i])
                    ++i;
                if (i == prefix.length) leftStarts_[k].push_back(p);
            }
        }
    }

    std::string left_;
    std::string right_;
    Runs leftOrigin_;
    Runs rightOrigin_;
    std::vector<size_t> leftStarts_[kKinds];
    std::vector<size_t> rightStarts_[kKinds];
};

}  // namespace

std::string subst_macro(std::string text, zrPropertyMap* attributes) {
    if (!HasMacro(text)) return text;
    if (text.size() > kMaxWork) {
        ReportTooLarge();
        return std::string();
    }
    Expander expander(attributes);
    Source source;
    source.text.swap(text);
    source.origin.assign(source.text.size(), 0);
    source.Index();
    std::vector<Piece> pieces;
    expander.Step(source, 0, source.text.size(), pieces);
    std::string result;
    for (const Piece& piece : pieces)
        result.append(piece.source->text, piece.begin, piece.end - piece.begin);
    return result;
}

std::string zrTemplateManager::ResolveMacros(std::string text, zrPropertyMap* attributes) {
    if (!HasMacro(text)) return text;
    // A text may shrink from any size, but not grow past the bound.
    const size_t bound = text.size() > kMaxOutput ? text.size() : kMaxOutput;
    if (text.size() > kMaxWork) {
        ReportTooLarge();
        return std::string();
    }
    Expander expander(attributes);
    Text current(text);
    text.clear();
    Source macro;
    std::vector<Piece> pieces;
    size_t start = 0;
    while (current.FirstMacro(start)) {
        current.MoveTo(start);
        const size_t length = current.MacroLength();
        if (length == 0) {
            current.DropRest();
            continue;
        }
        current.CopyFront(length, macro);
        macro.Index();
        expander.work += length;
        pieces.clear();
        const bool ok = expander.Step(macro, 0, length, pieces);
        size_t added = 0;
        for (const Piece& piece : pieces)
            added += piece.end - piece.begin;
        expander.work += added + current.carried;
        current.carried = 0;
        if (!ok || expander.work > kMaxWork || current.Size() - length + added > bound) {
            ReportTooLarge();
            return std::string();
        }
        current.Replace(length, pieces);
    }
    return current.Result();
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
