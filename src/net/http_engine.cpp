#include "net/http_engine.h"

#include "net/cookie_store.h"
#include "net/redirects.h"
#include "text/text.h"
#include "text/url.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace qiv {
namespace {

constexpr const char* userAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr std::string_view defaultAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr std::string_view formContentTypeLine =
    "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr long maxRedirects = 20;

bool containsNoCase(std::string_view text, std::string_view needle)
{
    if (needle.size() > text.size())
        return false;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < needle.size() && asciiLower(text[i + j]) == asciiLower(needle[j]))
            ++j;
        if (j == needle.size())
            return true;
    }
    return false;
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One hop of an exchange as the curl callbacks see it.
struct Transfer {
    RequestSlots& request;
    size_t bodyStart = 0;    // response bytes that were there before the exchange
    size_t headerBytes = 0;  // of the current reply
    bool overflowed = false; // a bound was passed, or memory ran out
};

// No exception may cross back into curl, so a failing append ends the
// transfer like an oversized body.
size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    std::string& response = transfer->request.response;
    if (transfer->request.abandoned.load(std::memory_order_relaxed))
        return CURL_WRITEFUNC_ERROR;
    if (response.size() - transfer->bodyStart + size * count > maxReplyBodyBytes) {
        transfer->overflowed = true;
        return CURL_WRITEFUNC_ERROR;
    }
    try {
        response.append(data, size * count);
    } catch (...) {
        transfer->overflowed = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
}

size_t onHeader(char*, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->headerBytes += size * count;
    if (transfer->headerBytes > maxReplyHeaderBytes) {
        transfer->overflowed = true;
        return 0;
    }
    return size * count;
}

// curl calls this often during a transfer and about once a second while it
// waits; a non-zero answer aborts the transfer.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* request = static_cast<RequestSlots*>(user);
    return request->abandoned.load(std::memory_order_relaxed) ? 1 : 0;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

bool append(SlistPtr& list, const std::string& line)
{
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

std::vector<std::string> toLines(const curl_slist* list)
{
    std::vector<std::string> lines;
    for (; list; list = list->next)
        lines.emplace_back(list->data);
    return lines;
}

// The header lines for curl, in the order of the block. Empty entries
// ("Name:") keep curl from adding its own Accept, Expect, Content-Type and
// Proxy-Connection lines; a Content-Length line in the block keeps curl
// from writing its own.
SlistPtr curlHeaderList(const std::string& block)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find("\r\n", pos);
        if (end == std::string::npos)
            end = block.size();
        if (end > pos)
            lines.push_back(block.substr(pos, end - pos));
        pos = end + 2;
    }
    for (const char* suppressed : {"Accept:", "Expect:", "Content-Type:", "Proxy-Connection:"})
        lines.emplace_back(suppressed);

    SlistPtr list;
    for (const std::string& line : lines) {
        if (!append(list, line))
            return {};
    }
    return list;
}

void setUpHandle(CURL* h, Transfer& transfer, RequestSlots& request)
{
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxReplyBodyBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &request);

    // An explicit proxy setting, even the empty one, keeps the http_proxy
    // and no_proxy environment variables out of the way. curl copies the
    // strings it is given.
    const std::string proxy = textTrim(request.proxy, " \t");
    const std::string proxyUrl = proxy.empty() ? std::string() : "http://" + proxy;
    curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");

    // The cookie engine of this handle gets the stored cookies of each host
    // the first time a hop goes there; what it holds at the end, compared
    // with what it was given, is what the replies did.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
}

// The stored cookies a handle was given, and the hosts its hops went to.
struct GivenCookies {
    std::vector<std::string> lines;
    std::set<std::string> keys;
    std::vector<std::string> hosts;

    void giveFor(CURL* h, const std::string& host, const CookieSource& cookiesFor)
    {
        if (std::find(hosts.begin(), hosts.end(), host) != hosts.end())
            return;
        hosts.push_back(host);
        for (std::string& line : cookiesFor(host)) {
            if (!keys.insert(CookieStore::keyOf(line)).second)
                continue;
            curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
            lines.push_back(std::move(line));
        }
    }
};

// What the replies did to the cookies the handle was given.
CookieChanges changesOf(CURL* h, const GivenCookies& given)
{
    CookieChanges changes;
    curl_slist* jar = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &jar) != CURLE_OK)
        return changes;
    SlistPtr owned(jar);
    // curl only takes a cookie from a host it may belong to; checked again
    // here, so that no hop can plant cookies for another host.
    std::vector<std::string> kept;
    for (std::string& line : toLines(jar)) {
        if (std::any_of(given.hosts.begin(), given.hosts.end(), [&](const std::string& other) {
                return CookieStore::belongsTo(line, other);
            }))
            kept.push_back(std::move(line));
    }
    changes.add(given.lines, kept);
    return changes;
}

