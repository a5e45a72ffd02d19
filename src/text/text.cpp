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

Text textTrim(std::string_view text, std::string_view characters)
{
    size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(characters);
    return Text(text.substr(first, last - first + 1));
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

Text asciiLower(std::string_view text)
{
    Text result(text);
    for (char& c : result)
        c = asciiLower(c);
    return result;
}

Text textBetween(std::string_view text, std::string_view start, std::string_view end)
{
    int p = textFind(text, start);
    int s = p + textLength(start);
    Text rest = textMiddle(text, s, textLength(text));
    int q = textFind(rest, end);
    return textMiddle(rest, 1, q - 1);
}

Text percentEncode(std::string_view bytes, bool (*encoded)(unsigned char byte))
{
    static const char hex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        auto byte = static_cast<unsigned char>(ch);
        if (encoded(byte)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

Text formEncode(std::string_view value)
{
    return percentEncode(value, [](unsigned char byte) {
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                          byte == '_' || byte == '~';
        return !unreserved;
    });
}

Text formBody(std::initializer_list<FormField> fields)
{
    Text body;
    for (const FormField& field : fields) {
        if (!field.present)
            continue;
        if (!body.empty())
            body += '&';
        body += field.key;
        body += '=';
        body += field.raw ? Text(field.value) : formEncode(field.value);
    }
    return body;
}

} // namespace qiv
