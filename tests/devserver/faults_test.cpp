#include "devserver/faults.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace qiv::devserver {
namespace {

using test::fromHex;

struct SettingCase {
    const char* text;
    bool ok;
    std::optional<Page> page;
    Fault fault;
};

TEST(FaultSetting, ParseTable)
{
    const std::vector<SettingCase> cases{
        {"login=drop", true, Page::Login, {FaultKind::Drop, 0}},
        {"login=drop:250", true, Page::Login, {FaultKind::Drop, 250}},
        {"reg=delay:3000", true, Page::Reg, {FaultKind::None, 3000}},
        {"getip=no-marker", true, Page::GetIp, {FaultKind::NoMarker, 0}},
        {"ads=empty", true, Page::Ads, {FaultKind::Empty, 0}},
        {"modify_in=long-headers", true, Page::ModifyIn, {FaultKind::LongHeaders, 0}},
        {"modify_html=zero-byte", true, Page::ModifyHtml, {FaultKind::ZeroByte, 0}},
        {"count_user=huge", true, Page::CountUser, {FaultKind::Huge, 0}},
        {"regcheck=truncated:5", true, Page::RegCheck, {FaultKind::Truncated, 5}},
        {"login=bad-gbk", true, Page::Login, {FaultKind::BadGbk, 0}},
        {"modify_html=endless", true, Page::ModifyHtml, {FaultKind::Endless, 0}},
        {"modify_html=flood:10", true, Page::ModifyHtml, {FaultKind::Flood, 10}},
        {"count_user=markup", true, Page::CountUser, {FaultKind::Markup, 0}},
        {"all=empty", true, std::nullopt, {FaultKind::Empty, 0}},
        {"login=none", true, Page::Login, {FaultKind::None, 0}},
        {"login", false, std::nullopt, {}},
        {"nopage=drop", false, std::nullopt, {}},
        {"login=explode", false, std::nullopt, {}},
        {"login=delay", false, std::nullopt, {}},
        {"login=delay:", false, std::nullopt, {}},
        {"login=delay:-5", false, std::nullopt, {}},
        {"login=drop:1x", false, std::nullopt, {}},
        {"Login=drop", false, std::nullopt, {}},
    };
    for (const SettingCase& c : cases) {
        std::string error;
        const std::optional<FaultSetting> s = parseFaultSetting(c.text, &error);
        ASSERT_EQ(s.has_value(), c.ok) << c.text << ": " << error;
        if (c.ok) {
            EXPECT_EQ(s->page, c.page) << c.text;
            EXPECT_EQ(s->fault, c.fault) << c.text;
        } else {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

TEST(FaultSetting, PageAndKindNamesRoundTrip)
{
    for (Page page : allPages())
        EXPECT_EQ(pageFromName(pageName(page)), page);
    for (FaultKind kind :
         {FaultKind::None, FaultKind::Empty, FaultKind::Drop, FaultKind::NoMarker,
          FaultKind::LongHeaders, FaultKind::ZeroByte, FaultKind::Huge, FaultKind::Truncated,
          FaultKind::BadGbk, FaultKind::Endless, FaultKind::Flood, FaultKind::Markup,
          FaultKind::RawQuotes, FaultKind::Entity, FaultKind::NoHideRow, FaultKind::Stale,
          FaultKind::Altered, FaultKind::FlipHide})
        EXPECT_EQ(faultKindFromName(faultKindName(kind)), kind);
}

Reply sample()
{
    Reply r;
    r.body = "<html>head MARK1 middle MARK2 tail</html>";
    r.markers = {"MARK1", "MARK2"};
    return r;
}

TEST(DamageReply, ZeroByteStandsBeforeTheFirstMarker)
{
    Reply r = sample();
    damageReply(r, FaultKind::ZeroByte);
    EXPECT_EQ(r.body, std::string("<html>head \0MARK1 middle MARK2 tail</html>", 42));
}

TEST(DamageReply, ZeroByteWithoutMarkerGoesInTheMiddle)
{
    Reply r;
    r.body = "abcd";
    damageReply(r, FaultKind::ZeroByte);
    EXPECT_EQ(r.body, std::string("ab\0cd", 5));
}

TEST(DamageReply, TruncatedCutsTheLastMarkerInHalf)
{
    Reply r = sample();
    damageReply(r, FaultKind::Truncated);
    EXPECT_EQ(r.body, "<html>head MARK1 middle MA");
}

TEST(DamageReply, BadGbkSurroundsEveryMarker)
{
    Reply r = sample();
    damageReply(r, FaultKind::BadGbk);
    EXPECT_EQ(r.body, "<html>head \xFFMARK1\x81\xFF middle \xFFMARK2\x81\xFF tail</html>");
}

TEST(DamageReply, BadGbkKeepsAGbkMarkerWhole)
{
    // 该域名可以注册！ begins with a lead byte: the byte in front of it must
    // not pair with that byte.
    Reply r;
    const std::string marker = fromHex("b8c3d3f2c3fbbfc9d2d4d7a2b2e1a3a1");
    r.body = "x" + marker + "y";
    r.markers = {marker};
    damageReply(r, FaultKind::BadGbk);
    EXPECT_EQ(r.body, "x\xFF" + marker + "\x81\xFFy");
}

TEST(DamageReply, LongHeadersAddMoreThanFourKiB)
{
    Reply r = sample();
    const std::string before = r.body;
    damageReply(r, FaultKind::LongHeaders);
    std::size_t bytes = 0;
    for (const auto& [name, value] : r.headers)
        bytes += name.size() + 2 + value.size() + 2;
    EXPECT_GT(bytes, 4096u);
    EXPECT_EQ(r.body, before);
}

TEST(DamageReply, OtherKindsLeaveTheReply)
{
    for (FaultKind kind : {FaultKind::None, FaultKind::Empty, FaultKind::Drop, FaultKind::NoMarker,
                           FaultKind::Huge, FaultKind::Endless, FaultKind::Flood, FaultKind::Markup,
                           FaultKind::RawQuotes, FaultKind::Entity, FaultKind::NoHideRow,
                           FaultKind::Stale, FaultKind::Altered, FaultKind::FlipHide}) {
        Reply r = sample();
        damageReply(r, kind);
        EXPECT_EQ(r.body, sample().body);
        EXPECT_TRUE(r.headers.empty());
    }
}

TEST(HugeBody, PartsJoinToCommentThenPage)
{
    const std::string page = "PAGE!";
    const std::size_t total = 40;
    std::string whole;
    for (std::size_t offset = 0; offset < total; offset += 7)
        whole += hugeBodyPart(page, total, offset, 7);
    EXPECT_EQ(whole.size(), total);
    EXPECT_EQ(whole, "<!--" + std::string(total - 4 - 5 - page.size(), '.') + "-->\r\n" + page);
    EXPECT_EQ(hugeBodyPart(page, total, total, 10), "");
}

TEST(HugeBody, FullSizeEndsWithThePage)
{
    const std::string page = "<html>the page</html>";
    EXPECT_EQ(hugeBodyPart(page, kHugeBodySize, 0, 8), "<!--....");
    const std::string last = hugeBodyPart(page, kHugeBodySize, kHugeBodySize - 30, 100);
    EXPECT_EQ(last, "....-->\r\n" + page);
    EXPECT_EQ(kHugeBodySize, 52428800u);
}

} // namespace
} // namespace qiv::devserver
