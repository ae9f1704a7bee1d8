// Umbrella header: every public header of the framework library.
#ifndef ZRFRAMEWORK_H
#define ZRFRAMEWORK_H

#include "ZRBase64.h"
#include "ZRConfig.h"
#include "ZREventQueue.h"
#include "ZRFileSystem.h"
#include "ZRFrameworkExport.h"
#include "ZRLogger.h"
#include "ZRMd5.h"
#include "ZRMemoryManager.h"
#include "ZRPerformanceMonitor.h"
#include "ZRProcesses.h"
#include "ZRPropertyMap.h"
#include "ZRRuntime.h"
#include "ZRServices.h"
#include "ZRSocket.h"
#include "ZRStringHelper.h"
#include "ZRThreads.h"

#endif
