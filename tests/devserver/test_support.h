#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Helpers of the devserver tests: the client's way of cutting pages, GBK
// byte literals, and two HTTP clients (libcurl, and raw bytes on a socket).
namespace qiv::devserver::test {

// Bytes from hex digits, spaces ignored: fromHex("b8c3 d3f2").
std::string fromHex(std::string_view hex);
// UTF-8 to GBK for test data (must be representable).
std::string gbkOf(std::string_view utf8);

// The client's cut: what lies between the first A and the first B behind
// it, with 1-based find/take-middle semantics (an absent A is not special).
std::string textBetween(std::string_view text, std::string_view a, std::string_view b);
std::vector<std::string> split(std::string_view text, std::string_view delimiter);

// Form bodies: raw joins values as they are, encoded percent-encodes every
// byte except unreserved ASCII.
using Fields = std::vector<std::pair<std::string, std::string>>;
std::string rawForm(const Fields& fields);
std::string encodedForm(const Fields& fields);
std::string percentEncode(std::string_view bytes);

struct HttpResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string headers; // raw header block as received
    std::string body;
};

// One libcurl easy handle with its cookie engine on, like a browser
// session: cookies set by a reply go with later requests to that host.
class CurlClient {
public:
    CurlClient();
    ~CurlClient();
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    HttpResult get(const std::string& url, long timeoutMs = 10000);
    HttpResult post(const std::string& url, const std::string& body, long timeoutMs = 10000);
    // The cookies the engine holds, one Netscape line each.
    std::vector<std::string> cookies();

private:
    HttpResult perform(const std::string& url, const std::string* body, long timeoutMs);
    CURL* curl_;
};

// Sends `request` bytes as they are to host:port and returns everything the
// server sends until it closes the connection or maxBytes have come
// (nothing on a failed connect or when the bound of timeoutMs passes first).
std::optional<std::string> rawExchange(const std::string& host, int port,
                                       const std::string& request, int timeoutMs = 10000,
                                       std::size_t maxBytes = std::string::npos);

} // namespace qiv::devserver::test
