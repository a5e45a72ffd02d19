#pragma once

#include "text/gbk.h" // gbk() for the program's own texts

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Page-text primitives. Every text here is a GBK byte string: lengths and
// positions count bytes, positions are 1-based, a Chinese character is two
// bytes. All searches are case-sensitive.
namespace qiv {

using Text = std::string;

// Byte length.
int textLength(std::string_view text);
// 1-based position of the first occurrence of `sought`, -1 when absent.
int textFind(std::string_view text, std::string_view sought);
// At most `count` bytes from 1-based `start`; empty when count <= 0 or start
// lies past the end.
Text textMiddle(std::string_view text, int start, int count);
// Pieces between the delimiters, in order; no delimiter gives the whole text.
std::vector<Text> textSplit(std::string_view text, std::string_view delimiter);
// Without the leading and trailing bytes that are in `characters`; by
// default ASCII spaces only.
Text textTrim(std::string_view text, std::string_view characters = " ");
// ASCII letters lowered; every other byte, GBK ones included, as is.
char asciiLower(char c);
Text asciiLower(std::string_view text);

// What lies between the first `start` marker and the first `end` marker
// behind it; empty when `end` does not follow. An absent start marker is not
// special-cased: the search for `end` then runs from byte length(start) - 1.
Text textBetween(std::string_view text, std::string_view start, std::string_view end);

// Every byte that `encoded` selects as %XX (upper-case hex), the others as
// they are.
Text percentEncode(std::string_view bytes, bool (*encoded)(unsigned char byte));

// application/x-www-form-urlencoded over GBK bytes: unreserved ASCII
// (letters, digits, "-", ".", "_", "~") as is, every other byte %XX.
Text formEncode(std::string_view value);

// One key=value pair of a form body. The value is form-encoded unless it is
// one of the form's fixed raw values, which travel exactly as given.
struct FormField {
    std::string_view key;
    std::string_view value;
    bool raw = false;
    // An unticked box sends no pair at all.
    bool present = true;
};

// The pairs joined by "&", in order.
Text formBody(std::initializer_list<FormField> fields);

} // namespace qiv
