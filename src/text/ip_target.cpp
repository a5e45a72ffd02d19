#include "text/ip_target.h"

#include "text/text.h"

#include <arpa/inet.h>

#include <cstring>

namespace qiv {

namespace {

// A range the follower refuses: its first bytes, the prefix length in bits,
// and why.
struct RefusedRange {
    IpAddress::Family family;
    std::array<unsigned char, 16> start;
    int bits;
    const char* reason;
};

constexpr IpAddress::Family V4 = IpAddress::Family::V4;
constexpr IpAddress::Family V6 = IpAddress::Family::V6;

const char kPrivate[] = "a private address, seen only inside a local network";
const char kLoopback[] = "a loopback address: this machine talking to itself";
const char kLinkLocal[] = "a link-local address, valid only on one network link";
const char kMulticast[] = "a multicast address, not one machine";

constexpr RefusedRange kRefused[] = {
    {V4, {0}, 8, "in 0.0.0.0/8, which means \"this network\" and names no machine"},
    {V4, {10}, 8, kPrivate},
    {V4,
     {100, 64},
     10,
     "a shared address (100.64.0.0/10) of the provider's carrier-grade NAT: forwarding to it "
     "cannot reach this machine"},
    {V4, {127}, 8, kLoopback},
    {V4, {169, 254}, 16, kLinkLocal},
    {V4, {172, 16}, 12, kPrivate},
    {V4, {192, 0, 0}, 24, "in 192.0.0.0/24, reserved for protocol assignments"},
    {V4, {192, 168}, 16, kPrivate},
    {V4, {198, 18}, 15, "in 198.18.0.0/15, reserved for network benchmarks"},
    {V4, {224}, 4, kMulticast},
    {V4, {240}, 4, "in 240.0.0.0/4, reserved (it holds the broadcast 255.255.255.255)"},
    {V6, {}, 128, "the unspecified address ::, which names no machine"},
    {V6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128, kLoopback},
    {V6,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff},
     96,
     "an IPv4-mapped IPv6 address (::ffff:0:0/96), which no IPv6 visitor can reach"},
    {V6, {0x01}, 64, "in 100::/64, reserved for traffic to be discarded"},
    {V6, {0xfc}, 7, "a unique-local address (fc00::/7), seen only inside a local network"},
    {V6, {0xfe, 0x80}, 10, kLinkLocal},
    {V6, {0xff}, 8, kMulticast},
};

bool inRange(const IpAddress& address, const RefusedRange& range)
{
    if (address.family != range.family)
        return false;
    for (int bit = 0; bit < range.bits; ++bit) {
        const int mask = 0x80 >> (bit % 8);
        if ((address.bytes[bit / 8] & mask) != (range.start[bit / 8] & mask))
            return false;
    }
    return true;
}

} // namespace

std::string refusedAddressReason(const IpAddress& address)
{
    for (const RefusedRange& range : kRefused)
        if (inRange(address, range))
            return range.reason;
    return {};
}

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
