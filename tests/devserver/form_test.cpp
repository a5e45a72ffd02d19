#include "devserver/dev_server.h"
#include "devserver/form.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace qiv::devserver {
namespace {

using test::fromHex;

struct DecodeCase {
    const char* label;
    std::string input;
    std::string expected;
};

TEST(PercentDecode, Table)
{
    const std::vector<DecodeCase> cases{
        {"plain", "abc-123", "abc-123"},
        {"escape upper", "%41%42", "AB"},
        {"escape lower", "%c9%be", fromHex("c9be")},
        {"plus is space", "a+b", "a b"},
        {"escaped plus", "a%2Bb", "a+b"},
        {"raw GBK passes", fromHex("c9beb3fd"), fromHex("c9beb3fd")},
        {"raw and escaped GBK agree", "%C9%BE%B3%FD", fromHex("c9beb3fd")},
        {"lone percent", "100%", "100%"},
        {"percent with one digit", "%4", "%4"},
        {"percent with non-hex", "%G1x", "%G1x"},
        {"escaped ampersand and equals", "%26%3D", "&="},
        {"escaped zero byte", "a%00b", std::string("a\0b", 3)},
        {"empty", "", ""},
    };
    for (const DecodeCase& c : cases)
        EXPECT_EQ(percentDecode(c.input), c.expected) << c.label;
}

TEST(PercentDecode, PlusKeptWhenAsked)
{
    EXPECT_EQ(percentDecode("a+b", false), "a+b");
}

TEST(FormData, SplitsDecodesAndKeepsFirstValue)
{
    const FormData form = FormData::parse("username=abc&Title=%D6%D0&State=1&flag&=x&&username=zzz"
                                          "&delinfo=" +
                                          fromHex("c9beb3fd") + "&eq=a=b");
    EXPECT_EQ(form.value("username"), "abc");
    EXPECT_EQ(form.value("Title"), fromHex("d6d0"));
    EXPECT_EQ(form.value("State"), "1");
    ASSERT_TRUE(form.get("flag").has_value());
    EXPECT_EQ(*form.get("flag"), "");
    EXPECT_EQ(form.value(""), "x");
    EXPECT_EQ(form.value("delinfo"), fromHex("c9beb3fd"));
    EXPECT_EQ(form.value("eq"), "a=b");
    EXPECT_FALSE(form.has("missing"));
    EXPECT_EQ(form.value("missing"), "");
    EXPECT_EQ(form.fields().size(), 8u);
}

TEST(FormData, RawAmpersandInValueSplitsTheField)
{
    // A client that does not encode loses the part behind '&' to a new key;
    // the earlier field keeps its first value.
    const FormData form = FormData::parse("Title=a&State=1&EmailAdr=x");
    EXPECT_EQ(form.value("Title"), "a");
    EXPECT_EQ(form.value("State"), "1");
}

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    int port;
};

TEST(ListenAddress, OnlyLoopbackIsAccepted)
{
    const std::vector<AddressCase> cases{
        {"127.0.0.1:8090", true, "127.0.0.1", 8090},
        {"127.0.0.3:0", true, "127.0.0.3", 0},
        {"127.255.255.254:65535", true, "127.255.255.254", 65535},
        {"0.0.0.0:8090", false, "", 0},
        {"192.168.1.2:80", false, "", 0},
        {"128.0.0.1:80", false, "", 0},
        {"localhost:8090", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:-1", false, "", 0},
        {"127.0.0.1:80x", false, "", 0},
        {":8090", false, "", 0},
    };
    for (const AddressCase& c : cases) {
        std::string error;
        const std::optional<ListenAddress> address = parseListenAddress(c.text, &error);
        ASSERT_EQ(address.has_value(), c.ok) << c.text << ": " << error;
        if (c.ok) {
            EXPECT_EQ(address->host, c.host) << c.text;
            EXPECT_EQ(address->port, c.port) << c.text;
        } else {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
        }
    }
}

} // namespace
} // namespace qiv::devserver
