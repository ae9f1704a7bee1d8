// The one export macro of the template engine library: public API is visible, the rest hidden.
#ifndef ZRTEMPLATEENGINE_EXPORT_H
#define ZRTEMPLATEENGINE_EXPORT_H

#if defined(_WIN32)
#if defined(ZRTEMPLATEENGINE_BUILDING)
#define ZRTEMPLATEENGINE_API __declspec(dllexport)
#else
#define ZRTEMPLATEENGINE_API __declspec(dllimport)
#endif
#else
#define ZRTEMPLATEENGINE_API __attribute__((visibility("default")))
#endif

#endif
