// Page-text primitives, the form encoder and the GBK boundary, as tables of
// byte strings.
#include "text/gbk.h"
#include "text/text.h"

#include <gtest/gtest.h>

namespace qiv {
namespace {

struct BetweenCase {
    const char* name;
    std::string text, start, end, expected;
};

TEST(TextBetween, Table)
{
    const std::string zhong = gbk("中"); // two bytes
    const BetweenCase cases[] = {
        {"first of two items wins", "<li>one<br><li>two<br>", "li>", "<br", "one"},
        {"empty text", "", "li>", "<br", ""},
        {"end marker absent", "li>one", "li>", "<br", ""},
        {"same marker once at the very end", "abc[x]", "[x]", "[x]", ""},
        {"markers share no bytes", "ab-cd", "ab-", "-cd", ""},
        {"adjacent markers", "xxABCDEFyy", "ABC", "DEF", ""},
        {"end marker before start ignored", "E...SmidE", "S", "E", "mid"},
        // Absent start: the search for the end runs from byte length(start)-1.
        {"absent start marker", "0123456789", "xyz", "56", "1234"},
        {"absent start, an end before byte 3 is passed over", "E123E", "abcd", "E", "23"},
        {"GBK values count two bytes", "<b>" + zhong + zhong + "</b>", "<b>", "</b>",
         zhong + zhong},
        {"start at the very end", "abcS", "S", "E", ""},
    };
    for (const BetweenCase& c : cases)
        EXPECT_EQ(textBetween(c.text, c.start, c.end), c.expected) << c.name;
}

TEST(TextPrimitives, FindMiddleTrimLength)
{
    EXPECT_EQ(textFind("abcabc", "c"), 3);
    EXPECT_EQ(textFind("abc", "C"), -1); // case-sensitive
    EXPECT_EQ(textFind("", "a"), -1);
    EXPECT_EQ(textFind(gbk("中文a"), "a"), 5);

    EXPECT_EQ(textMiddle("abcdef", 2, 3), "bcd");
    EXPECT_EQ(textMiddle("abcdef", 5, 100), "ef");
    EXPECT_EQ(textMiddle("abcdef", 7, 1), "");
    EXPECT_EQ(textMiddle("abcdef", 1, 0), "");
    EXPECT_EQ(textMiddle("abcdef", 1, -2), "");

    EXPECT_EQ(textTrim("  a b  "), "a b");
    EXPECT_EQ(textTrim("    "), "");
    EXPECT_EQ(textTrim("\tx"), "\tx"); // only spaces are trimmed
    EXPECT_EQ(textTrim("\t a b\r\n", " \t\r\n"), "a b");
    EXPECT_EQ(asciiLower("AbZ@[\xC4\xE3"), "abz@[\xC4\xE3");

    EXPECT_EQ(textLength(gbk("修改资料")), 8);
}

TEST(TextPrimitives, Split)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(textSplit("a><b", "><"), (V{"a", "b"}));
    EXPECT_EQ(textSplit("ab", "><"), (V{"ab"}));
    EXPECT_EQ(textSplit("><a><", "><"), (V{"", "a", ""}));
    EXPECT_EQ(textSplit("a<option b<option c", "<option"), (V{"a", " b", " c"}));
}

TEST(FormEncode, Table)
{
    const struct {
        std::string value, expected;
    } cases[] = {
        {"abcXYZ019", "abcXYZ019"},
        {"a-b.c_d~e", "a-b.c_d~e"},
        {"a&b=c", "a%26b%3Dc"},
        {"a+b c%d#e", "a%2Bb%20c%25d%23e"},
        {"&State=1", "%26State%3D1"},
        {gbk("删除"), "%C9%BE%B3%FD"},
        {"", ""},
        {std::string("\x00\xff", 2), "%00%FF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formEncode(c.value), c.expected) << c.value;
    EXPECT_EQ(percentEncode("a b#\x7f", [](unsigned char b) { return b == ' ' || b == 0x7f; }),
              "a%20b#%7F");
}

TEST(FormBody, EncodesValuesKeepsRawOnesAndSkipsAbsentPairs)
{
    EXPECT_EQ(formBody({{"u", "a&b"},
                        {"psw", ""},
                        {.key = "State", .value = "1", .raw = true, .present = false},
                        {.key = "del", .value = gbk("删除"), .raw = true}}),
              "u=a%26b&psw=&del=" + gbk("删除"));
}

TEST(Gbk, Conversions)
{
    EXPECT_EQ(utf8ToGbk("删除"), std::optional<std::string>("\xC9\xBE\xB3\xFD"));
    EXPECT_EQ(utf8ToGbk("abc"), std::optional<std::string>("abc"));
    EXPECT_EQ(utf8ToGbk("，？！："),
              std::optional<std::string>("\xA3\xAC\xA3\xBF\xA3\xA1\xA3\xBA"));
    EXPECT_FALSE(utf8ToGbk("emoji \xF0\x9F\x98\x80").has_value());
    EXPECT_FALSE(utf8ToGbk("bad \xC3").has_value()); // truncated UTF-8
    // A tag character that iconv would drop without a word.
    EXPECT_FALSE(utf8ToGbk("a\xF3\xA0\x80\x81"
                           "b")
                     .has_value());
    EXPECT_EQ(gbkToUtf8("\xC9\xBE\xB3\xFD"), "删除");
    // Invalid and truncated GBK shows replacement characters, nothing lost
    // around them.
    EXPECT_EQ(gbkToUtf8("a\xFF"
                        "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(gbkToUtf8("ab\xC9"), "ab\xEF\xBF\xBD");
    std::string big(100000, 'x');
    EXPECT_EQ(gbkToUtf8(big), big);
}

} // namespace
} // namespace qiv
