#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where the hops of one exchange go: the address of the first, and the rules
// by which a reply's redirect is followed or taken as the final reply.
//
// Redirects are followed by the engine rather than by curl, so that the body
// of a POST (it carries passwords) only ever goes to the host and port the
// request was addressed to. A 301, 302 or 303 turns a POST into a GET
// without body, as browsers do, and may lead anywhere. A 307 or 308 demands
// the same POST again: it is followed to that host and port only, and a 307
// or 308 pointing elsewhere is the final reply.
namespace qiv {

// One hop: the address curl is given, and its host and port.
struct Hop {
    std::string url;
    std::string host; // lower case when it comes from a redirect
    long port = 0;
};

// A host name the resolver can be asked about (hostNameError finds nothing
// wrong). Anything else (a scheme name with a query glued on, blanks,
// non-ASCII) can never be reached, and curl's URL parser would read it
// differently, so such a request ends unsent.
bool isReachableHostName(std::string_view host);

// The address curl is given for the first hop: port 0 stands for the
// default HTTP port, and the path keeps its bytes (see wirePath).
std::string targetUrl(const std::string& host, int port, const std::string& path);

// The next hop of a 301, 302, 303, 307 or 308 reply whose Location curl
// resolved to `location` (null when there was none); empty when the reply
// is no redirect or points anywhere but to a plain HTTP host.
std::optional<Hop> redirectOf(long status, const char* location);

enum class HopMethod {
    Get,   // the next hop goes as a GET without body
    Post,  // the next hop sends the same POST again
    Final, // the redirect is not followed: this reply is the last
};

// How the request goes on to `next` after a redirect with `status`, when the
// hop just sent was a POST (`post`) or a GET, and the request was addressed
// to `origin`.
HopMethod methodAfterRedirect(bool post, long status, const Hop& next, const Hop& origin);

} // namespace qiv
