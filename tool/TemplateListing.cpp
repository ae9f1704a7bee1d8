// Template list and submission-field dump, read from the template manager.
#include "TemplateListing.h"

#include "CommandLine.h"

using ZRFramework::ZRTemplateManager::kTemplateItemAdd;
using ZRFramework::ZRTemplateManager::kTemplateItemMap;
using ZRFramework::ZRTemplateManager::zrTemplateBlock;
using ZRFramework::ZRTemplateManager::zrTemplateBlockEntry;
using ZRFramework::ZRTemplateManager::zrTemplateEntry;
using ZRFramework::ZRTemplateManager::zrTemplateItemIterator;
using ZRFramework::ZRTemplateManager::zrTemplateListIterator;
using ZRFramework::ZRTemplateManager::zrTemplateManager;

namespace {

constexpr const char* kSubmission = "SUBMISSION";
// Where an ADD item of SUBMISSION keeps its marks: MANDATORY|OPTIONAL, then ACTIVABLE|FIXED.
constexpr int kTypeValue = 0;
constexpr int kMandatoryValue = 4;
constexpr int kActivableValue = 5;

std::string valueAt(const zrTemplateBlockEntry& item, int index) {
    std::string value;
    item.GetString(value, index);
    return value;
}

// The name of the first MAP item whose first value is exactly `field`.
std::string mappingOf(zrTemplateBlock* block, const std::string& field) {
    zrTemplateItemIterator it;
    zrTemplateBlockEntry* item = nullptr;
    for (bool more = block->GetFirstItem(&it, kTemplateItemMap, &item); more;
         more = block->GetNextItem(&it, kTemplateItemMap, &item)) {
        std::string value;
        if (item->GetString(value, 0) && value == field) return item->GetName();
    }
    return std::string();
}

}  // namespace

std::string templateListText(zrTemplateManager* manager) {
    std::string text;
    if (nHeaders) text += "UID\tNAME\n---\t----\n";
    zrTemplateListIterator it;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&it); entry;
         entry = manager->GetNextTemplate(&it)) {
        text += std::to_string(entry->GetUID()) + "\t" + entry->GetName() + "\n";
    }
    text += "\n";
    return text;
}

std::string templateFieldsText(zrTemplateManager* manager, int uid) {
    zrTemplateEntry* entry = manager->GetTemplate(uid);
    if (!entry) return "Invalid template ID\n";
    std::string text;
    if (nHeaders) {
        text += "FIELD\tMAP\tTYPE\tACTIVABLE\tMANDATORY\n";
        text += "-----\t---\t----\t---------\t---------\n";
    }
    zrTemplateBlock* block = entry->GetBlockByName(kSubmission);
    if (!block) return text + "\n";
    zrTemplateItemIterator it;
    zrTemplateBlockEntry* add = nullptr;
    for (bool more = block->GetFirstItem(&it, kTemplateItemAdd, &add); more;
         more = block->GetNextItem(&it, kTemplateItemAdd, &add)) {
        const std::string field = add->GetName();
        // The first item of a repeated name speaks for every one of them.
        zrTemplateBlockEntry* item = entry->GetItem(kSubmission, field.c_str(), kTemplateItemAdd);
        if (!item) continue;
        text += field + "\t" + mappingOf(block, field) + "\t" + valueAt(*item, kTypeValue) + "\t" +
                valueAt(*item, kActivableValue) + "\t" + valueAt(*item, kMandatoryValue) + "\t\n";
    }
    return text + "\n";
}

void dumpTemplates() {
    _zdprintf(1, "%s", templateListText(zrTemplateManager::GetUniqueClass()).c_str());
}

void dumpTemplateFields(int uid) {
    _zdprintf(1, "%s", templateFieldsText(zrTemplateManager::GetUniqueClass(), uid).c_str());
}
