#include "net/redirects.h"

#include "text/text.h"
#include "text/url.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace qiv {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
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

// The path goes out as the URL gave it, GBK bytes included. Only the bytes
// that curl's URL parser refuses or would cut off (blanks, control bytes,
// "#" which it takes for a fragment) are percent-encoded.
std::string wirePath(std::string_view path)
{
    return percentEncode(
        path, [](unsigned char byte) { return byte <= 0x20 || byte == 0x7f || byte == '#'; });
}

bool isRedirectStatus(long status)
{
    return (status >= 301 && status <= 303) || status == 307 || status == 308;
}

} // namespace

bool isReachableHostName(std::string_view host)
{
    return hostNameError(host).empty();
}

std::string targetUrl(const std::string& host, int port, const std::string& path)
{
    std::string target = "http://" + host;
    if (port != 0 && port != 80) {
        target += ':';
        target += std::to_string(port);
    }
    return target + wirePath(path);
}

std::optional<Hop> redirectOf(long status, const char* location)
{
    if (!isRedirectStatus(status) || !location)
        return {};
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, location, 0) != CURLUE_OK ||
        urlPart(url.get(), CURLUPART_SCHEME) != "http")
        return {};
    Hop hop{location, urlPart(url.get(), CURLUPART_HOST),
            std::atol(urlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str())};
    hop.host = asciiLower(hop.host);
    if (!isReachableHostName(hop.host))
        return {};
    return hop;
}

HopMethod methodAfterRedirect(bool post, long status, const Hop& next, const Hop& origin)
{
    if (!post)
        return HopMethod::Get;
    if (status != 307 && status != 308)
        return HopMethod::Get;
    const bool sameOrigin =
        next.host == origin.host && next.port == (origin.port == 0 ? 80 : origin.port);
    return sameOrigin ? HopMethod::Post : HopMethod::Final;
}

} // namespace qiv
