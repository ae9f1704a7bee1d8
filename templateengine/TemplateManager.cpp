// TemplateManager: the registered templates in descending UID order with a UID index beside
// them, hashes maps (building, text form, differences) and the SUBMISSION field mapping.
#include "ZRTemplateManager.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>

namespace ZRFramework {
namespace ZRTemplateManager {

namespace {

zrTemplateManager* _unique_class = nullptr;

void FreeRecords(zrTemplateHashesMap& map) {
    for (auto& record : map)
        delete record.second;
    map.clear();
}

// Every caller appends in ascending UID order, so the hint makes each insert constant time.
void AppendCopy(zrTemplateHashesMap& map, int uid, const zrTemplateHash* record) {
    map.emplace_hint(map.end(), uid, new zrTemplateHash(*record));
}

// Moves `from` into `to` after freeing what `to` held; records already in `to` win.
void Deliver(zrTemplateHashesMap& from, zrTemplateHashesMap* to, bool freeFirst) {
    if (!to) {
        FreeRecords(from);
        return;
    }
    if (freeFirst) FreeRecords(*to);
    for (auto& record : from)
        if (!to->emplace(record.first, record.second).second) delete record.second;
    from.clear();
}

std::string ResolveMapping(int uid, std::string field) {
    zrTemplateEntry* entry = zrTemplateManager::GetUniqueClass()->GetTemplate(uid);
    if (!entry) return field;
    zrTemplateBlock* submission = entry->GetBlockByName("SUBMISSION");
    if (!submission) return field;
    zrTemplateItemIterator position;
    zrTemplateBlockEntry* item = nullptr;
    for (bool more = submission->GetFirstItem(&position, kTemplateItemMap, &item); more;
         more = submission->GetNextItem(&position, kTemplateItemMap, &item)) {
        const std::string name = item->GetName();
        std::string value;
        if (entry->GetString("SUBMISSION", name.c_str(), kTemplateItemMap, value, 0) &&
            value == field)
            return name;
    }
    return field;
}

// Hands out the index's nodes from blocks of many, so that a search through thousands of UIDs
// reads a compact stretch of memory instead of nodes strewn between the templates. Freed nodes
// are reused; the blocks go back with the index.
class NodeArena {
public:
    NodeArena() = default;
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    void* Take(size_t size) {
        if (nodeSize_ == 0) nodeSize_ = size;
        if (size != nodeSize_) return ::operator new(size);
        if (free_) {
            void* node = free_;
            free_ = *static_cast<void**>(node);
            return node;
        }
        if (left_ == 0) {
            blocks_.emplace_back(new char[kNodesPerBlock * size]);
            next_ = blocks_.back().get();
            left_ = kNodesPerBlock;
        }
        --left_;
        void* node = next_;
        next_ += size;
        return node;
    }
    void Give(void* node, size_t size) {
        if (size != nodeSize_) {
            ::operator delete(node);
            return;
        }
        *static_cast<void**>(node) = free_;
        free_ = node;
    }

private:
    static constexpr size_t kNodesPerBlock = 256;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t nodeSize_ = 0;
    void* free_ = nullptr;
};

template <typename T>
struct ArenaAllocator {
    using value_type = T;
    explicit ArenaAllocator(NodeArena* arena) : arena(arena) {}
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}  // NOLINT: rebinding
    T* allocate(size_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t), "blocks are aligned for any node");
        return static_cast<T*>(n == 1 ? arena->Take(sizeof(T)) : ::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) {
        if (n == 1)
            arena->Give(p, sizeof(T));
        else
            ::operator delete(p);
    }
    template <typename U>
    bool operator==(const ArenaAllocator<U>& other) const {
        return arena == other.arena;
    }
    template <typename U>
    bool operator!=(const ArenaAllocator<U>& other) const {
        return arena != other.arena;
    }
    NodeArena* arena;
};

// One UID's templates in list order: the first in the index node itself, any others beside it,
// so that finding the first costs no further read.
class UidGroup {
public:
    zrTemplateListIterator front() const { return first_; }
    void push_back(zrTemplateListIterator position) {
        if (count_++ == 0)
            first_ = position;
        else
            more_.push_back(position);
    }
    // True when the group is empty afterwards.
    bool Remove(zrTemplateListIterator position) {
        if (count_ == 0) return true;
        if (position == first_) {
            if (!more_.empty()) {
                first_ = more_.front();
                more_.erase(more_.begin());
            }
            --count_;
        } else {
            auto found = std::find(more_.begin(), more_.end(), position);
            if (found != more_.end()) {
                more_.erase(found);
                --count_;
            }
        }
        return count_ == 0;
    }
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        if (count_ == 0) return;
        fn(first_);
        for (zrTemplateListIterator position : more_)
            fn(position);
    }

private:
    zrTemplateListIterator first_{};
    size_t count_ = 0;
    std::vector<zrTemplateListIterator> more_;
};

}  // namespace

