// Fuzzes the hashes-map text: reading any text, the write/read round trip, and the differences
// between two maps read from the two halves of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ZRTemplateEngine.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SameRecord(const zrTemplateHash* a, const zrTemplateHash* b) {
    return a->GetUID() == b->GetUID() && a->GetMd5Hash() == b->GetMd5Hash() &&
           a->GetFileName() == b->GetFileName();
}

bool SameMap(const zrTemplateHashesMap& a, const zrTemplateHashesMap& b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || !SameRecord(i->second, j->second)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zrTemplateManager* manager = zrTemplateManager::AllocateClass();

    zrTemplateHashesMap read, again, changed, removed;
    manager->UnmarshallHashesMap(&read, text);
    for (const auto& record : read) {
        Check(record.first == record.second->GetUID());
        Check(record.second->GetMd5Hash().find_first_of("\t\n") == std::string::npos);
        Check(record.second->GetFileName().find_first_of("\t\n") == std::string::npos);
    }
    const std::string written = manager->MarshallHashesMap(&read);
    Check(written.empty() || written.back() == '\n');
    manager->UnmarshallHashesMap(&again, written);
    Check(SameMap(read, again));
    Check(manager->MarshallHashesMap(&again) == written);

    // Our side from the first half, theirs from the second.
    const size_t half = size / 2;
    zrTemplateHashesMap* ours = manager->GetInternalHashesMap();
    manager->UnmarshallHashesMap(ours, text.substr(0, half));
    manager->UnmarshallHashesMap(&again, text.substr(half));
    manager->CalculateHashesDiffs(&again, &changed, &removed);
    for (const auto& record : *ours) {
        const auto theirs = again.find(record.first);
        Check((theirs == again.end()) == (removed.count(record.first) == 1));
        if (theirs == again.end()) continue;
        const bool differs = record.second->GetMd5Hash() != theirs->second->GetMd5Hash() ||
                             record.second->GetFileName() != theirs->second->GetFileName();
        Check(changed.count(record.first) == (differs ? 1u : 0u));
    }
    for (const auto& record : changed) {
        const auto theirs = again.find(record.first);
        Check(theirs != again.end() && SameRecord(record.second, theirs->second));
    }
    for (const auto& record : again)
        if (ours->count(record.first) == 0) Check(changed.count(record.first) == 1);

    for (zrTemplateHashesMap* map : {&read, &again, &changed, &removed})
        manager->DeleteHashesMap(map);
    zrTemplateManager::DestroyClass(manager);
    return 0;
}
