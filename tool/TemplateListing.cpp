// Template list and submission-field dump, read from the template manager.
#include "TemplateListing.h"

#include <vector>

#include "CommandLine.h"
#include "RecordOutput.h"

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

using Rows = std::vector<std::vector<std::string>>;

// UID and name of every template.
Rows templateRows(zrTemplateManager* manager) {
    Rows rows;
    zrTemplateListIterator it;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&it); entry;
         entry = manager->GetNextTemplate(&it)) {
        rows.push_back({std::to_string(entry->GetUID()), entry->GetName()});
    }
    return rows;
}

// FIELD, MAP, TYPE, ACTIVABLE and MANDATORY of every ADD item of SUBMISSION.
Rows fieldRows(zrTemplateEntry* entry) {
    Rows rows;
    zrTemplateBlock* block = entry->GetBlockByName(kSubmission);
    if (!block) return rows;
    zrTemplateItemIterator it;
    zrTemplateBlockEntry* add = nullptr;
    for (bool more = block->GetFirstItem(&it, kTemplateItemAdd, &add); more;
         more = block->GetNextItem(&it, kTemplateItemAdd, &add)) {
        std::string field = add->GetName();
        // The first item of a repeated name speaks for every one of them.
        zrTemplateBlockEntry* item = entry->GetItem(kSubmission, field.c_str(), kTemplateItemAdd);
        if (!item) continue;
        std::string mapping = mappingOf(block, field);
        rows.push_back({std::move(field), std::move(mapping), valueAt(*item, kTypeValue),
                        valueAt(*item, kActivableValue), valueAt(*item, kMandatoryValue)});
    }
    return rows;
}

std::string recordText(const char* kind, std::vector<zdRecordMember> members, const Rows& rows) {
    const zdRecordStream stream(outputFormat, kind, std::move(members), nHeaders != 0);
    std::string text;
    stream.Headers(text);
    for (const std::vector<std::string>& row : rows)
        stream.Record(text, row);
    return text;
}

}  // namespace

std::string templateListText(zrTemplateManager* manager) {
    const Rows rows = templateRows(manager);
    if (streamsRecords(outputFormat))
        return recordText("template", {{"uid", true}, {"name", false}}, rows);
    std::string text;
    if (nHeaders) text += "UID\tNAME\n---\t----\n";
    for (const std::vector<std::string>& row : rows)
        text += row[0] + "\t" + row[1] + "\n";
    text += "\n";
    return text;
}

std::string templateFieldsText(zrTemplateManager* manager, int uid) {
    zrTemplateEntry* entry = manager->GetTemplate(uid);
    const bool records = streamsRecords(outputFormat);
    if (!entry) return records ? std::string() : "Invalid template ID\n";
    const Rows rows = fieldRows(entry);
    if (records) {
        return recordText("field",
                          {{"field", false},
                           {"map", false},
                           {"type", false},
                           {"activable", false},
                           {"mandatory", false}},
                          rows);
    }
    std::string text;
    if (nHeaders) {
        text += "FIELD\tMAP\tTYPE\tACTIVABLE\tMANDATORY\n";
        text += "-----\t---\t----\t---------\t---------\n";
    }
    for (const std::vector<std::string>& row : rows) {
        for (const std::string& cell : row)
            text += cell + "\t";
        text += "\n";
    }
    return text + "\n";
}

void dumpTemplates() {
    std::string text = templateListText(zrTemplateManager::GetUniqueClass());
    if (streamsRecords(outputFormat))
        writeRecordText(text);
    else
        _zdprintf(1, "%s", text.c_str());
}

void dumpTemplateFields(int uid) {
    zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
    std::string text = templateFieldsText(manager, uid);
    if (!streamsRecords(outputFormat)) {
        _zdprintf(1, "%s", text.c_str());
    } else if (!manager->GetTemplate(uid)) {
        _zdprintf(1, "Invalid template ID\n");
    } else {
        writeRecordText(text);
    }
}
