// Parsed job templates: a template, its DECLARE blocks and their SET, MAP and ADD items, the
// synchronisation record of one template and the error raised by the parser.
#ifndef ZRTEMPLATEENGINE_TEMPLATEOBJECTS_H
#define ZRTEMPLATEENGINE_TEMPLATEOBJECTS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ZRTemplateEngineExport.h"

namespace ZRFramework {
namespace ZRTemplateManager {

// Item kinds select one of a block's three lists; any other value selects the SET items.
constexpr int kTemplateItemSet = 0;
constexpr int kTemplateItemMap = 1;
constexpr int kTemplateItemAdd = 2;

// Wide enough for the 64-bit values that GetTime reads on every platform.
typedef int64_t zrTemplateTime;

class zrTemplateBlock;
class TemplateParser;  // internal: fills items in place

// One SET, MAP or ADD statement: its name and the operands after it.
class ZRTEMPLATEENGINE_API zrTemplateBlockEntry {
public:
    // User-provided, so that a new item's buffer is not zeroed first.
    zrTemplateBlockEntry() {}
    explicit zrTemplateBlockEntry(const std::string& name)
        : zrTemplateBlockEntry(name.data(), name.size(), 0) {}
    zrTemplateBlockEntry(const std::string& name, const std::vector<std::string>& values);
    zrTemplateBlockEntry(const zrTemplateBlockEntry& other);
    zrTemplateBlockEntry(zrTemplateBlockEntry&& other) noexcept { *this = std::move(other); }
    zrTemplateBlockEntry& operator=(const zrTemplateBlockEntry& other);
    zrTemplateBlockEntry& operator=(zrTemplateBlockEntry&& other) noexcept {
        if (this == &other) return *this;
        if (other.data_ != other.inline_) {
            Release();
            data_ = other.data_;
            capacity_ = other.capacity_;
            other.data_ = other.inline_;
            other.capacity_ = kInline;
        } else if (other.size_) {
            std::memcpy(data_, other.data_, other.size_);  // fits in either buffer
        }
        size_ = other.size_;
        nameLength_ = other.nameLength_;
        valueCount_ = other.valueCount_;
        other.size_ = 0;
        other.nameLength_ = 0;
        other.valueCount_ = 0;
        return *this;
    }
    ~zrTemplateBlockEntry() { Release(); }

    std::string GetName() const { return std::string(data_, nameLength_); }
    int GetValueCount() const { return valueCount_; }
    // A copy of every value, in order.
    std::vector<std::string> GetValues() const;
    void AddValue(const char* value, size_t length) {
        char prefix[10];  // the length, 7 bits a byte, low bits first
        size_t used = 0;
        for (size_t rest = length;; rest >>= 7) {
            prefix[used++] = static_cast<char>((rest & 0x7f) | (rest > 0x7f ? 0x80 : 0));
            if (rest <= 0x7f) break;
        }
        Append(prefix, used);
        Append(value, length);
        ++valueCount_;
    }

    // Each getter reads the value at `index` (0 is the first operand after the name) and
    // reports whether it exists; `out` is untouched when it does not.
    bool GetString(std::string& out, int index) const;
    bool GetInt(int& out, int index) const;
    bool GetLong(long& out, int index) const;
    bool GetTime(zrTemplateTime& out, int index) const;
    // False for "0" and the empty text, true for anything else.
    bool GetBool(bool& out, int index) const;

private:
    friend class zrTemplateEntry;
    friend class TemplateParser;

