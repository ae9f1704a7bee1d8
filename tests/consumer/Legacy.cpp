// A program written before the namespaced targets and <Library/Header.h> includes: the plain
// target names and the libraries' own header folders on the include path.
#include <cstdio>

#include "ZRFramework.h"
#include "ZRTemplateEngine.h"

using namespace ZRFramework;

int main() {
    std::printf("legacy.lower=%s\n", ZRStringHelper::ToLower("LEGACY").c_str());
    zrPropertyMap attributes;
    attributes.SetString("frames", "1-10", true, false);
    std::printf("legacy.template=%s\n",
                ZRTemplateManager::subst_macro("frames %ATTR(frames)", &attributes).c_str());
    return 0;
}
