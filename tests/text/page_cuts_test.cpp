// The cuts that read the service's replies: the account page, the suffix list,
// the registration's reasons and the public-IP reply.
#include "text/page_cuts.h"

#include "text/account_forms.h"
#include "text/ip_target.h"
#include "text/verdicts.h"

#include <gtest/gtest.h>

namespace qiv {
namespace {

// An account page as the service writes it, with the State input given.
std::string accountPage(const std::string& stateInput, const std::string& title = "T1",
                        const std::string& email = "a@b.c", bool withEnd = true)
{
    std::string page =
        "<html><body><form><b><br>修改资料</b><table>"
        "<tr><td align=right>主页名称:</td><td><input value=\"" +
        title +
        "\" name=\"Title\"></td></tr>"
        "<tr><td>转向地址:</td><td><input value=\"http://x.cn/a?b=1\" "
        "name=\"SendUrl\"></td></tr>"
        "<tr><td>" +
        stateInput +
        "是否隐藏真实URL？</td></tr>"
        "<tr><td>站长EMAIL:</td><td><input value=\"" +
        email +
        "\" name=\"EmailAdr\"></td></tr>"
        "<tr><td>注册人姓名:</td><td><input value=\"张三\" readonly></td></tr>"
        "<tr><td>联系电话:</td><td><input value=\"010-123456\">必填，包括区号</td></tr>"
        "<tr><td>联系地址:</td><td><input value=\"北京\" name=\"Address\"></td></tr>"
        "</table>";
    if (withEnd)
        page += "* 隐藏真实url后地址栏将一直显示您的域名</form>";
    return gbk(page);
}

TEST(AccountPageCut, AllMarkersStateOne)
{
    AccountPage cut = cutAccountPage(accountPage("<input name=\"State\" value=\"1\">"));
    EXPECT_TRUE(cut.hasSection);
    EXPECT_EQ(cut.values.Title, "T1");
    EXPECT_EQ(cut.values.SendUrl, "http://x.cn/a?b=1");
    EXPECT_EQ(cut.values.EmailAdr, "a@b.c");
    EXPECT_EQ(cut.values.RegName, gbk("张三"));
    EXPECT_EQ(cut.values.LinkTel, "010-123456");
    EXPECT_EQ(cut.values.Address, gbk("北京"));
    EXPECT_EQ(cut.state, "1");
}

TEST(AccountPageCut, StateTexts)
{
    const struct {
        const char* input;
        const char* state;
        bool hidden; // the hide box ends up ticked
    } cases[] = {
        {"<input name=\"State\" value=\"1\">", "1", false},
        {"<input name=\"State\" value=\"0\">", "0", true},
        {"<input name=\"State\" value=\"1 \">", "1 ", true},
        {"<input name=\"State\" value=\"\">", "", true},
        // Another attribute behind the value: the end marker is not found.
        {"<input name=\"State\" value=\"1\" checked>", "", true},
    };
    for (const auto& c : cases) {
        AccountPage cut = cutAccountPage(accountPage(c.input));
        EXPECT_EQ(cut.state, c.state) << c.input;
        EXPECT_EQ(cut.state != "1", c.hidden) << c.input;
    }
    // No State input at all: the absent start marker makes the cut run from
    // the section's third byte, which is never "1".
    EXPECT_NE(cutAccountPage(accountPage("<input name=\"Other\">")).state, "1");
}

TEST(AccountPageCut, ValuesAndMarkers)
{
    // A double quote ends the value; an empty attribute gives an empty value.
    AccountPage quoted = cutAccountPage(accountPage("", "say \"hi\""));
    EXPECT_EQ(quoted.values.Title, "say ");
    EXPECT_EQ(cutAccountPage(accountPage("", "")).values.Title, "");

    // Section start without its end: everything empty.
    AccountPage open = cutAccountPage(accountPage("", "T1", "a@b.c", false));
    EXPECT_FALSE(open.hasSection);
    EXPECT_EQ(open.values.Title, "");
    EXPECT_EQ(open.values.Address, "");

    // A label repeated later in the section is ignored.
    std::string repeated = accountPage("");
    repeated.insert(repeated.find(gbk("* 隐藏")),
                    gbk("<td>主页名称:</td><input value=\"second\" name=x>"));
    EXPECT_EQ(cutAccountPage(repeated).values.Title, "T1");

    // Empty reply, wrong-password page: no section.
    EXPECT_FALSE(cutAccountPage("").hasSection);
    EXPECT_FALSE(cutAccountPage(gbk("您输入的密码错误")).hasSection);
    // The end marker alone, before a start marker, is not a section.
    EXPECT_FALSE(
        cutAccountPage(gbk(" 隐藏真实url后地址栏将一直显示您的域名<b><br>修改资料")).hasSection);
}

// The default page with one row's value replaced (the defaults are
// distinct, so the replacement finds exactly its row).
const char* const kRows[] = {"Title", "SendUrl", "EmailAdr", "RegName", "LinkTel", "Address"};
const char* const kDefaults[] = {"T1", "http://x.cn/a?b=1", "a@b.c", "张三", "010-123456", "北京"};
const std::string kStateOne = "<input name=\"State\" value=\"1\">";

std::string pageWith(int row, const std::string& valueGbk, const std::string& state = kStateOne)
{
    std::string page = accountPage(state);
    const std::string old = gbk(std::string("value=\"") + kDefaults[row] + "\"");
    return page.replace(page.find(old), old.size(), "value=\"" + valueGbk + "\"");
}

// The follower's strict reading: every value in each of the six rows that
// holds a double quote or a character reference is refused, naming the row;
// the window's reading of the same pages is as before.
TEST(AccountPageCut, StrictReading)
{
    const std::pair<const char*, std::vector<std::string>> groups[] = {
        {"", {"plain text", "", "Tom & Jerry", "a&b", "&x", "&#;", "&#x;", "a>b c=d"}},
        {"holds a double quote",
         {"\"a", "a\"b", "a\"", "a \" b", " \" ", "\"", "say \"hi\" now", "a \"=b", "a\" b=\"c",
          "\" x=\"y", "a\" value=\"b"}},
        {"holds the character reference &",
         {"&quot;", "x&amp;y", "&#34;", "a &#x22; b", "&#X4F6;"}},
    };
    for (int row = 0; row < 6; ++row)
        for (const auto& [problem, values] : groups)
            for (const std::string& value : values) {
                const std::string page = pageWith(row, gbk(value));
                const std::string shown = std::string(kRows[row]) + " = " + value;
                const AccountPage strict = cutAccountPage(page, AccountReading::Strict);
                EXPECT_EQ(isAccountPageWhole(strict), !*problem) << shown;
                EXPECT_NE(strict.problem.find(*problem ? std::string("value of ") + kRows[row] +
                                                             " " + problem
                                                       : ""),
                          std::string::npos)
                    << shown << strict.problem;
                // The window reads it as before.
                EXPECT_EQ(cutAccountPage(page).problem, "") << shown;
            }
    // The hide row: both its markers.
    const struct {
        std::string state;
        const char* problem;
    } states[] = {
        {kStateOne, ""},
        {"<input name=\"State\" value=\"1\" checked=\"checked\">", ""},
        {"<input name=\"Other\">", "the hide flag (State) row is missing"},
        {"", "the hide flag (State) row is missing"},
        {"<input name=\"State\" value=\"1\" checked>", "has no end marker \">是否隐藏真实URL？"},
    };
    for (const auto& c : states) {
        const std::string page = pageWith(0, "T1", c.state);
        const AccountPage strict = cutAccountPage(page, AccountReading::Strict);
        EXPECT_EQ(strict.problem.empty(), !*c.problem) << c.state;
        EXPECT_NE(strict.problem.find(c.problem), std::string::npos) << c.state << strict.problem;
        EXPECT_EQ(strict.hasHideRow, !*c.problem) << c.state;
        // The window takes it as before.
        EXPECT_TRUE(isAccountPageWhole(cutAccountPage(page))) << c.state;
    }
    EXPECT_NE(cutAccountPage("", AccountReading::Strict).problem.find("section"),
              std::string::npos);
}

TEST(SuffixCut, Table)
{
    std::vector<Text> suffixes;
    EXPECT_TRUE(cutDomainSuffixes("<select name=\"domainname\"><option value='s1'>S1</option>"
                                  "<option value='s2'>S2</option><option value=''>-</option>"
                                  "</select>",
                                  suffixes));
    EXPECT_EQ(suffixes, (std::vector<Text>{"s1", "s2"}));

    // A double-quoted value is not taken, but the list still counts as loaded.
    EXPECT_TRUE(cutDomainSuffixes("domainname\"><option value=\"x\">x</select>", suffixes));
    EXPECT_TRUE(suffixes.empty());

    EXPECT_FALSE(cutDomainSuffixes("", suffixes));
    EXPECT_FALSE(cutDomainSuffixes("domainname\">no options</select>", suffixes));
    // Options outside the select do not count.
    EXPECT_FALSE(cutDomainSuffixes("<option value='a'>domainname\"></select>", suffixes));

    // Longer than a domain name: skipped. At most kMaxSuffixes are taken.
    std::string flood = "domainname\"><option value='" + std::string(256, 'x') + "'>";
    for (size_t i = 0; i <= kMaxSuffixes; ++i)
        flood += "<option value='s" + std::to_string(i) + "'>";
    EXPECT_TRUE(cutDomainSuffixes(flood + "</select>", suffixes));
    EXPECT_EQ(suffixes.size(), kMaxSuffixes);
    EXPECT_EQ(suffixes.front() + suffixes.back(), "s0s999");
    // Shown texts are cut, never in half a GBK character.
    EXPECT_EQ(gbkPrefix("a" + gbk("中文"), 4), "a" + gbk("中"));
    EXPECT_EQ(cutModifyAlert("alert('" + std::string(5000, '9') + "');alert('b');"),
              std::string(kMaxShownBytes, '9'));
}

TEST(RegistrationFailure, Reasons)
{
    const std::string heading = gbk("申请域名失败......\r\n");
    std::string page = gbk("<html><p>出错的原因：<ul><li>用户名太短<br><li>密码不一致<br></ul>"
                           "<a href=# >返回上一步重新填写</a>");
    EXPECT_EQ(registrationFailureMessage(page), heading + gbk("\r\n* 用户名太短\r\n* 密码不一致"));
    EXPECT_EQ(registrationFailureMessage(""), heading);
    EXPECT_EQ(registrationFailureMessage(gbk("<p>出错的原因：<ul></ul>返回上一步重新填写")),
              heading);
    // Without the closing link text nothing lies between the markers.
    EXPECT_EQ(registrationFailureMessage(gbk("<p>出错的原因：<li>x<br>")), heading);

    // At most kMaxReasons, each cut to kMaxReasonBytes.
    std::string flood = gbk("<p>出错的原因：") + "<li>" + std::string(300, 'x') + "<br>";
    for (size_t i = 0; i < kMaxReasons; ++i)
        flood += "<li>r<br>";
    EXPECT_EQ(registrationFailureMessage(flood + gbk("返回上一步重新填写")).size(),
              heading.size() + 4 + kMaxReasonBytes + 5 * (kMaxReasons - 1));
}

TEST(PublicIpReply, OnlyAddressesCount)
{
    const struct {
        std::string reply;
        const char* address; // canonical text; nullptr: not an address
    } cases[] = {
        {"203.0.113.7", "203.0.113.7"},
        {"203.0.113.7\r\n", "203.0.113.7"},
        {"  2001:db8::1 \n", "2001:db8::1"},
        {"2001:0DB8:0:0::0001", "2001:db8::1"},
        {"", nullptr},
        {" \r\n", nullptr},
        {"<html><body>502 Bad Gateway</body></html>", nullptr},
        {"203.0.113.7 203.0.113.8", nullptr},
        {"256.1.1.1", nullptr},
        {std::string("1.2.3.4\0", 8), nullptr},
        {"[2001:db8::1]", nullptr},
        {"fe80::1%eth0", nullptr},
    };
    for (const auto& c : cases) {
        std::optional<IpAddress> ip = publicIpFromReply(c.reply);
        EXPECT_EQ(isPublicIpReply(c.reply), c.address != nullptr) << c.reply;
        EXPECT_EQ(ip ? ip->text : "-", c.address ? c.address : "-") << c.reply;
    }
}

// The addresses the follower refuses to follow, at each range's edges, and
// the documentation ones it takes.
TEST(FollowedAddress, RefusedRanges)
{
    const struct {
        const char *first, *last;  // refused
        const char *below, *above; // allowed neighbours; nullptr: none
        const char* reason;        // a part of it
    } ranges[] = {
        {"0.0.0.0", "0.255.255.255", nullptr, "1.0.0.0", "this network"},
        {"10.0.0.0", "10.255.255.255", "9.255.255.255", "11.0.0.0", "private"},
        {"100.64.0.0", "100.127.255.255", "100.63.255.255", "100.128.0.0", "carrier-grade NAT"},
        {"127.0.0.0", "127.255.255.255", "126.255.255.255", "128.0.0.0", "loopback"},
        {"169.254.0.0", "169.254.255.255", "169.253.255.255", "169.255.0.0", "link-local"},
        {"172.16.0.0", "172.31.255.255", "172.15.255.255", "172.32.0.0", "private"},
        {"192.0.0.0", "192.0.0.255", "191.255.255.255", "192.0.1.0", "protocol"},
        {"192.168.0.0", "192.168.255.255", "192.167.255.255", "192.169.0.0", "private"},
        {"198.18.0.0", "198.19.255.255", "198.17.255.255", "198.20.0.0", "benchmark"},
        {"224.0.0.0", "239.255.255.255", "223.255.255.255", nullptr, "multicast"},
        {"240.0.0.0", "255.255.255.255", nullptr, nullptr, "broadcast"},
        {"::", "::", nullptr, nullptr, "unspecified"},
        {"::1", "::1", nullptr, "::2", "loopback"},
        {"::ffff:0.0.0.0", "::ffff:255.255.255.255", "::fffe:ffff:ffff", "::1:0:0:0", "mapped"},
        {"100::", "100::ffff:ffff:ffff:ffff", "ff:ffff::", "100:0:0:1::", "discarded"},
        {"fc00::", "fdff:ffff::ffff", "fbff:ffff::", "fe00::", "unique-local"},
        {"fe80::", "febf:ffff::ffff", "fe7f:ffff::", "fec0::", "link-local"},
        {"ff00::", "ffff::ffff", "feff:ffff::", nullptr, "multicast"},
    };
    const auto reason = [](const char* text) {
        const std::optional<IpAddress> ip = parseIpAddress(text);
        return ip ? refusedAddressReason(*ip) : "not an address";
    };
    for (const auto& r : ranges) {
        for (const char* refused : {r.first, r.last})
            EXPECT_NE(reason(refused).find(r.reason), std::string::npos) << refused;
        for (const char* allowed : {r.below, r.above})
            EXPECT_EQ(allowed ? reason(allowed) : "", "") << (allowed ? allowed : "-");
    }
    // The documentation ranges, and a real public address.
    for (const char* allowed :
         {"192.0.2.1", "198.51.100.23", "203.0.113.7", "2001:db8::1", "2400:cb00::1"})
        EXPECT_EQ(reason(allowed), "") << allowed;
}

// The target's host, compared as an address with the current IP, and the
// target with only its host replaced.
TEST(TargetHost, Table)
{
    const std::optional<IpAddress> v4 = parseIpAddress("198.51.100.9");
    const std::optional<IpAddress> v6 = parseIpAddress("2001:db8::9");
    ASSERT_TRUE(v4 && v6);
    const struct {
        const char* url;
        const char* host;   // the address in it; nullptr: a name, or none
        const char* withV4; // replaceTargetHost with v4
        const char* withV6; // and with v6
    } cases[] = {
        {"http://203.0.113.7:8080/a/b?q=1#f", "203.0.113.7", "http://198.51.100.9:8080/a/b?q=1#f",
         "http://[2001:db8::9]:8080/a/b?q=1#f"},
        {"https://u:p@203.0.113.7/x", "203.0.113.7", "https://u:p@198.51.100.9/x",
         "https://u:p@[2001:db8::9]/x"},
        {"http://[2001:DB8::1]:81/?a=[b]", "2001:db8::1", "http://198.51.100.9:81/?a=[b]",
         "http://[2001:db8::9]:81/?a=[b]"},
        {"203.0.113.7", "203.0.113.7", "198.51.100.9", "2001:db8::9"},
        {"2001:db8::1", "2001:db8::1", "198.51.100.9", "2001:db8::9"},
        {"203.0.113.7:8080/x", "203.0.113.7", "198.51.100.9:8080/x", "[2001:db8::9]:8080/x"},
        {"http://home.example.org:8080/", nullptr, "http://198.51.100.9:8080/",
         "http://[2001:db8::9]:8080/"},
        {"http://[203.0.113.7]/", nullptr, "http://198.51.100.9/", "http://[2001:db8::9]/"},
        {"http://2001:db8::1/", nullptr, "http://198.51.100.9:db8::1/",
         "http://[2001:db8::9]:db8::1/"},
        {"http://[2001:db8::1/", nullptr, "http://[2001:db8::1/", "http://[2001:db8::1/"},
        {"http:///path", nullptr, "http:///path", "http:///path"},
        {"", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        std::optional<IpAddress> host = targetAddress(c.url);
        EXPECT_EQ(host ? host->text : "-", c.host ? c.host : "-") << c.url;
        EXPECT_EQ(replaceTargetHost(c.url, *v4), c.withV4) << c.url;
        EXPECT_EQ(replaceTargetHost(c.url, *v6), c.withV6) << c.url;
    }
    // Addresses, not strings.
    EXPECT_TRUE(targetAddress("http://[2001:db8:0::9]/")->sameAs(*v6));
    EXPECT_FALSE(targetAddress("http://[::ffff:198.51.100.9]/")->sameAs(*v4));
    EXPECT_FALSE(v4->sameAs(*parseIpAddress("198.51.100.10")));
}

// The verdicts the window and qiv-follow take on the same replies.
TEST(ReplyVerdicts, Table)
{
    const std::string whole = accountPage("<input name=\"State\" value=\"1\">");
    std::string noAddressValue = whole;
    const std::string addressValue = gbk("value=\"北京\"");
    noAddressValue.replace(noAddressValue.find(addressValue), addressValue.size(), "x");
    std::string noPhoneEnd = whole;
    noPhoneEnd.erase(noPhoneEnd.find(gbk("必填，包括区号")), 14);
    const struct {
        const char* name;
        std::string reply;
        bool wrongPassword, accountPage, whole, accepted;
        std::string alert;
        bool nameFree = false, registered = false, deleted = false;
    } cases[] = {
        {"account page", whole, false, true, true, false, ""},
        {"wrong password", gbk("<p>您输入的密码错误</p>"), true, false, false, false, ""},
        {"empty", "", false, false, false, false, ""},
        {"section without its end", accountPage("", "T1", "a@b.c", false), false, false, false,
         false, ""},
        // The window shows these; the follower does not write from them.
        {"a value without value=", noAddressValue, false, true, false, false, ""},
        {"a row without its end text", noPhoneEnd, false, true, false, false, ""},
        {"empty value", accountPage("", ""), false, true, true, false, ""},
        {"modified", gbk("<script>alert('您的资料修改成功');</script>"), false, false, false, true,
         gbk("您的资料修改成功")},
        {"refused", gbk("<script>alert('请先登录');alert('x');</script>"), false, false, false,
         false, gbk("请先登录")},
        {"name free", gbk("<p>该域名可以注册！</p>"), false, false, false, false, "", true},
        {"registered", gbk("您的域名已注册成功：<p>出错的原因：</p>"), false, false, false, false,
         "", false, true},
        {"deleted", "<b>{MBuffer}</b>", false, false, false, false, "", false, false, true},
        {"deleted in another case", "{mbuffer}{ MBuffer }", false, false, false, false, ""},
    };
    for (const auto& c : cases) {
        AccountPage page = cutAccountPage(c.reply);
        EXPECT_EQ(isWrongPasswordReply(c.reply), c.wrongPassword) << c.name;
        EXPECT_EQ(isAccountPage(page), c.accountPage) << c.name;
        EXPECT_EQ(isAccountPageWhole(page), c.whole) << c.name;
        EXPECT_EQ(isModifyAccepted(c.reply), c.accepted) << c.name;
        EXPECT_EQ(cutModifyAlert(c.reply), c.alert) << c.name;
        EXPECT_EQ(isNameFreeReply(c.reply), c.nameFree) << c.name;
        EXPECT_EQ(isRegisteredReply(c.reply), c.registered) << c.name;
        EXPECT_EQ(isDeletedReply(c.reply), c.deleted) << c.name;
    }
    EXPECT_FALSE(hideBoxTicked("1"));
    for (const char* state : {"0", "1 ", "", "11"})
        EXPECT_TRUE(hideBoxTicked(state)) << state;
}

// The bytes the window sends (its own test expects the same).
TEST(AccountForms, Bytes)
{
    EXPECT_EQ(loginFormBody("owner", "qiv.cn", "secret1"),
              "username=owner&domainname=qiv.cn&password=secret1&Submit.x=86&Submit.y=24");
    EXPECT_EQ(loginFormBody(gbk("张 三"), "a&b", "p=1"),
              "username=%D5%C5%20%C8%FD&domainname=a%26b&password=p%3D1&Submit.x=86&Submit.y=24");
    AccountChange change{.name = "owner",
                         .suffix = "qiv.cn",
                         .password = "pw",
                         .values = {gbk("我的主页"), "http://example.org/home", "me@example.org",
                                    gbk("张三"), "010-123456", gbk("北京市")},
                         .hide = true};
    EXPECT_EQ(modifyFormBody(change),
              "username=owner&domainname=qiv.cn&psw=pw&Title=%CE%D2%B5%C4%D6%F7%D2%B3"
              "&SendUrl=http%3A%2F%2Fexample.org%2Fhome&State=1"
              "&EmailAdr=me%40example.org&RegName=%D5%C5%C8%FD&LinkTel=010-123456"
              "&Address=%B1%B1%BE%A9%CA%D0");
    change.hide = false;
    change.password.clear();
    EXPECT_EQ(modifyFormBody(change),
              "username=owner&domainname=qiv.cn&psw=&Title=%CE%D2%B5%C4%D6%F7%D2%B3"
              "&SendUrl=http%3A%2F%2Fexample.org%2Fhome"
              "&EmailAdr=me%40example.org&RegName=%D5%C5%C8%FD&LinkTel=010-123456"
              "&Address=%B1%B1%BE%A9%CA%D0");
}

} // namespace
} // namespace qiv
