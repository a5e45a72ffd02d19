#include "text/text.h"

namespace qiv {

int textLength(std::string_view text)
{
    return static_cast<int>(text.size());
}

int textFind(std::string_view text, std::string_view sought)
{
    size_t pos = text.find(sought);
    return pos == std::string_view::npos ? -1 : static_cast<int>(pos) + 1;
}

Text textMiddle(std::string_view text, int start, int count)
{
    if (count <= 0 || start < 1 || start > textLength(text))
        return {};
    return Text(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

std::vector<Text> textSplit(std::string_view text, std::string_view delimiter)
{
    std::vector<Text> pieces;
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    size_t from = 0;
    for (;;) {
        size_t at = text.find(delimiter, from);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(from));
            return pieces;
        }
        pieces.emplace_back(text.substr(from, at - from));
        from = at + delimiter.size();
    }
}

Text textTrim(std::string_view text)
{
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(' ');
    return Text(text.substr(first, last - first + 1));
}

Text textBetween(std::string_view text, std::string_view start, std::string_view end)
{
    int p = textFind(text, start);
    int s = p + textLength(start);
    Text rest = textMiddle(text, s, textLength(text));
    int q = textFind(rest, end);
    return textMiddle(rest, 1, q - 1);
}

Text formEncode(std::string_view value)
{
    static const char hex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(value.size() * 3);
    for (char ch : value) {
        auto byte = static_cast<unsigned char>(ch);
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                          byte == '_' || byte == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

} // namespace qiv
