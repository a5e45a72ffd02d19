#pragma once

#include "net/cookie_store.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One complete HTTP exchange on libcurl, with the fixed browser-like header
// set of the service's pages.
namespace qiv {

// The pages of the service are a few KiB; a reply far beyond this is a
// broken or hostile server, and holding it would only eat memory.
inline constexpr size_t maxReplyBodyBytes = 4 * 1024 * 1024;
// The header bytes of one reply (curl alone caps a single line at 100 KiB).
// The service sends well under 1 KiB; this leaves room for many cookies.
inline constexpr size_t maxReplyHeaderBytes = 256 * 1024;

// The record that carries one request to its worker and the response back.
// Each call of the timed runner has its own, so exchanges never share one.
// All texts are GBK byte strings.
struct RequestSlots {
    std::string url;      // the request URL; also the Referer value
    std::string method;   // "", "GET" or "POST" (exact); anything else sends nothing
    std::string proxy;    // "host:port" of an HTTP proxy; blank means direct
    std::string headers;  // the caller's lines, each ended by CR LF; the
                          // engine appends its own lines to this field
    std::string body;     // form body of a POST, sent byte for byte
    std::string response; // the body as received, whatever the status

    // True from the start of the exchange until the engine is done with
    // every field; cleared as the engine's very last write.
    std::atomic<bool> running{false};
    // Set by the runner when it gives up on the exchange: the transfer is
    // cut at its next progress check and stores no cookie.
    std::atomic<bool> abandoned{false};
};

// The header block for a request: `headers` followed by the default Accept,
// Referer and Accept-Language lines (each only when the text does not yet
// name it, compared without case), then for a POST with a body the
// Content-Type and Content-Length lines.
std::string headerBlock(std::string_view headers, std::string_view url, std::string_view method,
                        std::string_view body);

// The stored cookies a transfer to a host may need (CookieStore::linesFor).
using CookieSource = std::function<std::vector<std::string>(std::string_view host)>;

// Runs the exchange described by `request`: completes request.headers with
// headerBlock, sends the request (directly or through request.proxy), follows
// redirects, and appends the whole body of the last reply to
// request.response. A body over maxReplyBodyBytes or reply headers over
// maxReplyHeaderBytes end the transfer at once and leave the response
// empty. Each host a hop goes to gets, the first time, the cookies
// `cookiesFor` gives for it. Returns what the replies did to the cookies of
// their hosts, not yet stored, so that a caller can store them together
// with its own decision about the outcome. Does not touch request.running.
// Blocks.
CookieChanges performExchange(RequestSlots& request, const CookieSource& cookiesFor);

// performExchange with the cookies of `cookies`, then stores its cookie
// changes there unless the exchange was abandoned meanwhile. Failures of
// any kind leave the response empty or short; nothing is reported. Sets
// request.running at the start and clears it at the end. Blocks.
void performRequest(CookieStore& cookies, RequestSlots& request);

} // namespace qiv
