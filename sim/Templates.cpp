// The template catalogue: template files parsed into an independent manager, and the hashes
// map and texts that zdsim serves from them.
#include "Templates.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "ZRTemplateManager.h"

namespace zdsim {

using ZRFramework::ZRTemplateManager::zrTemplateManager;

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

TemplateCatalogue::TemplateCatalogue() : manager_(zrTemplateManager::AllocateClass()) {}

TemplateCatalogue::~TemplateCatalogue() {
    zrTemplateManager::DestroyClass(manager_);
}

bool TemplateCatalogue::Add(const std::string& text, const std::string& fileName,
                            std::string& error) {
    ZRFramework::ZRTemplateManager::zrTemplateEntry* entry = nullptr;
    try {
        entry = manager_->Parse(text.c_str(), fileName.c_str(), false, true);
    } catch (ZRFramework::ZRTemplateManager::zrTemplateException* e) {
        error = e->GetErrorString();
        e->Delete();
        return false;
    }
    if (entry == nullptr) {
        error = "the parser returned no template";
        return false;
    }
    ServedTemplate served;
    served.uid = entry->GetUID();
    served.name = entry->GetName();
    served.fileName = entry->GetFileName();
    if (entry->GetTemplateContent() != nullptr)
        served.text.assign(entry->GetTemplateContent(), entry->GetTemplateContentSize());
    templates_[served.uid] = std::move(served);

    manager_->FillInternalHashesMap();
    hashes_ = manager_->MarshallHashesMap(manager_->GetInternalHashesMap());
    return true;
}

bool TemplateCatalogue::LoadFolder(const std::string& folder, std::vector<std::string>& skipped,
                                   std::string& error) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (dir == nullptr) {
        error = folder + ": cannot be read";
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (EndsWith(name, ".template")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        std::ostringstream text;
        if (in) text << in.rdbuf();
        if (!in || in.bad()) {
            skipped.push_back(name + ": cannot be read");
            continue;
        }
        std::string why;
        if (!Add(text.str(), name, why)) skipped.push_back(name + ": " + why);
    }
    return true;
}

const ServedTemplate* TemplateCatalogue::Find(int uid) const {
    auto it = templates_.find(uid);
    return it == templates_.end() ? nullptr : &it->second;
}

}  // namespace zdsim
