// The local template cache: load, compare hashes with the Dispatcher, fetch and store.
#include "TemplateCache.h"

#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "CacheFiles.h"
#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "PayloadText.h"
#include "Payloads.h"
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

// ".invalid" and ".unused" receive files only when they are real folders: a link (to a folder
// or elsewhere) or a file in their place would take the cache's files out of the cache folder.
// A missing one is created, then checked again.
zdFolderKind checkSubfolder(const std::string& folder) {
    zdFolderKind kind = inspectFolder(folder);
    if (kind == zdFolderKind::kAbsent) {
        ZRFileSystem::MakeDirectory(folder, true);
        kind = inspectFolder(folder);
    }
    return kind == zdFolderKind::kAbsent ? zdFolderKind::kMissing : kind;
}

// Moves root/NAME into the subfolder unless something other than a real folder is in its
// place; `announcement` (level 1, may be null) is printed only when the move is attempted. A
// subfolder that cannot be made fails the move silently, as a failed rename always has.
void moveIntoSubfolder(const std::string& subfolder, const std::string& name,
                       const char* announcement) {
    const std::string folder = templatesdir + "/" + subfolder;
    if (checkSubfolder(folder) == zdFolderKind::kNotReal) {
        _zdprintf(1, "\nThe folder %s is not a real folder; %s is left in place.\n", folder.c_str(),
                  inCache(name).c_str());
        return;
    }
    if (announcement) _zdprintf(1, "%s", announcement);
    ZRFileSystem::MoveFile(inCache(name), folder + "/" + name);
}

bool refuseFileName(int uid, const std::string& name) {
    if (isSafeCacheFileName(name)) return false;
    zdError("\nTemplate %d has an unsafe file name \"%s\"; it is left alone.\n", uid, name.c_str());
    return true;
}

void moveVanishedTemplates(zrTemplateManager* manager, zrTemplateHashesMap& removed) {
    checkSubfolder(templatesdir + "/.unused");  // created as always, even with nothing to move
    for (auto& [uid, record] : removed) {
        const std::string& name = record->GetFileName();
        if (refuseFileName(uid, name)) continue;
        // Unloaded even when its file stays: the Dispatcher no longer has it.
        moveIntoSubfolder(".unused", name, nullptr);
        manager->UnloadTemplate(uid);
    }
}

enum class Fetch { kDone, kRefused, kConnectionLost, kStreamingFailure };

// Requests one template and replaces the loaded copy with it. `carried` gets the UID of the
// reply's first line and `parsed` that of the text registered: with `uid`, the only UIDs whose
// local record can have changed.
Fetch fetchTemplate(zrTemplateManager* manager, int uid, int& carried, int& parsed) {
    sendMsg(zdCode::kTemplateRequest, zdProtocol::BuildTemplateRequest(uid));
    if (!waitForMsg(zdCode::kTemplate)) return Fetch::kConnectionLost;
    const zdProtocol::TemplateReply reply = zdProtocol::ParseTemplateReply(rcvargs);
    const int receivedUid = reply.uid;
    carried = parsed = receivedUid;
    std::string newName(reply.fileName);
    if (refuseFileName(receivedUid, newName)) return Fetch::kRefused;

    std::string decoded;
    if (!zdProtocol::DecodeBase64(reply.textBase64, decoded)) return Fetch::kStreamingFailure;
    if (zrTemplateEntry* loaded = manager->GetTemplate(receivedUid)) {
        std::string oldName = loaded->GetFileName();
        if (oldName != newName && isSafeCacheFileName(oldName))
            std::remove(inCache(oldName).c_str());
        manager->UnloadTemplate(receivedUid);
    }
    zrTemplateEntry* entry = nullptr;
    try {
        entry = manager->Parse(decoded.c_str(), newName.c_str(), true, true);
    } catch (zrTemplateException* e) {
        e->Delete();
    }
    if (!entry) return Fetch::kStreamingFailure;
    parsed = entry->GetUID();
    _zdprintf(3, ".");
    manager->UpdateHashesMapItem(manager->GetInternalHashesMap(), entry);

    std::string path = inCache(newName);
    _zdprintf(5, "\nStoring updated/new template in %s\n", path.c_str());
    if (!storeCacheFile(templatesdir, path, entry->GetTemplateContent(),
                        entry->GetTemplateContentSize())) {
        _zdprintf(1, "\nCannot store new template into local cache @ %s", path.c_str());
    }
    return Fetch::kDone;
}

