// Ordered map of named text values, each flagged as specified and for path substitution.
#ifndef ZRFRAMEWORK_PROPERTYMAP_H
#define ZRFRAMEWORK_PROPERTYMAP_H

#include <memory>
#include <string>

#include "ZRFrameworkExport.h"

namespace ZRFramework {

struct ZRFRAMEWORK_API item_attr {
    std::string name;
    std::string value;
    bool specified = false;
    bool pathSubstitution = false;
};

struct item_attr_node;

class ZRFRAMEWORK_API zrPropertyMap_Iterator {
public:
    zrPropertyMap_Iterator() = default;
    explicit zrPropertyMap_Iterator(item_attr_node* position) : position_(position) {}
    zrPropertyMap_Iterator operator++();
    bool operator!=(const zrPropertyMap_Iterator& other) const {
        return position_ != other.position_;
    }
    item_attr operator*() const;

private:
    item_attr_node* position_ = nullptr;
};

class ZRFRAMEWORK_API zrPropertyMap {
public:
    zrPropertyMap();
    ~zrPropertyMap();
    zrPropertyMap(const zrPropertyMap&) = delete;
    zrPropertyMap& operator=(const zrPropertyMap&) = delete;

    void Clear();
    bool IsEmpty();
    int GetSize();
    // Clears this map first, so copying a map into itself empties it.
    void Copy(zrPropertyMap* source);
    zrPropertyMap_Iterator Begin();
    zrPropertyMap_Iterator End();

    void SetString(const char* name, std::string value, bool specified, bool pathSubstitution);
    void SetInt(const char* name, int value, bool specified);
    void SetInt64(const char* name, long long value, bool specified);
    void SetLong(const char* name, long value, bool specified);
    void SetTimet(const char* name, long* value, bool specified);
    void SetBool(const char* name, bool value, bool specified);
    void SetFloat(const char* name, float value, bool specified);

    // Each getter returns false and leaves its outputs untouched when the name is absent.
    bool GetString(const char* name, std::string& value, bool* specified, bool* pathSubstitution);
    bool GetInt(const char* name, int& value, bool* specified);
    bool GetIn64(const char* name, long long& value, bool* specified);
    bool GetLong(const char* name, long& value, bool* specified);
    bool GetTimet(const char* name, long& value, bool* specified);
    bool GetBool(const char* name, bool& value, bool* specified);
    bool GetFloat(const char* name, float& value, bool* specified);

private:
    item_attr_node* Find(const char* name) const;
    void Store(const char* name, std::string text, bool specified, bool pathSubstitution);
    void Append(item_attr attr);

    // Each node owns its successor; tail_ only points into the chain.
    std::unique_ptr<item_attr_node> head_;
    item_attr_node* tail_ = nullptr;
};

}  // namespace ZRFramework

#endif
