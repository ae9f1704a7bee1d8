// TemplateObjects: the template, block, item, hash record and exception classes, their deep
// copies, path lookup and typed value reads.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "TextDigest.h"
#include "ZRStringHelper.h"
#include "ZRTemplateObjects.h"

namespace ZRFramework {
namespace ZRTemplateManager {

namespace {

bool ToBoolValue(const std::string& text) {
    return !(text.empty() || text == "0");
}

}  // namespace

// ---- zrTemplateBlockEntry ----

zrTemplateBlockEntry::zrTemplateBlockEntry(const std::string& name,
                                           const std::vector<std::string>& values)
    : zrTemplateBlockEntry(name.data(), name.size(), 0) {
    for (const std::string& value : values)
        AddValue(value.data(), value.size());
}

zrTemplateBlockEntry::zrTemplateBlockEntry(const zrTemplateBlockEntry& other) {
    *this = other;
}

zrTemplateBlockEntry& zrTemplateBlockEntry::operator=(const zrTemplateBlockEntry& other) {
    if (this == &other) return *this;
    size_ = 0;
    Append(other.data_, other.size_);
    nameLength_ = other.nameLength_;
    valueCount_ = other.valueCount_;
    return *this;
}

void zrTemplateBlockEntry::Grow(size_t needed) {
    const size_t capacity = std::max(needed, capacity_ * 2);
    char* grown = new char[capacity];
    if (size_) std::memcpy(grown, data_, size_);
    if (data_ != inline_) delete[] data_;
    data_ = grown;
    capacity_ = capacity;
}

namespace {

// Reads the length in front of a value and steps over it.
size_t ReadLength(const char*& p) {
    size_t size = 0;
    int shift = 0;
    unsigned char byte;
    do {
        byte = static_cast<unsigned char>(*p++);
        size |= static_cast<size_t>(byte & 0x7f) << shift;
        shift += 7;
    } while (byte & 0x80);
    return size;
}

}  // namespace

bool zrTemplateBlockEntry::Locate(int index, const char** value, size_t* length) const {
    if (index < 0 || index >= valueCount_) return false;
    const char* p = data_ + nameLength_;
    for (int i = 0;; ++i) {
        const size_t size = ReadLength(p);
        if (i == index) {
            *value = p;
            *length = size;
            return true;
        }
        p += size;
    }
}

std::vector<std::string> zrTemplateBlockEntry::GetValues() const {
    std::vector<std::string> values;
    values.reserve(static_cast<size_t>(valueCount_));
    const char* p = data_ + nameLength_;
    for (int i = 0; i < valueCount_; ++i) {
        const size_t size = ReadLength(p);
        values.emplace_back(p, size);
        p += size;
    }
    return values;
}

bool zrTemplateBlockEntry::GetString(std::string& out, int index) const {
    const char* value;
    size_t length;
    if (!Locate(index, &value, &length)) return false;
    out.assign(value, length);
    return true;
}

bool zrTemplateBlockEntry::GetInt(int& out, int index) const {
    std::string value;
    if (!GetString(value, index)) return false;
    out = std::atoi(value.c_str());
    return true;
}

bool zrTemplateBlockEntry::GetLong(long& out, int index) const {
    std::string value;
    if (!GetString(value, index)) return false;
    out = std::atol(value.c_str());
    return true;
}

bool zrTemplateBlockEntry::GetTime(zrTemplateTime& out, int index) const {
    std::string value;
    if (!GetString(value, index)) return false;
    out = static_cast<zrTemplateTime>(std::atoll(value.c_str()));
    return true;
}

bool zrTemplateBlockEntry::GetBool(bool& out, int index) const {
    std::string value;
    if (!GetString(value, index)) return false;
    out = ToBoolValue(value);
    return true;
}

// ---- zrTemplateBlock ----

zrTemplateBlock::zrTemplateBlock(std::string name, zrTemplateBlock* parent)
    : name_(std::move(name)), parent_(parent) {}

zrTemplateBlock::zrTemplateBlock(const zrTemplateBlock& other)
    : setItems_(other.setItems_),
      addItems_(other.addItems_),
      mapItems_(other.mapItems_),
      name_(other.name_) {
    // Level by level rather than recursively: nesting depth comes from the template text.
    std::vector<std::pair<const zrTemplateBlock*, zrTemplateBlock*>> pending{{&other, this}};
    while (!pending.empty()) {
        const auto [from, to] = pending.back();
        pending.pop_back();
        to->blocks_.reserve(from->blocks_.size());
        for (const auto& nested : from->blocks_) {
            auto copy = std::make_unique<zrTemplateBlock>(nested->name_, to);
            copy->setItems_ = nested->setItems_;
            copy->addItems_ = nested->addItems_;
            copy->mapItems_ = nested->mapItems_;
            pending.emplace_back(nested.get(), copy.get());
            to->blocks_.push_back(std::move(copy));
        }
    }
}

zrTemplateBlock& zrTemplateBlock::operator=(const zrTemplateBlock& other) {
    if (this == &other) return *this;
    // Copy first: the source may be one of the blocks that clear() is about to destroy.
    zrTemplateBlock copy(other);
    clear();
    setItems_ = std::move(copy.setItems_);
    addItems_ = std::move(copy.addItems_);
    mapItems_ = std::move(copy.mapItems_);
    blocks_ = std::move(copy.blocks_);
    for (auto& nested : blocks_)
        nested->parent_ = this;
    name_ = std::move(copy.name_);
    return *this;
}

zrTemplateBlock::~zrTemplateBlock() {
    // Nested blocks are taken apart level by level, so a deep template cannot exhaust the stack.
    zrTemplateBlockList pending = std::move(blocks_);
    while (!pending.empty()) {
        std::unique_ptr<zrTemplateBlock> block = std::move(pending.back());
        pending.pop_back();
        for (auto& nested : block->blocks_)
            pending.push_back(std::move(nested));
        block->blocks_.clear();
    }
}

std::string zrTemplateBlock::GetName() const {
    return name_;
}

zrTemplateItemList* zrTemplateBlock::GetItemList(int kind) {
    return &ItemList(kind);
}

bool zrTemplateBlock::GetFirstItem(zrTemplateItemIterator* iterator, int kind,
                                   zrTemplateBlockEntry** out) {
    if (!iterator) return false;
    zrTemplateItemList* list = GetItemList(kind);
    // Park the cursor at the end so that a GetNextItem after a false result stays false.
    *iterator = list->begin();
    if (list->empty()) return false;
    if (out) *out = &**iterator;
    return true;
}

bool zrTemplateBlock::GetNextItem(zrTemplateItemIterator* iterator, int kind,
                                  zrTemplateBlockEntry** out) {
    if (!iterator) return false;
    zrTemplateItemList* list = GetItemList(kind);
    if (*iterator == list->end()) return false;
    if (++*iterator == list->end()) return false;
    if (out) *out = &**iterator;
    return true;
}

zrTemplateBlock* zrTemplateBlock::GetFirstBlock(zrTemplateBlockIterator* iterator) {
    if (!iterator) return nullptr;
    *iterator = blocks_.begin();
    return blocks_.empty() ? nullptr : iterator->operator*().get();
}

zrTemplateBlock* zrTemplateBlock::GetNextBlock(zrTemplateBlockIterator* iterator) {
    if (!iterator || *iterator == blocks_.end()) return nullptr;
    if (++*iterator == blocks_.end()) return nullptr;
    return iterator->operator*().get();
}

zrTemplateBlock* zrTemplateBlock::GetBlockByName(const char* name) {
    if (!name) return nullptr;
    for (auto& nested : blocks_)
        if (nested->name_ == name) return nested.get();
    return nullptr;
}

void zrTemplateBlock::clear() {
    blocks_.clear();
    setItems_.clear();
    addItems_.clear();
    mapItems_.clear();
}

void zrTemplateBlock::AddItem(int kind, zrTemplateBlockEntry item) {
    zrTemplateItemList* list = GetItemList(kind);
    if (list->capacity() == 0) list->reserve(8);
    list->push_back(std::move(item));
}

void zrTemplateBlock::AddBlock(std::unique_ptr<zrTemplateBlock> block) {
    if (!block) return;
    block->parent_ = this;
    if (blocks_.capacity() == 0) blocks_.reserve(4);
    blocks_.push_back(std::move(block));
}

// ---- zrTemplateEntry ----

zrTemplateEntry::zrTemplateEntry(const zrTemplateEntry& other) {
    *this = other;
}

zrTemplateEntry& zrTemplateEntry::operator=(const zrTemplateEntry& other) {
    // Appending copies of our own blocks while walking them would never end.
    if (this == &other) return *this;
    blocks_.reserve(blocks_.size() + other.blocks_.size());
    for (const auto& block : other.blocks_) {
        auto copy = std::make_unique<zrTemplateBlock>(*block);
        blocks_.push_back(std::move(copy));
    }
    if (other.contentSize_ == 0 || !other.content_) {
        content_.reset();
        contentSize_ = 0;
    } else {
        content_.reset(new char[other.contentSize_ + 1]);
        std::memcpy(content_.get(), other.content_.get(), other.contentSize_ + 1);
        contentSize_ = other.contentSize_;
    }
    fileName_ = other.fileName_;
    std::memcpy(md5Hash_, other.md5Hash_, sizeof md5Hash_);
    return *this;
}

zrTemplateEntry::~zrTemplateEntry() = default;

std::string zrTemplateEntry::GetName() {
    std::string name;
    GetString("TEMPLATE", "TEMPLATE_NAME", kTemplateItemSet, name, 0);
    return name;
}

std::string zrTemplateEntry::GetDescription() {
    std::string description;
    GetString("TEMPLATE", "TEMPLATE_DESC", kTemplateItemSet, description, 0);
    return description;
}

int zrTemplateEntry::GetUID() {
    int uid = -1;
    GetInt("TEMPLATE", "TEMPLATE_UID", kTemplateItemSet, uid, 0);
    return uid;
}

std::string zrTemplateEntry::GetFileName() const {
    return fileName_;
}

std::string zrTemplateEntry::GetMd5Hash() const {
    return std::string(md5Hash_);
}

zrTemplateBlock* zrTemplateEntry::GetFirstBlock(zrTemplateBlockIterator* iterator) {
    if (!iterator) return nullptr;
    *iterator = blocks_.begin();
    return blocks_.empty() ? nullptr : iterator->operator*().get();
}

zrTemplateBlock* zrTemplateEntry::GetNextBlock(zrTemplateBlockIterator* iterator) {
    if (!iterator || *iterator == blocks_.end()) return nullptr;
    if (++*iterator == blocks_.end()) return nullptr;
    return iterator->operator*().get();
}

zrTemplateBlock* zrTemplateEntry::GetBlockByName(const char* name) {
    if (!name) return nullptr;
    for (auto& block : blocks_)
        if (block->name_ == name) return block.get();
    return nullptr;
}

zrTemplateBlock* zrTemplateEntry::ResolveTemplatePath(const char* path) {
    if (!path) return nullptr;
    std::string rest(path);
    std::string name;
    if (!ZRStringHelper::ExtractToken(rest, name, "/") || name.empty()) return nullptr;
    zrTemplateBlock* block = GetBlockByName(name.c_str());
    while (block && ZRStringHelper::ExtractToken(rest, name, "/"))
        block = block->GetBlockByName(name.c_str());
    return block;
}

zrTemplateItemIterator zrTemplateEntry::FindInMap(zrTemplateItemList* list, std::string name) {
    zrTemplateItemIterator it = list->begin();
    for (; it != list->end(); ++it)
        if (it->NameIs(name)) break;
    return it;
}

zrTemplateBlockEntry* zrTemplateEntry::GetItem(const char* path, const char* name, int kind) {
    if (!name) return nullptr;
    zrTemplateBlock* block = ResolveTemplatePath(path);
    if (!block) return nullptr;
    const size_t length = std::strlen(name);
    for (auto& item : *block->GetItemList(kind))
        if (item.NameIs(name, length)) return &item;
    return nullptr;
}

bool zrTemplateEntry::GetString(const char* path, const char* name, int kind, std::string& out,
                                int index) {
    const zrTemplateBlockEntry* item = GetItem(path, name, kind);
    return item && item->GetString(out, index);
}

bool zrTemplateEntry::GetInt(const char* path, const char* name, int kind, int& out, int index) {
    const zrTemplateBlockEntry* item = GetItem(path, name, kind);
    return item && item->GetInt(out, index);
}

bool zrTemplateEntry::GetLong(const char* path, const char* name, int kind, long& out, int index) {
    const zrTemplateBlockEntry* item = GetItem(path, name, kind);
    return item && item->GetLong(out, index);
}

bool zrTemplateEntry::GetTime(const char* path, const char* name, int kind, zrTemplateTime& out,
                              int index) {
    const zrTemplateBlockEntry* item = GetItem(path, name, kind);
    return item && item->GetTime(out, index);
}

bool zrTemplateEntry::GetBool(const char* path, const char* name, int kind, bool& out, int index) {
    const zrTemplateBlockEntry* item = GetItem(path, name, kind);
    return item && item->GetBool(out, index);
}

void zrTemplateEntry::AddBlock(std::unique_ptr<zrTemplateBlock> block) {
    if (!block) return;
    if (blocks_.capacity() == 0) blocks_.reserve(8);
    blocks_.push_back(std::move(block));
}

void zrTemplateEntry::SetFileName(std::string fileName) {
    fileName_ = std::move(fileName);
}

void zrTemplateEntry::SetTemplateContent(const char* text, unsigned long size) {
    if (!text) size = 0;
    char md5[33];
    TextDigest(text).Finish(text + size, md5);
    SetTemplateContent(text, size, md5);
}

void zrTemplateEntry::SetTemplateContent(const char* text, unsigned long size,
                                         const char (&md5)[33]) {
    std::memcpy(md5Hash_, md5, sizeof md5Hash_);
    if (size == 0) {
        content_.reset();
        contentSize_ = 0;
        return;
    }
    content_.reset(new char[size + 1]);
    std::memcpy(content_.get(), text, size);
    content_[size] = '\0';
    contentSize_ = size;
}

// ---- zrTemplateHash ----

zrTemplateHash::zrTemplateHash(int uid, std::string md5Hash, std::string fileName)
    : uid_(uid), md5Hash_(std::move(md5Hash)), fileName_(std::move(fileName)) {}

// ---- zrTemplateException ----

zrTemplateException::zrTemplateException(const char* message) : message_(message ? message : "") {}

void zrTemplateException::Delete() {
    delete this;
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
