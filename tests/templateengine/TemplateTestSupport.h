// Helpers shared by the template engine tests: owned managers, template texts, parse outcomes.
#ifndef ZD_TESTS_TEMPLATETESTSUPPORT_H
#define ZD_TESTS_TEMPLATETESTSUPPORT_H

#include <memory>
#include <string>

#include "ZRTemplateEngine.h"

namespace zdtest {

using ZRFramework::ZRTemplateManager::zrTemplateEntry;
using ZRFramework::ZRTemplateManager::zrTemplateException;
using ZRFramework::ZRTemplateManager::zrTemplateManager;

struct ManagerDeleter {
    void operator()(zrTemplateManager* manager) const { zrTemplateManager::DestroyClass(manager); }
};
using ManagerPtr = std::unique_ptr<zrTemplateManager, ManagerDeleter>;

inline ManagerPtr NewManager() {
    return ManagerPtr(zrTemplateManager::AllocateClass());
}

// A valid template of the given UID and logic; `extra` is appended as further lines.
inline std::string MinimalTemplate(int uid, const std::string& logic = "SINGLE",
                                   const std::string& extra = "") {
    return "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME \"Template " + std::to_string(uid) +
           "\"\nSET TEMPLATE_DESC \"A test template\"\nSET TEMPLATE_UID " + std::to_string(uid) +
           "\nSET TEMPLATE_LOGIC " + logic + "\n}\nDECLARE " + logic + "\n{\nSET COMMAND run\n}\n" +
           extra;
}

// The template wrapped around statement lines, with a valid identity block after them.
inline std::string WithBlock(const std::string& blockName, const std::string& lines) {
    return "DECLARE " + blockName + "\n{\n" + lines + "\n}\n" + MinimalTemplate(1);
}

struct ParseOutcome {
    std::unique_ptr<zrTemplateEntry> entry;  // set when parsed without registering
    zrTemplateEntry* registered = nullptr;   // set when parsed with registering
    std::string error;                       // the exception's text, empty on success
    bool failed = false;
};

inline ParseOutcome Parse(zrTemplateManager* manager, const std::string& text,
                          const char* fileName = "test.template", bool replace = false,
                          bool registerTemplate = false) {
    ParseOutcome outcome;
    try {
        zrTemplateEntry* entry = manager->Parse(text.c_str(), fileName, replace, registerTemplate);
        if (registerTemplate)
            outcome.registered = entry;
        else
            outcome.entry.reset(entry);
    } catch (zrTemplateException* error) {
        outcome.failed = true;
        outcome.error = error->GetErrorString();
        error->Delete();
    }
    return outcome;
}

// Registers a template and returns it; null (and the message in *error) on failure.
inline zrTemplateEntry* Register(zrTemplateManager* manager, const std::string& text,
                                 const char* fileName = "test.template", bool replace = false,
                                 std::string* error = nullptr) {
    ParseOutcome outcome = Parse(manager, text, fileName, replace, true);
    if (error) *error = outcome.error;
    return outcome.registered;
}

}  // namespace zdtest

#endif
