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

// printf-style checking of format arguments. The library formats with the C99 rules on every
// platform (on Windows through the MinGW C99 functions, not the system runtime's own).
#if defined(__MINGW32__)
#define ZR_PRINTF_FORMAT(index, first) __attribute__((format(gnu_printf, index, first)))
#else
#define ZR_PRINTF_FORMAT(index, first) __attribute__((format(printf, index, first)))
#endif

#endif
