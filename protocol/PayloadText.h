// The text conventions of every payload: lines ending with a line feed, numbers in decimal, and
// Base64 blocks; a writer that appends lines and the two readers of the two sides.
#ifndef ZDPROTOCOL_PAYLOADTEXT_H
#define ZDPROTOCOL_PAYLOADTEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace zdProtocol {

// Number readers with the C library's rules (leading blanks, sign, digits up to the first other
// character, 0 when there is none); out-of-range values are clamped. The tool reads the
// Dispatcher's records this way.
long ParseLong(std::string_view text);
int ParseInt(std::string_view text);
long long ParseLongLong(std::string_view text);
float ParseFloat(std::string_view text);
// Strict decimal int with optional surrounding white space; false otherwise. The Dispatcher
// reads what clients send this way.
bool ParseStrictInt(std::string_view text, int& value);
bool ParseStrictLong(std::string_view text, long& value);
// A strict number that is 0 or not.
bool ParseStrictFlag(std::string_view text, bool& flag);

// Base64 of the exact bytes; empty for empty input.
std::string EncodeBase64(std::string_view bytes);
// Strict Base64 into `out` (reused between calls); false when the text is not Base64.
bool DecodeBase64(std::string_view base64, std::string& out);

// Line n (from 1) of a text without its line feed; empty for 0 or past the end. A last line
// without a line feed still counts.
std::string_view LineOf(std::string_view text, size_t number);

// The number of lines; a last line without a line feed counts.
size_t CountLines(std::string_view text);

// Walks a text's lines once, from the first, counting them.
class LineReader {
public:
    explicit LineReader(std::string_view text) : rest_(text) {}

    // The next line without its line feed; empty once the text is used up.
    std::string_view Next();
    // Moves on to line `number` (from 1) when it has not been passed.
    void SkipTo(int number);
    int Position() const { return read_ + 1; }  // the line that Next returns
    bool AtEnd() const { return rest_.empty(); }

    long Long() { return ParseLong(Next()); }
    int Int() { return ParseInt(Next()); }
    // A missing or empty line reads as false, like every other missing value.
    bool Flag() {
        const std::string_view line = Next();
        return !line.empty() && line != "0";
    }
    float Float() { return ParseFloat(Next()); }

private:
    std::string_view rest_;
    int read_ = 0;
};

// Appends the lines of one payload, in order; Skip fills lines nobody reads with empty text.
class LineWriter {
public:
    explicit LineWriter(std::string& out) : out_(out) {}

    void Number(long long value);
    void Flag(bool value) { out_ += value ? "1\n" : "0\n"; }
    // Line feeds, carriage returns and NULs become spaces: a value must not move the lines
    // after it, and a reader's text ends at its first NUL.
    void Text(std::string_view value);
    // A text exactly as given, for values known to hold no line break.
    void Raw(std::string_view value) {
        out_ += value;
        out_ += '\n';
    }
    void Base64(std::string_view bytes);
    // Two decimals.
    void Fixed2(double value);
    // The shortest text that reads back as the same value ("1001", "12.5").
    void Shortest(double value);

private:
    std::string& out_;
};

}  // namespace zdProtocol

#endif
