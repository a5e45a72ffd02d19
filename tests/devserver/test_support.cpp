#include "test_support.h"

#include "text/gbk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace qiv::devserver::test {

std::string fromHex(std::string_view hex)
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::string out;
    int high = -1;
    for (char c : hex) {
        if (c == ' ')
            continue;
        if (high < 0) {
            high = digit(c);
        } else {
            out.push_back(static_cast<char>(high * 16 + digit(c)));
            high = -1;
        }
    }
    return out;
}

std::string gbkOf(std::string_view utf8)
{
    std::optional<std::string> bytes = qiv::utf8ToGbk(utf8);
    if (!bytes)
        throw std::invalid_argument("test text not representable in GBK");
    return *bytes;
}

namespace {

// 1-based position of the first occurrence, -1 when absent.
long find1(std::string_view text, std::string_view sought)
{
    const std::size_t pos = text.find(sought);
    return pos == std::string_view::npos ? -1 : static_cast<long>(pos) + 1;
}

std::string takeMiddle(std::string_view text, long start, long count)
{
    if (count <= 0 || start > static_cast<long>(text.size()))
        return std::string();
    const long from = start < 1 ? 0 : start - 1;
    return std::string(
        text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count)));
}

} // namespace

std::string textBetween(std::string_view text, std::string_view a, std::string_view b)
{
    const long p = find1(text, a);
    const long s = p + static_cast<long>(a.size());
    const std::string r = takeMiddle(text, s, static_cast<long>(text.size()));
    const long q = find1(r, b);
    return takeMiddle(r, 1, q - 1);
}

std::vector<std::string> split(std::string_view text, std::string_view delimiter)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(delimiter, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + delimiter.size();
    }
}

std::string percentEncode(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        }
    }
    return out;
}

std::string rawForm(const Fields& fields)
{
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += key + "=" + value;
    }
    return out;
}

std::string encodedForm(const Fields& fields)
{
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += key + "=" + percentEncode(value);
    }
    return out;
}

namespace {

size_t appendTo(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

} // namespace

CurlClient::CurlClient() : curl_(curl_easy_init())
{
    curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, ""); // cookie engine on, nothing loaded
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROXY, ""); // never a proxy from the environment
}

CurlClient::~CurlClient()
{
    curl_easy_cleanup(curl_);
}

HttpResult CurlClient::get(const std::string& url, long timeoutMs)
{
    return perform(url, nullptr, timeoutMs);
}

HttpResult CurlClient::post(const std::string& url, const std::string& body, long timeoutMs)
{
    return perform(url, &body, timeoutMs);
}

HttpResult CurlClient::perform(const std::string& url, const std::string* body, long timeoutMs)
{
    HttpResult result;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &result.headers);
    if (body != nullptr) {
        curl_easy_setopt(curl_, CURLOPT_POST, 1L);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
    } else {
        curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    }
    result.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
    return result;
}

std::vector<std::string> CurlClient::cookies()
{
    std::vector<std::string> out;
    curl_slist* list = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_COOKIELIST, &list);
    for (curl_slist* item = list; item != nullptr; item = item->next)
        out.emplace_back(item->data);
    curl_slist_free_all(list);
    return out;
}

std::optional<std::string> rawExchange(const std::string& host, int port,
                                       const std::string& request, int timeoutMs,
                                       std::size_t maxBytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            // A reset ends the exchange like a close.
            break;
        }
        if (n == 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
        if (reply.size() >= maxBytes)
            break;
    }
    ::close(fd);
    return reply;
}

} // namespace qiv::devserver::test