// The templates that still differ from the Dispatcher's records, kept up to date one UID at a
// time instead of recomputing the whole difference after every fetch. It answers what the
// scan of a freshly computed `changed` map would: the lowest differing UID still under its
// fetch limit, after reporting, once each and in ascending order, the differing UIDs below it
// whose limit is spent.
class PendingTemplates {
public:
    // `changed` is CalculateHashesDiffs's map against the Dispatcher's map.
    PendingTemplates(zrTemplateManager* manager, const zrTemplateHashesMap& changed)
        : local_(*manager->GetInternalHashesMap()) {
        for (const auto& record : changed)
            fetchable_.insert(fetchable_.end(), record.first);
    }

    // The UID to request next; false when none is left.
    bool Next(int& next) {
        const bool found = !fetchable_.empty();
        if (found) next = *fetchable_.begin();
        while (!spent_.empty() && (!found || *spent_.begin() < next)) {
            const int uid = *spent_.begin();
            _zdprintf(1,
                      "\nTemplate %d still differs from the Dispatcher's copy after %d "
                      "transfers; using the copy received.\n",
                      uid, kMaxTemplateFetches);
            reported_.insert(uid);
            spent_.erase(spent_.begin());
        }
        return found;
    }

    void CountFetch(int uid) { ++fetches_[uid]; }

    // No further request and no report for `uid` (its reply was refused with a message).
    void GiveUp(int uid) {
        fetches_[uid] = kMaxTemplateFetches;
        reported_.insert(uid);
    }

    // Re-reads the state of one UID after the local records may have changed for it.
    void Refresh(int uid) {
        fetchable_.erase(uid);
        spent_.erase(uid);
        if (!Differs(uid)) return;
        auto count = fetches_.find(uid);
        if (count == fetches_.end() || count->second < kMaxTemplateFetches) {
            fetchable_.insert(uid);
        } else if (reported_.count(uid) == 0) {
            spent_.insert(uid);
        }
    }

private:
    // As CalculateHashesDiffs decides whether the Dispatcher's record goes into `changed`.
    bool Differs(int uid) const {
        auto theirs = dispatcherHashes.find(uid);
        if (theirs == dispatcherHashes.end() || !theirs->second) return false;
        auto ours = local_.find(uid);
        const zrTemplateHash* p = ours == local_.end() ? nullptr : ours->second;
        return !(p && p->GetMd5Hash() == theirs->second->GetMd5Hash() &&
                 p->GetFileName() == theirs->second->GetFileName());
    }

    const zrTemplateHashesMap& local_;
    std::map<int, int> fetches_;
    std::set<int> fetchable_;  // differing, under the fetch limit
    std::set<int> spent_;      // differing, limit reached, not reported yet
    std::set<int> reported_;
};

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
            e->Delete();
            moveIntoSubfolder(".invalid", name,
                              "The file has been moved in the '.invalid' folder!");
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
    PendingTemplates pending(manager, changed);
    manager->DeleteHashesMap(&changed);
    manager->DeleteHashesMap(&removed);

    // Each template is requested a bounded number of times: one whose received copy keeps
    // differing from the Dispatcher's record is used as received.
    // A negative UID ends the loop, as it always has.
    for (int next = -1; pending.Next(next) && next >= 0;) {
        pending.CountFetch(next);
        int carried = next, parsed = next;
        Fetch result = fetchTemplate(manager, next, carried, parsed);
        if (result == Fetch::kConnectionLost) return -1;
        if (result == Fetch::kStreamingFailure) {
            _zdprintf(1, "Unexpected failure during templates streaming. Aborting!");
            return 1;
        }
        if (result == Fetch::kRefused) pending.GiveUp(next);
        pending.Refresh(next);
        pending.Refresh(carried);
        pending.Refresh(parsed);
    }
    _zdprintf(3, "\n");
    return 0;
}