struct zrTemplateManager::UidIndex {
    using Map =
        std::map<int, UidGroup, std::less<int>, ArenaAllocator<std::pair<const int, UidGroup>>>;
    NodeArena arena;  // declared first: the map returns its nodes on destruction
    Map map{std::less<int>(), Map::allocator_type(&arena)};
};

// ---- instances ----

zrTemplateManager::zrTemplateManager()
    : lock_(ZRProcesses::CreateMutex()), index_(std::make_unique<UidIndex>()) {}

zrTemplateManager::~zrTemplateManager() {
    Clear();
    ZRProcesses::DestroyMutex(lock_);
}

zrTemplateManager* zrTemplateManager::GetUniqueClass() {
    if (!_unique_class) _unique_class = new zrTemplateManager();
    return _unique_class;
}

void zrTemplateManager::DestroyUniqueClass() {
    delete _unique_class;
    _unique_class = nullptr;
}

zrTemplateManager* zrTemplateManager::AllocateClass() {
    return new zrTemplateManager();
}

void zrTemplateManager::DestroyClass(zrTemplateManager* manager) {
    if (manager == _unique_class) _unique_class = nullptr;
    delete manager;
}

void zrTemplateManager::Lock() {
    ZRProcesses::LockMutex(lock_);
}

void zrTemplateManager::Unlock() {
    ZRProcesses::UnlockMutex(lock_);
}

// ---- the list and its index ----

zrTemplateListIterator zrTemplateManager::FindFirst(int uid) {
    auto found = index_->map.find(uid);
    return found == index_->map.end() ? templates_.end() : found->second.front();
}

void zrTemplateManager::Register(std::unique_ptr<zrTemplateEntry> entry, int uid, bool replace,
                                 const char* text, size_t length, const char (&md5)[33]) {
    // One search of the index gives the duplicate, the list position and the index slot: with
    // many templates each search costs a cache miss per level.
    auto notBelow = index_->map.lower_bound(uid);
    if (notBelow != index_->map.end() && notBelow->first == uid) {
        if (!replace)
            throw new zrTemplateException("Duplicate template UID found. Template discarded");
        Unlink(notBelow->second.front(), uid);
        notBelow = index_->map.lower_bound(uid);
    }
    zrTemplateListIterator position = templates_.end();
    // A stable sort would leave the newcomer after every template whose UID is not smaller: just
    // before the first template of the next smaller UID.
    if (sorted_ && notBelow != index_->map.begin()) position = std::prev(notBelow)->second.front();
    entry->SetTemplateContent(text, length, md5);
    zrTemplateListIterator inserted = templates_.insert(position, entry.get());
    entry.release();  // the list owns it now
    if (notBelow == index_->map.end() || notBelow->first != uid)
        notBelow = index_->map.emplace_hint(notBelow, uid, UidGroup());
    notBelow->second.push_back(inserted);
    if (!sorted_) SortByIndex();
}

// The index holds each UID's templates in list order, so rebuilding the list from it in
// descending UID order is the stable sort.
void zrTemplateManager::SortByIndex() {
    zrTemplateList ordered;
    for (auto group = index_->map.rbegin(); group != index_->map.rend(); ++group)
        group->second.ForEach([&](zrTemplateListIterator position) {
            ordered.splice(ordered.end(), templates_, position);
        });
    templates_.swap(ordered);
    sorted_ = true;
}

void zrTemplateManager::Unlink(zrTemplateListIterator position, int uid) {
    auto group = index_->map.find(uid);
    if (group != index_->map.end() && group->second.Remove(position)) index_->map.erase(group);
    delete *position;
    templates_.erase(position);
}

int zrTemplateManager::GetTemplateCount() {
    return static_cast<int>(templates_.size());
}

