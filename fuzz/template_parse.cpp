// Fuzzes the template parser: unregistered and registered parses of the input into an
// independent manager, and the statement tokenizer against the framework's ExtractToken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZRStringHelper.h"
#include "ZRTemplateEngine.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Runs a parse; false when it threw, with the message in *message (the error is released).
bool TryParse(zrTemplateManager* manager, const std::string& text, bool replace, bool doRegister,
              zrTemplateEntry** result, std::string* message = nullptr) {
    try {
        *result = manager->Parse(text.c_str(), "fuzz.template", replace, doRegister);
        return true;
    } catch (zrTemplateException* error) {
        Check(error->GetErrorString() != nullptr);
        if (message) *message = error->GetErrorString();
        error->Delete();
        return false;
    }
}

// The first line of the input as the operands of a SET statement must split exactly as
// ExtractToken splits it.
void CompareTokenizer(const std::string& text, zrTemplateManager* manager) {
    std::string line = text.substr(0, text.find('\n'));
    std::string rest;
    for (char c : line)
        if (c != '\r') rest += c;
    const std::string document = "DECLARE B\n{\nSET " + rest + "\n}\n";

    ZRFramework::ZRStringHelper::TrimLeft(rest);
    ZRFramework::ZRStringHelper::TrimRight(rest);
    std::string name, value;
    const bool named = ZRFramework::ZRStringHelper::ExtractToken(rest, name, " ", "\"", false);
    std::vector<std::string> values;
    while (ZRFramework::ZRStringHelper::ExtractToken(rest, value, " ", "\"", true))
        values.push_back(value);

    // Without an identity block this never succeeds; only the statement's own error matters.
    zrTemplateEntry* entry = nullptr;
    std::string message;
    Check(!TryParse(manager, document, false, false, &entry, &message));
    const bool emptyStatement = message == "Found an empty SET statement in line 3";
    Check(emptyStatement == (!named || name.empty()));
    if (emptyStatement) return;

    // A valid template around the same statement shows what was stored.
    const std::string valid = document +
                              "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME n\nSET TEMPLATE_DESC d\n"
                              "SET TEMPLATE_UID 1\nSET TEMPLATE_LOGIC SINGLE\n}\n"
                              "DECLARE SINGLE\n{\n}\n";
    Check(TryParse(manager, valid, false, false, &entry));
    zrTemplateBlock* block = entry->GetBlockByName("B");
    Check(block && block->GetItemList(kTemplateItemSet)->size() == 1);
    const zrTemplateBlockEntry& item = block->GetItemList(kTemplateItemSet)->front();
    Check(item.GetName() == name);
    Check(item.GetValues() == values);
    delete entry;
}

// Everything an entry holds but its text, file name and hash, as one string.
void Dump(zrTemplateBlock* block, std::string* out) {
    *out += "{" + block->GetName();
    for (int kind = kTemplateItemSet; kind <= kTemplateItemAdd; ++kind) {
        *out += "|" + std::to_string(kind);
        for (const zrTemplateBlockEntry& item : *block->GetItemList(kind)) {
            *out += "[" + item.GetName();
            for (const std::string& value : item.GetValues())
                *out += "," + std::to_string(value.size()) + ":" + value;
            *out += "]";
        }
    }
    zrTemplateBlockIterator nested;
    for (zrTemplateBlock* child = block->GetFirstBlock(&nested); child;
         child = block->GetNextBlock(&nested))
        Dump(child, out);
    *out += "}";
}

std::string Outcome(zrTemplateManager* manager, const std::string& text) {
    zrTemplateEntry* entry = nullptr;
    std::string result;
    if (!TryParse(manager, text, false, false, &entry, &result)) return "error " + result;
    zrTemplateBlockIterator top;
    for (zrTemplateBlock* block = entry->GetFirstBlock(&top); block;
         block = entry->GetNextBlock(&top))
        Dump(block, &result);
    delete entry;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool replace = data[0] & 1;
    // The parser reads a NUL-terminated text: everything after a NUL is never seen.
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string visible = text.substr(0, std::strlen(text.c_str()));

    zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    zrTemplateEntry* loose = nullptr;
    const bool parsed = TryParse(manager, text, replace, false, &loose);
    Check(manager->GetTemplateCount() == 0);
    if (parsed) {
        Check(loose->GetUID() >= 1);
        Check(loose->GetTemplateContentSize() == visible.size());
        Check(std::memcmp(loose->GetTemplateContent(), visible.data(), visible.size()) == 0);
        // The parser hashes block by block as it reads; the whole text in one piece must agree.
        zrTemplateEntry whole;
        whole.SetTemplateContent(visible.data(), visible.size());
        Check(loose->GetMd5Hash() == whole.GetMd5Hash());
        delete loose;
    }

    // Any CR sends lines through the byte-by-byte reader: with every LF after a CR the text must
    // read exactly as it does through the fast one, errors and their line numbers included.
    std::string crlf;
    for (char c : visible)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Check(Outcome(manager, visible) == Outcome(manager, crlf));

    zrTemplateEntry* registered = nullptr;
    Check(TryParse(manager, text, replace, true, &registered) == parsed);
    Check(manager->GetTemplateCount() == (parsed ? 1 : 0));
    if (parsed) {
        const int uid = registered->GetUID();
        Check(manager->GetTemplate(uid) == registered);
        // Again: replaced with replace, rejected without; one template either way.
        zrTemplateEntry* again = nullptr;
        Check(TryParse(manager, text, replace, true, &again) == replace);
        Check(manager->GetTemplateCount() == 1);
        manager->FillInternalHashesMap();
        zrTemplateHashesMap back;
        manager->UnmarshallHashesMap(&back,
                                     manager->MarshallHashesMap(manager->GetInternalHashesMap()));
        Check(back.size() == 1 && back.count(uid) == 1);
        manager->DeleteHashesMap(&back);
    }

    CompareTokenizer(visible, manager);
    zrTemplateManager::DestroyClass(manager);
    return 0;
}
