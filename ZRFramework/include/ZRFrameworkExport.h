// The one export macro of the framework library: public API is visible, everything else hidden.
#ifndef ZRFRAMEWORK_EXPORT_H
#define ZRFRAMEWORK_EXPORT_H

#if defined(_WIN32)
#if defined(ZRFRAMEWORK_BUILDING)
#define ZRFRAMEWORK_API __declspec(dllexport)
#else
#define ZRFRAMEWORK_API __declspec(dllimport)
#endif
#else
#define ZRFRAMEWORK_API __attribute__((visibility("default")))
#endif

#endif
