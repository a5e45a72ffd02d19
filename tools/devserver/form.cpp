#include "devserver/form.h"

namespace qiv::devserver {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        if (c == '+' && plusIsSpace) {
            out.push_back(' ');
            continue;
        }
        out.push_back(c);
    }
    return out;
}

FormData FormData::parse(std::string_view encoded)
{
    FormData form;
    size_t start = 0;
    while (start <= encoded.size()) {
        size_t end = encoded.find('&', start);
        if (end == std::string_view::npos)
            end = encoded.size();
        const std::string_view piece = encoded.substr(start, end - start);
        if (!piece.empty()) {
            const size_t eq = piece.find('=');
            if (eq == std::string_view::npos)
                form.fields_.emplace_back(percentDecode(piece), std::string());
            else
                form.fields_.emplace_back(percentDecode(piece.substr(0, eq)),
                                          percentDecode(piece.substr(eq + 1)));
        }
        start = end + 1;
    }
    return form;
}

std::optional<std::string> FormData::get(std::string_view key) const
{
    for (const auto& [k, v] : fields_) {
        if (k == key)
            return v;
    }
    return std::nullopt;
}

std::string FormData::value(std::string_view key) const
{
    return get(key).value_or(std::string());
}

} // namespace qiv::devserver
