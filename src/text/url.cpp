#include "text/url.h"

#include "text/text.h"

#include <algorithm>
#include <cstdint>

namespace qiv {
namespace {

// Index of the first byte of the host part: past "http://" (any case),
// else the start of the text.
size_t hostStart(std::string_view url)
{
    constexpr std::string_view scheme = "http://";
    if (url.size() < scheme.size())
        return 0;
    for (size_t i = 0; i < scheme.size(); ++i) {
        if (asciiLower(url[i]) != scheme[i])
            return 0;
    }
    return scheme.size();
}

// The host part: from its start up to, not including, the first "/".
std::string_view hostPart(std::string_view url)
{
    size_t start = hostStart(url);
    size_t slash = url.find('/', start);
    if (slash == std::string_view::npos)
        return url.substr(start);
    return url.substr(start, slash - start);
}

// Reads a port text the way a number conversion does: optional blanks and
// sign, then the leading decimal digits; whatever follows (a fraction, junk)
// is cut off, and no digits read as 0. The result wraps to 16 bits, as the
// socket layer would take it.
int readPort(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = (value * 10 + static_cast<uint32_t>(text[i] - '0')) % 65536;
    if (negative)
        value = (65536 - value) % 65536;
    return static_cast<int>(value);
}

} // namespace

std::string urlHost(std::string_view url)
{
    std::string_view host = hostPart(url);
    return asciiLower(host.substr(0, host.find(':')));
}

int urlPort(std::string_view url)
{
    std::string_view host = hostPart(url);
    size_t colon = host.find(':');
    if (colon == std::string_view::npos)
        return 80;
    return readPort(host.substr(colon + 1));
}

std::string hostNameError(std::string_view name)
{
    constexpr size_t kMaxName = 253; // a DNS name's limit
    constexpr size_t kMaxLabel = 63;
    if (name.empty())
        return "no host name";
    if (name.size() > kMaxName)
        return "the host name is longer than 253 characters";
    for (char c : name) {
        const bool good = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (good)
            continue;
        const auto byte = static_cast<unsigned char>(c);
        static constexpr char kHex[] = "0123456789abcdef";
        const std::string shown = byte >= 0x20 && byte < 0x7f
                                      ? std::string(1, c)
                                      : std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        return "the character '" + shown + "' is not allowed in a host name";
    }
    for (size_t start = 0; start <= name.size();) {
        const size_t dot = std::min(name.find('.', start), name.size());
        if (dot == start)
            return "the host name has an empty label (\"..\" or a '.' at an end)";
        if (dot - start > kMaxLabel)
            return "a label of the host name is longer than 63 characters";
        start = dot + 1;
    }
    return {};
}

std::string urlPath(std::string_view url)
{
    size_t slash = url.find('/', hostStart(url));
    if (slash == std::string_view::npos)
        return "/";
    return std::string(url.substr(slash));
}

} // namespace qiv
