// Configuration files of sections and "key = value" lines: loading into a flat map, typed
// access with defaults, and saving that keeps every line the file's author wrote.
#ifndef ZRFRAMEWORK_CONFIG_H
#define ZRFRAMEWORK_CONFIG_H

#include <ctime>
#include <map>
#include <string>

#include "ZRFrameworkExport.h"

namespace ZRFramework {

// Created and destroyed by the caller; the functions below fill and read it. Keys of `values` are
// lower-case section + "#" + key; settings before the first header are in "_default_".
struct zrConfigManager {
    std::map<std::string, std::string> values;
    std::string fileName;
};

// Replaces the manager's content with the file's settings. False, logged and nothing changed when
// the file cannot be opened. A header without "]" is logged with its line number and ends the
// reading; the settings before it are kept and the result is true.
ZRFRAMEWORK_API bool LoadConfigFile(zrConfigManager* manager, const char* path);
// Merges the settings into the file at `path` (created when missing) and marks it with the
// generated header and footer. The new text goes to a temporary file beside the target, which is
// then renamed over it, so a crash never leaves a truncated file. The old file's permissions,
// and where allowed its owner, are kept; a symbolic link is followed and stays a link. The file
// is rewritten in place only when it is not a regular file or its folder refuses new files.
// False when nothing could be written, or when the old file fails to read halfway.
ZRFRAMEWORK_API bool SaveConfigFile(zrConfigManager* manager, const char* path);

// Section and key are matched without regard to case; a missing one gives the default unchanged.
// The text form removes every carriage return, line feed and tab of the value. The number forms
// parse as atoi/atol, saturating at the ends of their range.
ZRFRAMEWORK_API std::string GetConfigValue(zrConfigManager* manager, const char* section,
                                           const char* key, std::string defaultValue);
ZRFRAMEWORK_API int GetConfigValue(zrConfigManager* manager, const char* section, const char* key,
                                   int defaultValue);
ZRFRAMEWORK_API long GetConfigValue(zrConfigManager* manager, const char* section, const char* key,
                                    long defaultValue);
// Store in memory only; true (false only for a null manager). A null text counts as empty.
ZRFRAMEWORK_API bool SetConfigValue(zrConfigManager* manager, const char* section, const char* key,
                                    const char* value);
ZRFRAMEWORK_API bool SetConfigValue(zrConfigManager* manager, const char* section, const char* key,
                                    int value);
ZRFRAMEWORK_API bool SetConfigValue(zrConfigManager* manager, const char* section, const char* key,
                                    long value);

// The span of `section` in a file's text: `start` is just after its header line, `end` the line
// feed before the next header or the text's length; both -1 when the section is absent. Text after
// the last line feed is not examined.
ZRFRAMEWORK_API void GetConfigValuesectbound(std::string& text, std::string& section, long& start,
                                             long& end);
// Sets one key in a file's text: replaces every line of the section's span that holds the key,
// otherwise adds the line at the end of the section, or appends the section.
ZRFRAMEWORK_API void ConfigReplaceKey(std::string& text, std::string section, std::string key,
                                      std::string value);

// The pure halves of loading and saving, apart from the file I/O.

// The settings of a configuration text. `malformedLine`, when given, receives the 1-based line of
// a header without "]" at which reading stopped, or 0.
ZRFRAMEWORK_API std::map<std::string, std::string> ParseConfigText(const std::string& text,
                                                                   int* malformedLine);
// The text SaveConfigFile writes over `original`: its generated header and footer replaced, every
// setting of `values` merged in, and a header stamped with the local time `stamp`.
ZRFRAMEWORK_API std::string RenderConfigText(const std::map<std::string, std::string>& values,
                                             const std::string& original, const struct tm& stamp);

}  // namespace ZRFramework

#endif
