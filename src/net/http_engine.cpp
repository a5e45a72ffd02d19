#include "net/http_engine.h"

#include "net/cookie_store.h"
#include "net/url.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
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
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (needle.size() > text.size())
        return false;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < needle.size() && lower(text[i + j]) == lower(needle[j]))
            ++j;
        if (j == needle.size())
            return true;
    }
    return false;
}

// True when `line` is a header line named `name` (no case), the way curl
// recognises a custom header that replaces one of its own.
bool namesHeader(std::string_view line, std::string_view name)
{
    return line.size() > name.size() && containsNoCase(line.substr(0, name.size()), name) &&
           (line[name.size()] == ':' || line[name.size()] == ';');
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
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(path.size());
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || byte == '#') {
            result += '%';
            result += hex[byte >> 4];
            result += hex[byte & 0x0f];
        } else {
            result += c;
        }
    }
    return result;
}

std::string trimBlanks(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* request = static_cast<RequestSlots*>(user);
    if (request->abandoned.load(std::memory_order_relaxed))
        return CURL_WRITEFUNC_ERROR;
    request->response.append(data, size * count);
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
// Proxy-Connection lines. The block's final Content-Length line is left to
// curl when curl would write the very same bytes at the very same place
// (right after our lines): then a POST redirected into a GET loses it, as
// it must, instead of announcing a body that never comes.
SlistPtr curlHeaderList(const std::string& block, bool postWithBody)
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
    if (postWithBody && !lines.empty()) {
        bool callerNamesLength = false;
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            callerNamesLength = callerNamesLength || namesHeader(lines[i], "Content-Length");
        if (!callerNamesLength)
            lines.pop_back();
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

void exchange(RequestSlots& request)
{
    const std::string host = urlHost(request.url);
    const std::string path = urlPath(request.url);
    const int port = urlPort(request.url);
    const bool isGet = request.method.empty() || request.method == "GET";
    const bool isPost = request.method == "POST";
    if ((!isGet && !isPost) || !isReachableHostName(host))
        return;

    request.headers = headerBlock(request.headers, request.url, request.method, request.body);
    const bool postWithBody = isPost && !request.body.empty();

    initCurlOnce();
    CurlPtr curl(curl_easy_init());
    if (!curl)
        return;
    SlistPtr headerList = curlHeaderList(request.headers, postWithBody);
    if (!headerList)
        return;
    CURL* h = curl.get();

    // Port 0 stands for the default HTTP port.
    std::string target = "http://" + host;
    if (port != 0 && port != 80) {
        target += ':';
        target += std::to_string(port);
    }
    target += wirePath(path);
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &request);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &request);

    // An explicit proxy setting, even the empty one, keeps the http_proxy
    // and no_proxy environment variables out of the way.
    const std::string proxy = trimBlanks(request.proxy);
    const std::string proxyUrl = proxy.empty() ? std::string() : "http://" + proxy;
    curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");

    if (isPost) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }

    // The cookie engine of this handle gets the stored cookies of the host;
    // what it holds afterwards goes back to the store.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    const std::vector<std::string> loaded = cookieStore().linesFor(host);
    for (const std::string& line : loaded)
        curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());

    curl_easy_perform(h);

    if (request.abandoned.load())
        return;
    curl_slist* jar = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &jar) == CURLE_OK) {
        SlistPtr owned(jar);
        cookieStore().update(loaded, toLines(jar));
    }
}

} // namespace

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

void performRequest(RequestSlots& request)
{
    request.running.store(true);
    exchange(request);
    request.running.store(false);
}

} // namespace qiv
