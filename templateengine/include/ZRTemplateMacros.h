// Template macros: one expansion step of %ATTR(name), %ISACTIVE(name (text)) and
// %ISNACTIVE(name (text)) against a job's attributes. zrTemplateManager::ResolveMacros loops it.
#ifndef ZRTEMPLATEENGINE_TEMPLATEMACROS_H
#define ZRTEMPLATEENGINE_TEMPLATEMACROS_H

#include <string>

#include <ZRFramework/ZRPropertyMap.h>

#include "ZRTemplateEngineExport.h"

namespace ZRFramework {
namespace ZRTemplateManager {

// Replaces the first %ISACTIVE( macro, else the first %ISNACTIVE(, else the first %ATTR(.
// A macro left unclosed is deleted with everything after it. Null attributes count as none.
// A reference back to an attribute whose value is being expanded expands to nothing, and that
// is reported at level 1 through the default logger.
ZRTEMPLATEENGINE_API std::string subst_macro(std::string text, zrPropertyMap* attributes);

}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
