#include "net/http_engine.h"

#include "net/cookie_store.h"
#include "text/text.h"
#include "text/url.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
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

// A host name the resolver can be asked about. Anything else (a scheme name
// with a query glued on, blanks, non-ASCII) can never be reached, and curl's
// URL parser would read it differently, so such a request ends unsent.
bool isReachableHostName(std::string_view host)
{
    if (host.empty())
        return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// The path goes out as the URL gave it, GBK bytes included. Only the bytes
// that curl's URL parser refuses or would cut off (blanks, control bytes,
// "#" which it takes for a fragment) are percent-encoded.
std::string wirePath(std::string_view path)
{
    return percentEncode(
        path, [](unsigned char byte) { return byte <= 0x20 || byte == 0x7f || byte == '#'; });
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

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// Where a reply redirects to, as curl resolved its Location.
struct Hop {
    std::string url;
    std::string host; // lower case
    long port = 0;
};

std::string urlPart(CURLU* url, CURLUPart part, unsigned flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text)
        return {};
    std::string result(text);
    curl_free(text);
    return result;
}

// The next hop of a 301, 302, 303, 307 or 308 reply; empty when the reply
// is no redirect or points anywhere but to a plain HTTP host.
std::optional<Hop> redirectOf(CURL* h)
{
    long status = 0;
    char* location = nullptr;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if ((status < 301 || status > 303) && status != 307 && status != 308)
        return {};
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location)
        return {};
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, location, 0) != CURLUE_OK ||
        urlPart(url.get(), CURLUPART_SCHEME) != "http")
        return {};
    Hop hop{location, urlPart(url.get(), CURLUPART_HOST),
            std::atol(urlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str())};
    for (char& c : hop.host)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (!isReachableHostName(hop.host))
        return {};
    return hop;
}

} // namespace

// The address curl is given: port 0 stands for the default HTTP port.
std::string targetUrl(const std::string& host, int port, const std::string& path)
{
    std::string target = "http://" + host;
    if (port != 0 && port != 80) {
        target += ':';
        target += std::to_string(port);
    }
    return target + wirePath(path);
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
    SlistPtr headerList = curlHeaderList(request.headers);
    // A POST turned into a GET by a redirect goes without the content lines.
    SlistPtr getHeaderList = curlHeaderList(headerBlock(callerHeaders, request.url, "GET", ""));
    if (!headerList || !getHeaderList)
        return {};
    CURL* h = curl.get();
    Transfer transfer{request, request.response.size()};
    setUpHandle(h, transfer, request);
    GivenCookies given;

    // Redirects are followed here rather than by curl, so that the body of
    // a POST (it carries passwords) only ever goes to the host and port the
    // request was addressed to. A 301, 302 or 303 turns a POST into a GET
    // without body, as browsers do, and may lead anywhere. A 307 or 308
    // demands the same POST again: it is followed to that host and port
    // only, and a 307 or 308 pointing elsewhere is the final reply.
    bool post = isPost;
    Hop hop{targetUrl(host, port, urlPath(request.url)), host, port};
    for (long redirects = 0;; ++redirects) {
        given.giveFor(h, hop.host, cookiesFor);
        curl_easy_setopt(h, CURLOPT_URL, hop.url.c_str());
        if (post) {
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        } else {
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, getHeaderList.get());
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        }
        request.response.resize(transfer.bodyStart);
        transfer.headerBytes = 0;
        const CURLcode result = curl_easy_perform(h);

        if (transfer.overflowed || result == CURLE_FILESIZE_EXCEEDED) {
            request.response.resize(transfer.bodyStart);
            request.response.shrink_to_fit();
            return {};
        }
        std::optional<Hop> next =
            result == CURLE_OK && redirects < maxRedirects ? redirectOf(h) : std::nullopt;
        if (!next)
            break;
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        const bool sameOrigin = next->host == host && next->port == (port == 0 ? 80 : port);
        if (post && status != 307 && status != 308)
            post = false;
        else if (post && !sameOrigin)
            break;
        hop = std::move(*next);
    }
    return changesOf(h, given);
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