    // The name, then room for about `room` bytes of values.
    zrTemplateBlockEntry(const char* name, size_t length, size_t room) {
        SetName(name, length, room);
    }
    void SetName(const char* name, size_t length, size_t room) {
        if (length + room > capacity_) Grow(length + room);
        size_ = 0;
        valueCount_ = 0;
        Append(name, length);
        nameLength_ = length;
    }
    // Takes a whole item already laid out as data_ holds it; the buffer is sized to fit. With
    // `padded`, kInline bytes can be read at `bytes` whatever the size, so a short item is
    // copied in one fixed-size move.
    void Assign(const char* bytes, size_t size, size_t nameLength, int valueCount, bool padded) {
        if (size > capacity_) {
            Release();
            data_ = new char[size];
            capacity_ = size;
        }
        if (padded && size <= kInline)
            std::memcpy(data_, bytes, kInline);
        else if (size)
            std::memcpy(data_, bytes, size);
        size_ = size;
        nameLength_ = nameLength;
        valueCount_ = valueCount;
    }
    bool NameIs(const char* name, size_t length) const {
        return length == nameLength_ && (length == 0 || std::memcmp(data_, name, length) == 0);
    }
    bool NameIs(const std::string& name) const { return NameIs(name.data(), name.size()); }
    void Append(const char* bytes, size_t length) {
        if (length == 0) return;
        if (capacity_ - size_ < length) Grow(size_ + length);
        std::memcpy(data_ + size_, bytes, length);
        size_ += length;
    }
    void Grow(size_t needed);
    void Release() {
        if (data_ != inline_) delete[] data_;
        data_ = inline_;
        capacity_ = kInline;
    }
    bool Locate(int index, const char** value, size_t* length) const;

    // The name and then each value behind its length, in one buffer. Most statements fit in
    // the object itself, so a template of a few KB costs few allocations to read and to free.
    static constexpr size_t kInline = 56;
    char* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = kInline;
    size_t nameLength_ = 0;
    int valueCount_ = 0;
    char inline_[kInline];
};

typedef std::vector<zrTemplateBlockEntry> zrTemplateItemList;
typedef zrTemplateItemList::iterator zrTemplateItemIterator;
typedef std::vector<std::unique_ptr<zrTemplateBlock>> zrTemplateBlockList;
typedef zrTemplateBlockList::iterator zrTemplateBlockIterator;

// One DECLARE block: its items and the blocks nested in it, in the order they were closed.
class ZRTEMPLATEENGINE_API zrTemplateBlock {
public:
    zrTemplateBlock() = default;
    explicit zrTemplateBlock(std::string name, zrTemplateBlock* parent = nullptr);
    // Deep copy; the copy has no parent.
    zrTemplateBlock(const zrTemplateBlock& other);
    // Replaces the lists and nested blocks with deep copies of the source's; keeps the parent.
    zrTemplateBlock& operator=(const zrTemplateBlock& other);
    ~zrTemplateBlock();

    std::string GetName() const;
    zrTemplateBlock* GetParent() const { return parent_; }

    // The kind given to GetNextItem must be the one given to GetFirstItem.
    bool GetFirstItem(zrTemplateItemIterator* iterator, int kind, zrTemplateBlockEntry** out);
    bool GetNextItem(zrTemplateItemIterator* iterator, int kind, zrTemplateBlockEntry** out);

    zrTemplateBlock* GetFirstBlock(zrTemplateBlockIterator* iterator);
    zrTemplateBlock* GetNextBlock(zrTemplateBlockIterator* iterator);
    // One level only; the first block of that exact name.
    zrTemplateBlock* GetBlockByName(const char* name);

    // Destroys the nested blocks and empties the three lists; the name stays.
    void clear();

    zrTemplateItemList* GetItemList(int kind);
    void AddItem(int kind, zrTemplateBlockEntry item);
    // Takes ownership and makes this block the nested block's parent.
    void AddBlock(std::unique_ptr<zrTemplateBlock> block);

private:
    friend class zrTemplateEntry;
    friend class TemplateParser;
    zrTemplateItemList& ItemList(int kind) {
        return kind == kTemplateItemMap   ? mapItems_
               : kind == kTemplateItemAdd ? addItems_
                                          : setItems_;
    }

