// The template reports of query mode: the list of cached templates (query letter t) and the
// submission fields of one template (-templfields).
#ifndef ZDTOOL_TEMPLATELISTING_H
#define ZDTOOL_TEMPLATELISTING_H

#include <string>

#include "ZRTemplateManager.h"

// UID and name of every template of the process-wide manager, in its order.
void dumpTemplates();
// The ADD items of block SUBMISSION of template `uid`, with their mapping and marks.
void dumpTemplateFields(int uid);

// The texts those two print, from any manager, in the output format of the run settings. With
// tsv or json an unknown template gives no text: its message is not a record.
std::string templateListText(ZRFramework::ZRTemplateManager::zrTemplateManager* manager);
std::string templateFieldsText(ZRFramework::ZRTemplateManager::zrTemplateManager* manager, int uid);

#endif
