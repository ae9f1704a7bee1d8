// The template manager: parsed templates by UID, the parser's entry point, hashes maps for cache
// synchronisation, the SUBMISSION field mapping and macro resolution.
#ifndef ZRTEMPLATEENGINE_TEMPLATEMANAGER_H
#define ZRTEMPLATEENGINE_TEMPLATEMANAGER_H

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ZRFramework/ZRPropertyMap.h>
#include <ZRFramework/ZRThreads.h>

#include "ZRTemplateEngineExport.h"
#include "ZRTemplateObjects.h"

namespace ZRFramework {
namespace ZRTemplateManager {

// UID to owned record, walked in ascending UID order; DeleteHashesMap frees the records.
typedef std::map<int, zrTemplateHash*> zrTemplateHashesMap;
typedef std::list<zrTemplateEntry*> zrTemplateList;
typedef zrTemplateList::iterator zrTemplateListIterator;

class ZRTEMPLATEENGINE_API zrTemplateManager {
public:
    // The process-wide manager, created on first use. Not locked: make the first call before
    // other threads start.
    static zrTemplateManager* GetUniqueClass();
    static void DestroyUniqueClass();
    // Independent managers; DestroyClass ignores null.
    static zrTemplateManager* AllocateClass();
    static void DestroyClass(zrTemplateManager* manager);

    zrTemplateManager(const zrTemplateManager&) = delete;
    zrTemplateManager& operator=(const zrTemplateManager&) = delete;

    // Only CopyFrom locks by itself; callers sharing a manager bracket every other use.
    void Lock();
    void Unlock();

    // Parses a NUL-terminated template text (not modified). Throws zrTemplateException* on any
    // error, leaving the manager unchanged. With `registerTemplate` the manager owns the result
    // and `replace` decides whether a registered template of the same UID is dropped or the new
    // one rejected; without it the caller owns the result. Safe to call from several threads
    // at once when nothing is registered.
    zrTemplateEntry* Parse(const char* text, const char* fileName, bool replace,
                           bool registerTemplate);

    // The list is ordered by descending UID (stable among equal UIDs).
    int GetTemplateCount();
    zrTemplateEntry* GetTemplateAt(int index);
    zrTemplateEntry* GetFirstTemplate(zrTemplateListIterator* iterator);
    zrTemplateEntry* GetNextTemplate(zrTemplateListIterator* iterator);
    zrTemplateEntry* GetTemplate(int uid);
    zrTemplateEntry* GetTemplate(const char* name);
    zrTemplateEntry* GetTemplateByFilename(const char* fileName);
    // The template of the smallest UID above `uid`: the ascending walk.
    zrTemplateEntry* GetNextTemplate(int uid);
    // One above the highest UID (1 when there is none above 0); -1 when that would overflow.
    int GetNextFreeUID();
    void UnloadTemplate(int uid);
    void Clear();
    // Appends deep copies of the source's templates and copies its internal hash records.
    // Locks this manager, then the source.
    void CopyFrom(zrTemplateManager* source);

    zrTemplateHashesMap* GetInternalHashesMap() { return &internalHashes_; }
    void MakeHashesMap(zrTemplateHashesMap* map);
    void FillInternalHashesMap();
    void UpdateHashesMapItem(zrTemplateHashesMap* map, zrTemplateEntry* entry);
    void DeleteHashesMap(zrTemplateHashesMap* map);
    // One "UID\tMD5\tfile name\n" line per record, ascending UID.
    std::string MarshallHashesMap(zrTemplateHashesMap* map);
    // Empties the map, then reads the text; the first line of a UID wins.
    void UnmarshallHashesMap(zrTemplateHashesMap* map, std::string text);
    // Against the internal map: `changed` gets what `other` has new or different, `removed`
    // what exists only here.
    void CalculateHashesDiffs(zrTemplateHashesMap* other, zrTemplateHashesMap* changed,
                              zrTemplateHashesMap* removed);

    // The SUBMISSION block's MAP items of the process-wide manager's template `uid` turn a
    // value into its item name; the field comes back unchanged when nothing matches.
    std::string ResolveMappingToJob(int uid, std::string field);
    std::string ResolveMappingToTemplate(int uid, std::string field);

    // Expands %ATTR(...), %ISACTIVE(...) and %ISNACTIVE(...) against the attributes.
    std::string ResolveMacros(std::string text, zrPropertyMap* attributes);

private:
    zrTemplateManager();
    ~zrTemplateManager();

    zrTemplateListIterator FindFirst(int uid);
    // Registers a parsed entry once its text is copied in; a template of the same UID already
    // registered is dropped with `replace` and refuses the new one without.
    void Register(std::unique_ptr<zrTemplateEntry> entry, int uid, bool replace, const char* text,
                  size_t length, const char (&md5)[33]);
    void Unlink(zrTemplateListIterator position, int uid);
    void SortByIndex();

    ZRProcesses::zrMutex lock_;
    zrTemplateList templates_;
    zrTemplateHashesMap internalHashes_;
    // Beside the list: each UID's templates in list order, so lookups by UID are not scans.
    struct UidIndex;
    std::unique_ptr<UidIndex> index_;
    // False once CopyFrom has appended out of order; the next registration sorts the list.
    bool sorted_ = true;
};

}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
