#include "text/ip_target.h"

#include "text/text.h"

#include <arpa/inet.h>

#include <cstring>

namespace qiv {

bool IpAddress::sameAs(const IpAddress& other) const
{
    return family == other.family && bytes == other.bytes;
}

std::optional<IpAddress> parseIpAddress(std::string_view text)
{
    // inet_pton reads a C string: a zero byte inside would end it early.
    if (text.empty() || text.size() > INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string input(text);
    IpAddress address;
    char shown[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, input.c_str(), address.bytes.data()) == 1) {
        address.family = IpAddress::Family::V4;
        inet_ntop(AF_INET, address.bytes.data(), shown, sizeof shown);
    } else if (inet_pton(AF_INET6, input.c_str(), address.bytes.data()) == 1) {
        address.family = IpAddress::Family::V6;
        inet_ntop(AF_INET6, address.bytes.data(), shown, sizeof shown);
    } else {
        return std::nullopt;
    }
    address.text = shown;
    return address;
}

std::optional<IpAddress> publicIpFromReply(std::string_view reply)
{
    return parseIpAddress(textTrim(reply, " \t\r\n\f\v"));
}

std::optional<TargetHost> targetHost(std::string_view url)
{
    TargetHost result;
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos && parseIpAddress(url)) {
        // A target typed as the public IP alone, "2001:db8::1".
        result.length = url.size();
        result.host = std::string(url);
        return result;
    }
    size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const size_t authorityEnd = std::min(url.find_first_of("/?#", start), url.size());
    // A user part ends at the last "@" of the authority.
    const size_t at = url.substr(start, authorityEnd - start).rfind('@');
    if (at != std::string_view::npos)
        start += at + 1;
    result.start = start;
    if (start < url.size() && url[start] == '[') {
        const size_t close = url.find(']', start);
        if (close == std::string_view::npos || close > authorityEnd)
            return std::nullopt;
        result.bracketed = true;
        result.length = close + 1 - start;
        result.host = std::string(url.substr(start + 1, close - start - 1));
    } else {
        const size_t end = std::min(url.find(':', start), authorityEnd);
        result.length = end - start;
        result.host = std::string(url.substr(start, result.length));
    }
    if (result.host.empty())
        return std::nullopt;
    return result;
}

std::optional<IpAddress> targetAddress(std::string_view url)
{
    const std::optional<TargetHost> host = targetHost(url);
    if (!host)
        return std::nullopt;
    std::optional<IpAddress> address = parseIpAddress(host->host);
    // "[1.2.3.4]" is no way to write an IPv4 host, and a bare "::1:80" with
    // a port is no way to write an IPv6 one.
    if (address && (address->family == IpAddress::Family::V6) != host->bracketed &&
        !(host->start == 0 && host->length == url.size()))
        return std::nullopt;
    return address;
}

std::string replaceTargetHost(std::string_view url, const IpAddress& address)
{
    const std::optional<TargetHost> host = targetHost(url);
    if (!host)
        return std::string(url);
    const bool bare = host->start == 0 && host->length == url.size() && !host->bracketed;
    std::string shown =
        address.family == IpAddress::Family::V6 && !bare ? "[" + address.text + "]" : address.text;
    std::string result(url);
    result.replace(host->start, host->length, shown);
    return result;
}

} // namespace qiv