zrTemplateEntry* zrTemplateManager::GetTemplateAt(int index) {
    if (index < 0 || static_cast<size_t>(index) >= templates_.size()) return nullptr;
    return *std::next(templates_.begin(), index);
}

zrTemplateEntry* zrTemplateManager::GetFirstTemplate(zrTemplateListIterator* iterator) {
    if (!iterator) return nullptr;
    *iterator = templates_.begin();
    return templates_.empty() ? nullptr : **iterator;
}

zrTemplateEntry* zrTemplateManager::GetNextTemplate(zrTemplateListIterator* iterator) {
    if (!iterator || *iterator == templates_.end()) return nullptr;
    if (++*iterator == templates_.end()) return nullptr;
    return **iterator;
}

zrTemplateEntry* zrTemplateManager::GetTemplate(int uid) {
    zrTemplateListIterator found = FindFirst(uid);
    return found == templates_.end() ? nullptr : *found;
}

zrTemplateEntry* zrTemplateManager::GetTemplate(const char* name) {
    if (!name) return nullptr;
    for (zrTemplateEntry* entry : templates_)
        if (entry->GetName() == name) return entry;
    return nullptr;
}

zrTemplateEntry* zrTemplateManager::GetTemplateByFilename(const char* fileName) {
    if (!fileName) return nullptr;
    for (zrTemplateEntry* entry : templates_)
        if (entry->GetFileName() == fileName) return entry;
    return nullptr;
}

zrTemplateEntry* zrTemplateManager::GetNextTemplate(int uid) {
    auto above = index_->map.upper_bound(uid);
    return above == index_->map.end() ? nullptr : *above->second.front();
}

int zrTemplateManager::GetNextFreeUID() {
    if (index_->map.empty()) return 1;
    const int highest = index_->map.rbegin()->first;
    if (highest < 1) return 1;
    return highest == INT_MAX ? -1 : highest + 1;
}

void zrTemplateManager::UnloadTemplate(int uid) {
    zrTemplateListIterator found = FindFirst(uid);
    if (found == templates_.end()) return;
    Unlink(found, uid);
    auto record = internalHashes_.find(uid);
    if (record != internalHashes_.end()) {
        delete record->second;
        internalHashes_.erase(record);
    }
}

void zrTemplateManager::Clear() {
    // Freed from the highest address down: the allocator hands out the memory freed last first,
    // so the templates registered next are laid out in ascending order, not strewn over the heap.
    templates_.sort(std::greater<zrTemplateEntry*>());
    for (zrTemplateEntry* entry : templates_)
        delete entry;
    templates_.clear();
    index_->map.clear();
    sorted_ = true;
    FreeRecords(internalHashes_);
}

void zrTemplateManager::CopyFrom(zrTemplateManager* source) {
    // Copying a manager into itself would deadlock on its own mutex.
    if (!source || source == this) return;
    ZRProcesses::zrMutexLock destinationHold(lock_);
    ZRProcesses::zrMutexLock sourceHold(source->lock_);

    int lastUid = templates_.empty() ? INT_MAX : templates_.back()->GetUID();
    for (zrTemplateEntry* original : source->templates_) {
        auto copy = std::make_unique<zrTemplateEntry>(*original);
        const int uid = copy->GetUID();
        zrTemplateListIterator inserted = templates_.insert(templates_.end(), copy.get());
        copy.release();
        index_->map[uid].push_back(inserted);
        if (uid > lastUid) sorted_ = false;
        lastUid = uid;
    }
    for (const auto& record : source->internalHashes_) {
        if (!record.second) continue;
        auto& slot = internalHashes_[record.first];
        delete slot;
        slot = new zrTemplateHash(*record.second);
    }
}

// ---- hashes maps ----

void zrTemplateManager::MakeHashesMap(zrTemplateHashesMap* map) {
    if (!map) return;
    FreeRecords(*map);
    // The index walks the UIDs in ascending order and holds, first, the template that a walk
    // in list order meets first.
    for (const auto& group : index_->map) {
        const zrTemplateEntry* entry = *group.second.front();
        map->emplace_hint(
            map->end(), group.first,
            new zrTemplateHash(group.first, entry->GetMd5Hash(), entry->GetFileName()));
    }
}

void zrTemplateManager::FillInternalHashesMap() {
    MakeHashesMap(&internalHashes_);
}

