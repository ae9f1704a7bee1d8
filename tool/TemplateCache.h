// The local template cache: loading it into the template manager and bringing it in step with
// the Dispatcher by comparing per-template hashes.
#ifndef ZDTOOL_TEMPLATECACHE_H
#define ZDTOOL_TEMPLATECACHE_H

#include <string>

#include "ZRTemplateManager.h"

// How often one template is requested in a run before its differences are accepted.
constexpr int kMaxTemplateFetches = 3;

// The Dispatcher's hashes map; it lives until the end of the run.
extern ZRFramework::ZRTemplateManager::zrTemplateHashesMap dispatcherHashes;

// Parses every ".template" file of `templatesdir` into the manager; broken ones go to
// ".invalid" when that is a real folder (not a link or a file), else they stay with a warning.
void loadTemplatesCache(ZRFramework::ZRTemplateManager::zrTemplateManager* manager);
// Fetches new and changed templates, moves vanished ones to ".unused" (under the same rule as
// ".invalid"). Files it writes get 0666 less the umask, or the mode of the file they replace.
// The difference with the Dispatcher's map is computed once and kept up to date per fetch, so
// the cost is linear in the number of templates. 0 when done; -1 when the connection failed
// and 1 when a template could not be streamed (message printed): both end the run with that
// status.
int syncTemplatesCache(ZRFramework::ZRTemplateManager::zrTemplateManager* manager);

// A file name from the Dispatcher may only name a file inside the cache folder.
bool isSafeCacheFileName(const std::string& name);

#endif