// The two header lists of an exchange: the block as built for the request,
// and the one for a POST turned into a GET by a redirect, which goes
// without the content lines.
struct HeaderLists {
    SlistPtr asSent;
    SlistPtr asGet;
};

// Points the handle at `hop` and sends it, as the POST of the request or as
// a GET, into a response emptied of any earlier hop's body.
CURLcode sendHop(CURL* h, const Hop& hop, bool post, const HeaderLists& lists, Transfer& transfer)
{
    RequestSlots& request = transfer.request;
    curl_easy_setopt(h, CURLOPT_URL, hop.url.c_str());
    if (post) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, lists.asSent.get());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, lists.asGet.get());
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    request.response.resize(transfer.bodyStart);
    transfer.headerBytes = 0;
    return curl_easy_perform(h);
}

// The status of the reply just received and where it redirects to.
std::optional<Hop> redirectOfReply(CURL* h, long* status)
{
    char* location = nullptr;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, status);
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) != CURLE_OK)
        location = nullptr;
    return redirectOf(*status, location);
}

// Sends the request to `origin` and follows the redirects of its replies
// (redirects.h) until a final reply, whose body stays in the response.
// A bound passed on any hop leaves the response empty and no changes.
CookieChanges followHops(CURL* h, Transfer& transfer, const HeaderLists& lists, const Hop& origin,
                         bool post, const CookieSource& cookiesFor)
{
    GivenCookies given;
    Hop hop = origin;
    for (long redirects = 0;; ++redirects) {
        given.giveFor(h, hop.host, cookiesFor);
        const CURLcode result = sendHop(h, hop, post, lists, transfer);
        if (transfer.overflowed || result == CURLE_FILESIZE_EXCEEDED) {
            transfer.request.response.resize(transfer.bodyStart);
            transfer.request.response.shrink_to_fit();
            return {};
        }
        if (result != CURLE_OK || redirects >= maxRedirects)
            break;
        long status = 0;
        std::optional<Hop> next = redirectOfReply(h, &status);
        if (!next)
            break;
        const HopMethod method = methodAfterRedirect(post, status, *next, origin);
        if (method == HopMethod::Final)
            break;
        post = method == HopMethod::Post;
        hop = std::move(*next);
    }
    return changesOf(h, given);
}

} // namespace

CookieChanges performExchange(RequestSlots& request, const CookieSource& cookiesFor)
{
    const std::string host = urlHost(request.url);
    const int port = urlPort(request.url);
    const bool isGet = request.method.empty() || request.method == "GET";
    const bool isPost = request.method == "POST";
    if ((!isGet && !isPost) || !isReachableHostName(host))
        return {};

    const std::string callerHeaders = request.headers;
    request.headers = headerBlock(callerHeaders, request.url, request.method, request.body);

    initCurlOnce();
    CurlPtr curl(curl_easy_init());
    if (!curl)
        return {};
    HeaderLists lists{curlHeaderList(request.headers),
                      curlHeaderList(headerBlock(callerHeaders, request.url, "GET", ""))};
    if (!lists.asSent || !lists.asGet)
        return {};
    Transfer transfer{request, request.response.size()};
    setUpHandle(curl.get(), transfer, request);
    const Hop origin{targetUrl(host, port, urlPath(request.url)), host, port};
    return followHops(curl.get(), transfer, lists, origin, isPost, cookiesFor);
}

std::string headerBlock(std::string_view headers, std::string_view url, std::string_view method,
                        std::string_view body)
{
    std::string block(headers);
    if (!containsNoCase(block, "Accept: "))
        block += defaultAcceptLine;
    if (!containsNoCase(block, "Referer: ")) {
        block += "Referer: ";
        block += url;
        block += "\r\n";
    }
    if (!containsNoCase(block, "Accept-Language: "))
        block += "Accept-Language: zh-cn\r\n";
    if (method == "POST" && !body.empty()) {
        block += formContentTypeLine;
        block += "Content-Length: ";
        block += std::to_string(body.size());
        block += "\r\n";
    }
    return block;
}

void performRequest(CookieStore& cookies, RequestSlots& request)
{
    request.running.store(true);
    CookieChanges changes = performExchange(
        request, [&cookies](std::string_view host) { return cookies.linesFor(host); });
    if (!request.abandoned.load())
        cookies.apply(changes);
    request.running.store(false);
}

} // namespace qiv
