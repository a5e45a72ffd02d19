#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Addresses and forwarding targets: what the public-IP page answered, the
// host of a target URL, and the target with only its host replaced. Pure
// functions over byte strings.
namespace qiv {

struct IpAddress {
    enum class Family { V4, V6 };
    Family family = Family::V4;
    // Network order; V4 uses the first four bytes.
    std::array<unsigned char, 16> bytes{};
    // The canonical text (inet_ntop): dotted quad, or RFC 5952 for V6.
    std::string text;

    // The same address: the same family and bytes, whatever the spelling.
    bool sameAs(const IpAddress& other) const;
};

// Why the follower does not make `address` a forwarding target: the
// unspecified, loopback, private, shared (carrier-grade NAT), link-local,
// benchmarking, IETF protocol, multicast and reserved IPv4 ranges, and the
// unspecified, loopback, IPv4-mapped, discard, unique-local, link-local and
// multicast IPv6 ones. No visitor reaches this machine through one of them.
// The documentation ranges are allowed. Empty when the address is allowed.
std::string refusedAddressReason(const IpAddress& address);

// `text` exactly as one IPv4 or IPv6 address (no white space, no brackets,
// no zone); nothing otherwise.
std::optional<IpAddress> parseIpAddress(std::string_view text);

// A public-IP reply as an address: white space around it ignored, as
// isPublicIpReply takes it.
std::optional<IpAddress> publicIpFromReply(std::string_view reply);

// Where the host stands in a target URL: after "scheme://" and any
// "user@", up to the port, path, query or fragment; an IPv6 host is in
// brackets, which belong to the span but not to `host`. A target without a
// scheme starts with its host; one that is, whole, a bare IPv6 address is
// that host.
struct TargetHost {
    std::size_t start = 0;  // byte offset of the span
    std::size_t length = 0; // brackets included
    std::string host;       // without brackets
    bool bracketed = false;
};
// Nothing when the host part is empty or a bracket is not closed.
std::optional<TargetHost> targetHost(std::string_view url);

// The host of `url` as an address; nothing when it is a name.
std::optional<IpAddress> targetAddress(std::string_view url);

// `url` with its host replaced by `address` (in brackets for IPv6 unless the
// target was a bare IPv6 address), scheme, user, port, path, query and
// fragment kept byte for byte. `url` unchanged when it has no host.
std::string replaceTargetHost(std::string_view url, const IpAddress& address);

} // namespace qiv
