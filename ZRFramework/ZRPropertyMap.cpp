// zrPropertyMap: an insertion-ordered, doubly linked list of named text values and their flags.
// Typed setters and getters convert through the string helpers.
#include "ZRPropertyMap.h"

#include <cstdlib>
#include <utility>

#include "ZRStringHelper.h"

namespace ZRFramework {

struct item_attr_node {
    item_attr attr;
    std::unique_ptr<item_attr_node> next;
    item_attr_node* prev = nullptr;
};

namespace {
// A null name is treated as the empty name rather than dereferenced.
const char* NameOrEmpty(const char* name) {
    return name ? name : "";
}
}  // namespace

zrPropertyMap_Iterator zrPropertyMap_Iterator::operator++() {
    if (position_) position_ = position_->next.get();
    return *this;
}

item_attr zrPropertyMap_Iterator::operator*() const {
    return position_ ? position_->attr : item_attr();
}

zrPropertyMap::zrPropertyMap() = default;

zrPropertyMap::~zrPropertyMap() {
    Clear();
}

void zrPropertyMap::Clear() {
    // Unlink one node at a time: letting head_ go would free the chain recursively.
    while (head_)
        head_ = std::move(head_->next);
    tail_ = nullptr;
}

bool zrPropertyMap::IsEmpty() {
    return !head_;
}

int zrPropertyMap::GetSize() {
    int size = 0;
    for (const item_attr_node* node = head_.get(); node; node = node->next.get())
        ++size;
    return size;
}

void zrPropertyMap::Copy(zrPropertyMap* source) {
    Clear();
    if (!source) return;
    // The source's names are unique already, so every entry can go straight to the end.
    for (const item_attr_node* node = source->head_.get(); node; node = node->next.get())
        Append(node->attr);
}

zrPropertyMap_Iterator zrPropertyMap::Begin() {
    return zrPropertyMap_Iterator(head_.get());
}

zrPropertyMap_Iterator zrPropertyMap::End() {
    return zrPropertyMap_Iterator();
}

item_attr_node* zrPropertyMap::Find(const char* name) const {
    const char* key = NameOrEmpty(name);
    for (item_attr_node* node = head_.get(); node; node = node->next.get())
        if (node->attr.name == key) return node;
    return nullptr;
}

void zrPropertyMap::Append(item_attr attr) {
    auto node = std::make_unique<item_attr_node>();
    node->attr = std::move(attr);
    node->prev = tail_;
    item_attr_node* added = node.get();
    if (tail_)
        tail_->next = std::move(node);
    else
        head_ = std::move(node);
    tail_ = added;
}

void zrPropertyMap::Store(const char* name, std::string text, bool specified,
                          bool pathSubstitution) {
    if (item_attr_node* node = Find(name)) {
        node->attr.value = std::move(text);
        node->attr.specified = specified;
        node->attr.pathSubstitution = pathSubstitution;
        return;
    }
    item_attr attr;
    attr.name = NameOrEmpty(name);
    attr.value = std::move(text);
    attr.specified = specified;
    attr.pathSubstitution = pathSubstitution;
    Append(std::move(attr));
}

void zrPropertyMap::SetString(const char* name, std::string value, bool specified,
                              bool pathSubstitution) {
    Store(name, std::move(value), specified, pathSubstitution);
}

void zrPropertyMap::SetInt(const char* name, int value, bool specified) {
    Store(name, ZRStringHelper::FromInt(value), specified, false);
}

void zrPropertyMap::SetInt64(const char* name, long long value, bool specified) {
    Store(name, ZRStringHelper::FromInt64(value), specified, false);
}

void zrPropertyMap::SetLong(const char* name, long value, bool specified) {
    Store(name, ZRStringHelper::FromLong(value), specified, false);
}

void zrPropertyMap::SetTimet(const char* name, long* value, bool specified) {
    // Without a time there is nothing to store.
    if (!value) return;
    Store(name, ZRStringHelper::FromInt64(static_cast<long long>(*value)), specified, false);
}

void zrPropertyMap::SetBool(const char* name, bool value, bool specified) {
    Store(name, ZRStringHelper::FromBool(value), specified, false);
}

void zrPropertyMap::SetFloat(const char* name, float value, bool specified) {
    Store(name, ZRStringHelper::FromFloat(value, 6), specified, false);
}

bool zrPropertyMap::GetString(const char* name, std::string& value, bool* specified,
                              bool* pathSubstitution) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    if (pathSubstitution) *pathSubstitution = node->attr.pathSubstitution;
    value = node->attr.value;
    return true;
}

bool zrPropertyMap::GetInt(const char* name, int& value, bool* specified) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    value = std::atoi(node->attr.value.c_str());
    return true;
}

bool zrPropertyMap::GetIn64(const char* name, long long& value, bool* specified) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    value = std::atoll(node->attr.value.c_str());
    return true;
}

bool zrPropertyMap::GetLong(const char* name, long& value, bool* specified) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    value = std::atol(node->attr.value.c_str());
    return true;
}

bool zrPropertyMap::GetTimet(const char* name, long& value, bool* specified) {
    return GetLong(name, value, specified);
}

bool zrPropertyMap::GetBool(const char* name, bool& value, bool* specified) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    value = node->attr.value != "0";
    return true;
}

bool zrPropertyMap::GetFloat(const char* name, float& value, bool* specified) {
    const item_attr_node* node = Find(name);
    if (!node) return false;
    if (specified) *specified = node->attr.specified;
    value = static_cast<float>(std::atof(node->attr.value.c_str()));
    return true;
}

}  // namespace ZRFramework
