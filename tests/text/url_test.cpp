#include "text/url.h"

#include <gtest/gtest.h>

#include <string>

namespace qiv {
namespace {

struct UrlCase {
    std::string url;
    std::string host;
    int port;
    std::string path;
};

void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << '"' << c.url << '"';
}

class UrlSplitting : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlSplitting, SplitsIntoHostPortAndPath)
{
    const UrlCase& c = GetParam();
    EXPECT_EQ(urlHost(c.url), c.host);
    EXPECT_EQ(urlPort(c.url), c.port);
    EXPECT_EQ(urlPath(c.url), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, UrlSplitting,
    ::testing::Values(
        UrlCase{"http://host/a/b.php?x=1", "host", 80, "/a/b.php?x=1"},
        UrlCase{"HTTP://Host:8080/x", "host", 8080, "/x"}, UrlCase{"http://host", "host", 80, "/"},
        UrlCase{"http://host:81", "host", 81, "/"}, UrlCase{"http://host:/x", "host", 0, "/x"},
        UrlCase{"http://h/x", "h", 80, "/x"},
        UrlCase{"http://host/p?u=a:b/c", "host", 80, "/p?u=a:b/c"},
        UrlCase{"http://host?x=a/b", "host?x=a", 80, "/b"},
        UrlCase{"host/page.php", "host", 80, "/page.php"}, UrlCase{"host:8000", "host", 8000, "/"},
        UrlCase{"https://host/x", "https", 0, "//host/x"}, UrlCase{"", "", 80, "/"}));

INSTANTIATE_TEST_SUITE_P(
    SchemeAndCase, UrlSplitting,
    ::testing::Values(UrlCase{"Http://WWW.Example.COM/Path/To?Q=Up", "www.example.com", 80,
                              "/Path/To?Q=Up"},
                      UrlCase{"hTtP://a.b:1234", "a.b", 1234, "/"},
                      // Six bytes only: too short to hold the scheme.
                      UrlCase{"http:/", "http", 0, "/"}, UrlCase{"http://", "", 80, "/"},
                      UrlCase{"http:///x", "", 80, "/x"},
                      UrlCase{"ftp://host/x", "ftp", 0, "//host/x"},
                      // Only the first ":" of the host part separates the port.
                      UrlCase{"http://host:81:82/x", "host", 81, "/x"},
                      // Non-ASCII bytes are kept; only ASCII letters are lowered.
                      UrlCase{"http://\xC4\xE3Host/\xBA\xC3", "\xC4\xE3host", 80, "/\xBA\xC3"}));

INSTANTIATE_TEST_SUITE_P(PortTexts, UrlSplitting,
                         ::testing::Values(UrlCase{"http://host:8080x/p", "host", 8080, "/p"},
                                           UrlCase{"http://host:abc/p", "host", 0, "/p"},
                                           UrlCase{"http://host:00081/p", "host", 81, "/p"},
                                           UrlCase{"http://host:8080.9/p", "host", 8080, "/p"},
                                           UrlCase{"http://host:65535/p", "host", 65535, "/p"},
                                           UrlCase{"http://host:65536/p", "host", 0, "/p"},
                                           UrlCase{"http://host:65617/p", "host", 81, "/p"},
                                           UrlCase{"http://host:99999999999/p", "host",
                                                   99999999999LL % 65536, "/p"},
                                           UrlCase{"http://host:-1/p", "host", 65535, "/p"},
                                           UrlCase{"http://host: 81/p", "host", 81, "/p"},
                                           UrlCase{"host:", "host", 0, "/"}));

// The one host rule: config's --*-host values, qiv-follow's --ip-url and the
// engine's hops all go by it. "" is a good name.
TEST(HostNames, OneRuleForEveryHost)
{
    const struct {
        std::string name;
        std::string error;
    } rows[] = {
        {"127.0.0.1", ""},
        {"Ads-1.Example.org", ""},
        {"ad_1.cdn.example.org", ""}, // curl and the resolver take '_'
        {std::string(63, 'a') + ".b", ""},
        {std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
             std::string(61, 'd'),
         ""}, // 253 bytes
        {"", "no host name"},
        {std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
             std::string(62, 'd'),
         "longer than 253"},
        {std::string(64, 'a') + ".b", "a label of the host name is longer than 63"},
        {"a..b", "empty label"},
        {"a.", "empty label"},
        {"a b", "the character ' ' is not allowed"},
        {"me@x", "the character '@'"},
        {"x:80", "the character ':'"},
        {"a\x1b", "the character '\\x1b'"},
        {"\xC4\xE3", "the character '\\xc4'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name.substr(0, 40));
        const std::string error = hostNameError(row.name);
        if (row.error.empty())
            EXPECT_EQ(error, "");
        else
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

TEST(UrlSplittingArgument, IsLeftUnchanged)
{
    const std::string url = "HTTP://Host:8080/x";
    std::string copy = url;
    urlHost(copy);
    urlPort(copy);
    urlPath(copy);
    EXPECT_EQ(copy, url);
}

} // namespace
} // namespace qiv
