// The job templates zdsim distributes: parsed by an independent template manager, kept as the
// exact texts, names and file names that the template conversation serves.
#ifndef ZDSIM_TEMPLATES_H
#define ZDSIM_TEMPLATES_H

#include <map>
#include <string>
#include <vector>

namespace ZRFramework {
namespace ZRTemplateManager {
class zrTemplateManager;
}
}  // namespace ZRFramework

namespace zdsim {

struct ServedTemplate {
    int uid = 0;
    std::string name;
    std::string fileName;
    std::string text;  // exactly the bytes the MD5 of the hashes map covers
};

// Filled once before serving, then only read; not locked.
class TemplateCatalogue {
public:
    TemplateCatalogue();
    ~TemplateCatalogue();
    TemplateCatalogue(const TemplateCatalogue&) = delete;
    TemplateCatalogue& operator=(const TemplateCatalogue&) = delete;

    // Parses and registers one template under `fileName`. False with the parser's message when
    // it does not parse or its UID is taken.
    bool Add(const std::string& text, const std::string& fileName, std::string& error);
    // Adds every "*.template" file of `folder` in name order. Files that cannot be read or parsed
    // are skipped with one line each in `skipped`. False only when the folder cannot be read.
    bool LoadFolder(const std::string& folder, std::vector<std::string>& skipped,
                    std::string& error);

    const ServedTemplate* Find(int uid) const;
    size_t Count() const { return templates_.size(); }
    // One "UID\tMD5\tfile name\n" line per template, ascending UID, as the manager writes it.
    const std::string& HashesMap() const { return hashes_; }

private:
    ZRFramework::ZRTemplateManager::zrTemplateManager* manager_;
    std::map<int, ServedTemplate> templates_;
    std::string hashes_;
};

}  // namespace zdsim

#endif