void zrTemplateManager::UpdateHashesMapItem(zrTemplateHashesMap* map, zrTemplateEntry* entry) {
    if (!map || !entry) return;
    const int uid = entry->GetUID();
    auto& slot = (*map)[uid];
    delete slot;
    slot = new zrTemplateHash(uid, entry->GetMd5Hash(), entry->GetFileName());
}

void zrTemplateManager::DeleteHashesMap(zrTemplateHashesMap* map) {
    if (map) FreeRecords(*map);
}

std::string zrTemplateManager::MarshallHashesMap(zrTemplateHashesMap* map) {
    std::string text;
    if (!map) return text;
    text.reserve(map->size() * 64);
    char digits[16];
    for (const auto& record : *map) {
        const zrTemplateHash* hash = record.second;
        if (!hash) continue;
        const auto converted = std::to_chars(digits, digits + sizeof digits, hash->GetUID());
        text.append(digits, converted.ptr);
        text += '\t';
        text += hash->GetMd5Hash();
        text += '\t';
        text += hash->GetFileName();
        text += '\n';
    }
    return text;
}

void zrTemplateManager::UnmarshallHashesMap(zrTemplateHashesMap* map, std::string text) {
    if (!map) return;
    FreeRecords(*map);
    const char* cursor = text.data();
    const char* const end = cursor + text.size();
    std::string uidText;
    while (cursor < end) {
        const char* lineEnd =
            static_cast<const char*>(std::memchr(cursor, '\n', static_cast<size_t>(end - cursor)));
        if (!lineEnd) lineEnd = end;
        // Three fields cut at TABs; a missing one is empty, a fourth is ignored.
        const char* fields[3][2];
        const char* fieldStart = cursor;
        for (auto& field : fields) {
            const char* tab = static_cast<const char*>(
                std::memchr(fieldStart, '\t', static_cast<size_t>(lineEnd - fieldStart)));
            field[0] = fieldStart;
            field[1] = tab ? tab : lineEnd;
            fieldStart = tab ? tab + 1 : lineEnd;
        }
        uidText.assign(fields[0][0], fields[0][1]);
        const int uid = std::atoi(uidText.c_str());
        // The first line of a UID wins; lines normally come in ascending order.
        auto slot = map->lower_bound(uid);
        if (slot == map->end() || slot->first != uid)
            map->emplace_hint(slot, uid,
                              new zrTemplateHash(uid, std::string(fields[1][0], fields[1][1]),
                                                 std::string(fields[2][0], fields[2][1])));
        cursor = lineEnd == end ? end : lineEnd + 1;
    }
}

void zrTemplateManager::CalculateHashesDiffs(zrTemplateHashesMap* other,
                                             zrTemplateHashesMap* changed,
                                             zrTemplateHashesMap* removed) {
    zrTemplateHashesMap emptyMap;
    const zrTemplateHashesMap& theirs = other ? *other : emptyMap;
    const zrTemplateHashesMap& ours = internalHashes_;
    // Built aside first: an output map may be one of the inputs.
    zrTemplateHashesMap newChanged, newRemoved;

    auto their = theirs.begin();
    for (const auto& record : ours) {
        while (their != theirs.end() && their->first < record.first)
            ++their;
        if (their == theirs.end() || their->first != record.first)
            if (record.second) AppendCopy(newRemoved, record.first, record.second);
    }
    auto our = ours.begin();
    for (const auto& record : theirs) {
        const zrTemplateHash* q = record.second;
        if (!q) continue;
        while (our != ours.end() && our->first < record.first)
            ++our;
        const zrTemplateHash* p =
            our != ours.end() && our->first == record.first ? our->second : nullptr;
        if (p && p->GetMd5Hash() == q->GetMd5Hash() && p->GetFileName() == q->GetFileName())
            continue;
        AppendCopy(newChanged, record.first, q);
    }

    Deliver(newChanged, changed, true);
    Deliver(newRemoved, removed, removed != changed);
}

// ---- field mapping ----

std::string zrTemplateManager::ResolveMappingToJob(int uid, std::string field) {
    return ResolveMapping(uid, std::move(field));
}

std::string zrTemplateManager::ResolveMappingToTemplate(int uid, std::string field) {
    return ResolveMapping(uid, std::move(field));
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
