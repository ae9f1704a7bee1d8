// Stateless byte-string helpers: trimming, conversions, tokenising, escaping, time formatting.
#ifndef ZRFRAMEWORK_STRINGHELPER_H
#define ZRFRAMEWORK_STRINGHELPER_H

#include <set>
#include <string>
#include <vector>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRStringHelper {

// Times and spans are 64-bit on Windows, where long is 32 bits; sizes there are 32-bit.
#if defined(_WIN32)
typedef long long zrSeconds;
typedef unsigned int zrSizet;
#else
typedef long zrSeconds;
typedef unsigned long zrSizet;
#endif

// Removes every line feed, carriage return and tab, wherever it stands.
ZRFRAMEWORK_API void TrimCR(std::string& text);
// Remove leading / trailing spaces (0x20 only).
ZRFRAMEWORK_API void TrimLeft(std::string& text);
ZRFRAMEWORK_API void TrimRight(std::string& text);

// False only for the exact text "0".
ZRFRAMEWORK_API bool ToBool(std::string text);
ZRFRAMEWORK_API std::string FromBool(bool value);
ZRFRAMEWORK_API std::string FromInt(int value);
ZRFRAMEWORK_API std::string FromLong(long value);
ZRFRAMEWORK_API std::string FromTime(zrSeconds seconds);
ZRFRAMEWORK_API std::string FromInt64(long long value);
ZRFRAMEWORK_API std::string FromSizet(zrSizet value);
// Fixed notation with exactly `precision` decimals.
ZRFRAMEWORK_API std::string FromDouble(double value, int precision);
ZRFRAMEWORK_API std::string FromFloat(float value, int precision);

ZRFRAMEWORK_API std::string ToLower(std::string text);
ZRFRAMEWORK_API std::string ToUpper(std::string text);

// Cuts `source` at the first occurrence of `separator`; false (nothing changed) when empty.
ZRFRAMEWORK_API bool ExtractToken(std::string& source, std::string& token, const char* separator);
// Quote- and escape-aware form; false (nothing changed) when empty or a quote is left open.
ZRFRAMEWORK_API bool ExtractToken(std::string& source, std::string& token, const char* separator,
                                  const char* quote, bool stripQuotes);

ZRFRAMEWORK_API std::string ConformToOS(std::string path);
ZRFRAMEWORK_API bool SplitCommandLines(std::string commandLine, std::string& first,
                                       std::string& rest);

ZRFRAMEWORK_API std::vector<std::string> TokenizeString(std::string text, std::string separators);
ZRFRAMEWORK_API std::set<std::string> TokenizeStringToSet(std::string text, std::string separators);
ZRFRAMEWORK_API std::set<long> TokenizeStringToLongSet(std::string text, std::string separators);

// Line n (1-based) of a line-feed separated text, without its line feed; empty when absent.
ZRFRAMEWORK_API std::string GetLine(const char* text, int lineNumber);
ZRFRAMEWORK_API std::string GetLine(std::string text, int lineNumber);

ZRFRAMEWORK_API std::string EncodeURL(std::string text);
ZRFRAMEWORK_API std::string DecodeURL(std::string text);
ZRFRAMEWORK_API std::string Replace(std::string text, std::string what, std::string with);
ZRFRAMEWORK_API std::string EncodeHTML(std::string text);
ZRFRAMEWORK_API std::string EncodeSQL(std::string text);

// Mode 0 time, 1 date, 3 compact, anything else date and time; local time zone.
ZRFRAMEWORK_API std::string FormatTime(zrSeconds seconds, int mode);
ZRFRAMEWORK_API std::string FormatTimespan(zrSeconds seconds);

// {1,2,3,5,7,8} -> "1-3,5,7-8".
ZRFRAMEWORK_API std::string LongSetToPrintableRanges(std::set<long>* values);

}  // namespace ZRStringHelper
}  // namespace ZRFramework

#endif
