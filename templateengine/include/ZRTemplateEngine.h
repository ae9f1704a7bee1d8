// Umbrella header: every public header of the template engine library.
#ifndef ZRTEMPLATEENGINE_H
#define ZRTEMPLATEENGINE_H

#include "ZRTemplateEngineExport.h"
#include "ZRTemplateMacros.h"
#include "ZRTemplateManager.h"
#include "ZRTemplateObjects.h"
#include "ZRTemplateScanner.h"

#endif