    zrTemplateItemList setItems_;
    zrTemplateItemList addItems_;
    zrTemplateItemList mapItems_;
    zrTemplateBlockList blocks_;
    std::string name_;
    zrTemplateBlock* parent_ = nullptr;
};

// One parsed template: its top-level blocks, the text it was parsed from and that text's MD5.
class ZRTEMPLATEENGINE_API zrTemplateEntry {
public:
    zrTemplateEntry() = default;
    zrTemplateEntry(const zrTemplateEntry& other);
    // Appends deep copies of the source's blocks (blocks held already remain) and copies the
    // content, file name and MD5 text.
    zrTemplateEntry& operator=(const zrTemplateEntry& other);
    ~zrTemplateEntry();

    // From the SET items of block TEMPLATE: empty / -1 when absent.
    std::string GetName();
    std::string GetDescription();
    int GetUID();
    std::string GetFileName() const;
    std::string GetMd5Hash() const;
    // NUL-terminated copy of the parsed text, owned by the entry; null when empty.
    char* GetTemplateContent() { return content_.get(); }
    unsigned long GetTemplateContentSize() const { return contentSize_; }

    zrTemplateBlock* GetFirstBlock(zrTemplateBlockIterator* iterator);
    zrTemplateBlock* GetNextBlock(zrTemplateBlockIterator* iterator);
    zrTemplateBlock* GetBlockByName(const char* name);
    // "A/B" names block B nested in top-level block A; null when any name is missing.
    zrTemplateBlock* ResolveTemplatePath(const char* path);
    zrTemplateItemIterator FindInMap(zrTemplateItemList* list, std::string name);

    zrTemplateBlockEntry* GetItem(const char* path, const char* name, int kind);
    // Typed reads of the value at `index` of the first item `name` of the block at `path`;
    // the result says whether the value exists, not whether it converted.
    bool GetString(const char* path, const char* name, int kind, std::string& out, int index);
    bool GetInt(const char* path, const char* name, int kind, int& out, int index);
    bool GetLong(const char* path, const char* name, int kind, long& out, int index);
    bool GetTime(const char* path, const char* name, int kind, zrTemplateTime& out, int index);
    bool GetBool(const char* path, const char* name, int kind, bool& out, int index);

    // Building an entry (the parser uses these).
    void AddBlock(std::unique_ptr<zrTemplateBlock> block);
    void SetFileName(std::string fileName);
    // Copies `size` bytes (plus a NUL) and sets the MD5 text from exactly those bytes.
    void SetTemplateContent(const char* text, unsigned long size);

private:
    friend class zrTemplateManager;
    // As the public form, with the MD5 text of those bytes computed already.
    void SetTemplateContent(const char* text, unsigned long size, const char (&md5)[33]);

    zrTemplateBlockList blocks_;
    std::unique_ptr<char[]> content_;
    unsigned long contentSize_ = 0;
    std::string fileName_;
    // Held in place: 32 hex digits would not fit a short string and cost an allocation.
    char md5Hash_[33] = {};
};

// The synchronisation record of one template.
class ZRTEMPLATEENGINE_API zrTemplateHash {
public:
    zrTemplateHash() = default;
    zrTemplateHash(int uid, std::string md5Hash, std::string fileName);

    int GetUID() const { return uid_; }
    const std::string& GetMd5Hash() const { return md5Hash_; }
    const std::string& GetFileName() const { return fileName_; }
    void SetUID(int uid) { uid_ = uid; }
    void SetMd5Hash(std::string md5Hash) { md5Hash_ = std::move(md5Hash); }
    void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }

private:
    int uid_ = 0;
    std::string md5Hash_;
    std::string fileName_;
};

// Thrown by the parser as a heap-allocated pointer; the catcher releases it with Delete().
class ZRTEMPLATEENGINE_API zrTemplateException {
public:
    explicit zrTemplateException(const char* message);
    zrTemplateException(const zrTemplateException&) = delete;
    zrTemplateException& operator=(const zrTemplateException&) = delete;

    const char* GetErrorString() const { return message_.c_str(); }
    void Delete();

private:
    ~zrTemplateException() = default;  // heap only: released through Delete()
    std::string message_;
};

}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
