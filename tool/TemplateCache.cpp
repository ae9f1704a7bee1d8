// The local template cache: load, compare hashes with the Dispatcher, fetch and store.
#include "TemplateCache.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "CommandLine.h"
#include "Connection.h"
#include "ZRBase64.h"
#include "ZRFileSystem.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRTemplateManager;

zrTemplateHashesMap dispatcherHashes;

namespace {

std::string inCache(const std::string& name) {
    return templatesdir + "/" + name;
}

bool endsWith(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool readWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes through a temporary file in the cache folder, so a failed write never leaves a
// truncated template behind.
bool storeTemplate(const std::string& path, const char* content, unsigned long size) {
    std::string temporary = templatesdir + "/.zdtool-XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    bool ok = true;
    for (unsigned long written = 0; ok && written < size;) {
        ssize_t n = write(fd, content + written, size - written);
        ok = n > 0;
        if (ok) written += static_cast<unsigned long>(n);
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool refuseFileName(int uid, const std::string& name) {
    if (isSafeCacheFileName(name)) return false;
    std::fprintf(stderr, "\nTemplate %d has an unsafe file name \"%s\"; it is left alone.\n", uid,
                 name.c_str());
    return true;
}

void moveVanishedTemplates(zrTemplateManager* manager, zrTemplateHashesMap& removed) {
    ZRFileSystem::MakeDirectory(templatesdir + "/.unused", true);
    for (auto& [uid, record] : removed) {
        const std::string& name = record->GetFileName();
        if (refuseFileName(uid, name)) continue;
        ZRFileSystem::MoveFile(inCache(name), templatesdir + "/.unused/" + name);
        manager->UnloadTemplate(uid);
    }
}

enum class Fetch { kDone, kRefused, kConnectionLost, kStreamingFailure };

// Requests one template and replaces the loaded copy with it.
Fetch fetchTemplate(zrTemplateManager* manager, int uid) {
    sendMsg(zdCode::kTemplateRequest, std::to_string(uid));
    if (!waitForMsg(zdCode::kTemplate)) return Fetch::kConnectionLost;
    int receivedUid = std::atoi(getstringline(rcvargs, 1).c_str());
    std::string newName = getstringline(rcvargs, 3);
    std::string encoded = getstringline(rcvargs, 4);
    if (refuseFileName(receivedUid, newName)) return Fetch::kRefused;

    char* decoded = nullptr;
    if (!ZRBase64::DecodeAlloc(encoded.data(), encoded.size(), &decoded, nullptr)) {
        return Fetch::kStreamingFailure;
    }
    if (zrTemplateEntry* loaded = manager->GetTemplate(receivedUid)) {
        std::string oldName = loaded->GetFileName();
        if (oldName != newName && isSafeCacheFileName(oldName)) unlink(inCache(oldName).c_str());
        manager->UnloadTemplate(receivedUid);
    }
    zrTemplateEntry* entry = nullptr;
    try {
        entry = manager->Parse(decoded, newName.c_str(), true, true);
    } catch (zrTemplateException* e) {
        e->Delete();
    }
    ZRBase64::DeleteBuffer(&decoded);
    if (!entry) return Fetch::kStreamingFailure;
    _zdprintf(3, ".");
    manager->UpdateHashesMapItem(manager->GetInternalHashesMap(), entry);

    std::string path = inCache(newName);
    _zdprintf(5, "\nStoring updated/new template in %s\n", path.c_str());
    if (!storeTemplate(path, entry->GetTemplateContent(), entry->GetTemplateContentSize())) {
        _zdprintf(1, "\nCannot store new template into local cache @ %s", path.c_str());
    }
    return Fetch::kDone;
}

}  // namespace

bool isSafeCacheFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

void loadTemplatesCache(zrTemplateManager* manager) {
    _zdprintf(3, "Loading templates local cache");
    std::vector<std::string> names;
    zrDirectory dir;
    dir.dirPath = templatesdir;
    for (bool found = ZRFileSystem::EnumDirFirstFile(&dir, false); found;
         found = ZRFileSystem::EnumDirNextFile(&dir)) {
        if (endsWith(dir.currentName, ".template")) names.push_back(dir.currentName);
    }
    ZRFileSystem::EnumDirClose(&dir);
    // A fixed order makes duplicate UIDs resolve the same way on every run.
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        std::string path = inCache(name);
        std::string text;
        if (!readWholeFile(path, text)) {
            _zdprintf(1, "Error loading template %s", path.c_str());
            continue;
        }
        try {
            manager->Parse(text.c_str(), name.c_str(), false, true);
            _zdprintf(3, ".");
        } catch (zrTemplateException* e) {
            _zdprintf(1, "Error parsing template %s:%s", name.c_str(), e->GetErrorString());
            _zdprintf(1, "The file has been moved in the '.invalid' folder!");
            e->Delete();
            ZRFileSystem::MakeDirectory(templatesdir + "/.invalid", true);
            ZRFileSystem::MoveFile(path, templatesdir + "/.invalid/" + name);
        }
    }
    _zdprintf(3, "\n");
}

int syncTemplatesCache(zrTemplateManager* manager) {
    manager->FillInternalHashesMap();
    _zdprintf(3, "Synching templates");
    sendMsg(zdCode::kHashesRequest, std::string());
    if (!waitForMsg(zdCode::kHashes)) return -1;
    manager->UnmarshallHashesMap(&dispatcherHashes, rcvargs);

    zrTemplateHashesMap changed, removed;
    manager->CalculateHashesDiffs(&dispatcherHashes, &changed, &removed);
    moveVanishedTemplates(manager, removed);

    // Each template is requested a bounded number of times: one whose received copy keeps
    // differing from the Dispatcher's record is used as received.
    std::map<int, int> fetches;
    std::set<int> reported;
    for (;;) {
        int next = -1;
        for (auto& [uid, record] : changed) {
            if (fetches[uid] < kMaxTemplateFetches) {
                next = uid;
                break;
            }
            if (reported.insert(uid).second) {
                _zdprintf(1,
                          "\nTemplate %d still differs from the Dispatcher's copy after %d "
                          "transfers; using the copy received.\n",
                          uid, kMaxTemplateFetches);
            }
        }
        if (next < 0) break;
        ++fetches[next];
        Fetch result = fetchTemplate(manager, next);
        if (result == Fetch::kConnectionLost || result == Fetch::kStreamingFailure) {
            manager->DeleteHashesMap(&changed);
            manager->DeleteHashesMap(&removed);
            if (result == Fetch::kConnectionLost) return -1;
            _zdprintf(1, "Unexpected failure during templates streaming. Aborting!");
            return 1;
        }
        if (result == Fetch::kRefused) {
            fetches[next] = kMaxTemplateFetches;
            reported.insert(next);
        }
        manager->DeleteHashesMap(&changed);
        manager->DeleteHashesMap(&removed);
        manager->CalculateHashesDiffs(&dispatcherHashes, &changed, &removed);
    }
    manager->DeleteHashesMap(&changed);
    manager->DeleteHashesMap(&removed);
    _zdprintf(3, "\n");
    return 0;
}
