#include "client_cuts.h"
#include "devserver/pages.h"
#include "devserver/rules.h"
#include "markers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace qiv::devserver {
namespace {

using test::AccountView;
using test::fromHex;
using test::gbkOf;
using test::readAccountPage;
using test::readReasons;
using test::split;
using test::textBetween;

using namespace test::markers;

Account sampleAccount(bool hide)
{
    Account a;
    a.name = "abc";
    a.suffix = "qiv.cn";
    a.password = "secret1";
    a.title = gbkOf("我的主页");
    a.sendUrl = "http://127.0.0.1/x?a=1&b=2";
    a.hide = hide;
    a.email = "a@b.cn";
    a.regName = gbkOf("张三");
    a.linkTel = "010-12345678";
    a.address = gbkOf("北京市海淀区 1号");
    return a;
}

TEST(AccountPage, ClientCutsFindEveryValueWhenNotHidden)
{
    const Account a = sampleAccount(false);
    const AccountView v = readAccountPage(accountPage(a).body);
    EXPECT_EQ(v.title, a.title);
    EXPECT_EQ(v.sendUrl, a.sendUrl);
    EXPECT_EQ(v.email, a.email);
    EXPECT_EQ(v.regName, a.regName);
    EXPECT_EQ(v.linkTel, a.linkTel);
    EXPECT_EQ(v.address, a.address);
    // Exactly "1": the client unticks its hide box.
    EXPECT_EQ(v.stateText, "1");
}

TEST(AccountPage, HiddenAccountGivesAFlagTextOtherThanOne)
{
    const Account a = sampleAccount(true);
    const AccountView v = readAccountPage(accountPage(a).body);
    EXPECT_EQ(v.title, a.title);
    EXPECT_EQ(v.address, a.address);
    EXPECT_EQ(v.stateText, "1\" checked=\"checked");
}

TEST(AccountPage, EmptyValuesGiveEmptyFields)
{
    Account a;
    a.name = "abc";
    a.suffix = "qiv.cn";
    const AccountView v = readAccountPage(accountPage(a).body);
    EXPECT_EQ(v.title, "");
    EXPECT_EQ(v.sendUrl, "");
    EXPECT_EQ(v.email, "");
    EXPECT_EQ(v.regName, "");
    EXPECT_EQ(v.linkTel, "");
    EXPECT_EQ(v.address, "");
    EXPECT_EQ(v.stateText, "1");
}

TEST(AccountPage, DoubleQuoteInAValueIsWrittenAsEntity)
{
    Account a = sampleAccount(false);
    a.title = "say \"hi\"";
    const std::string body = accountPage(a).body;
    EXPECT_EQ(readAccountPage(body).title, "say &quot;hi&quot;");
    EXPECT_EQ(readAccountPage(body).sendUrl, a.sendUrl);
}

TEST(AccountPage, SectionMarkersAreTheContractBytes)
{
    const Reply reply = accountPage(sampleAccount(false));
    ASSERT_EQ(reply.markers.size(), 2u);
    EXPECT_EQ(reply.markers[0], kSectionStart);
    EXPECT_EQ(reply.markers[1], kSectionEnd);
    const std::size_t start = reply.body.find(kSectionStart);
    const std::size_t end = reply.body.find(kSectionEnd);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(start, end);
}

TEST(RegistrationErrorPage, ClientCutFindsEveryReasonInOrder)
{
    std::vector<std::string> all;
    for (int r = 0; r <= static_cast<int>(Rule::NameTaken); ++r)
        all.push_back(ruleReason(static_cast<Rule>(r)));
    EXPECT_EQ(readReasons(registrationErrorPage(all).body), all);
    const std::vector<std::string> two{ruleReason(Rule::Title), ruleReason(Rule::Address)};
    EXPECT_EQ(readReasons(registrationErrorPage(two).body), two);
    EXPECT_TRUE(readReasons(registrationErrorPage({}).body).empty());
}

TEST(RegistrationErrorPage, ReasonsAreDistinctValidGbkWithoutCutDelimiters)
{
    std::vector<std::string> seen;
    for (int r = 0; r <= static_cast<int>(Rule::NameTaken); ++r) {
        const std::string reason = ruleReason(static_cast<Rule>(r));
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find("><"), std::string::npos);
        EXPECT_EQ(reason.find("<br"), std::string::npos);
        EXPECT_EQ(reason.find("');"), std::string::npos);
        for (const std::string& other : seen)
            EXPECT_NE(reason, other);
        seen.push_back(reason);
    }
    EXPECT_EQ(
        ruleReason(Rule::NameLength),
        fromHex("d3f2c3fb b3a4b6c8 b2bbc4dc c9d9d3da 33 b8f6 d7d6b7fb")); // 域名长度不能少于3个字符
}

TEST(SuffixListPage, ClientCutGivesTheSuffixesInOrder)
{
    const std::vector<std::string> suffixes{"qiv.cn", "qiv.net", "qiv.org", "x-y.com"};
    const std::string body = suffixListPage(suffixes).body;
    const std::vector<std::string> read = test::readSuffixes(body);
    EXPECT_EQ(read, suffixes);
}

TEST(UserCountPage, ClientCutGivesTheNumber)
{
    EXPECT_EQ(userCountPage(0).body, "document.write('0');");
    EXPECT_EQ(textBetween(userCountPage(1234).body, "document.write('", "');"), "1234");
}

TEST(AlertPage, ClientCutGivesTheReason)
{
    const std::string reason = gbkOf("请填写主页名称");
    EXPECT_EQ(textBetween(alertPage(reason).body, "alert('", "');"), reason);
}

TEST(AdPages, EachBoxHasItsOwnSizedPage)
{
    ASSERT_EQ(adBoxes().size(), 4u);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"280.html", "width:400px;height:112px"},
        {"270x270.html", "width:416px;height:256px"},
        {"250x90.html", "width:344px;height:104px"},
        {"199.html", "width:360px;height:176px"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(adBoxes()[i].name, expected[i].first);
        EXPECT_NE(adPage(adBoxes()[i]).body.find(expected[i].second), std::string::npos)
            << expected[i].first;
    }
}

// Every page is valid GBK throughout (iconv accepts it whole).
bool isValidGbk(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    std::string in = bytes;
    char* src = in.data();
    std::size_t srcLeft = in.size();
    std::string out(in.size() * 3 + 16, '\0');
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    return r != static_cast<std::size_t>(-1) && srcLeft == 0;
}

TEST(Pages, AllPagesAreValidGbk)
{
    const Account a = sampleAccount(true);
    const std::vector<Reply> replies{
        suffixListPage({"qiv.cn"}),
        userCountPage(3),
        availablePage("abc", "qiv.cn"),
        unavailablePage("abc", "qiv.cn", ruleReason(Rule::NameTaken)),
        registeredPage(a),
        registrationErrorPage({ruleReason(Rule::Title)}),
        wrongPasswordPage(),
        accountPage(a),
        modifiedPage(),
        alertPage(ruleReason(Rule::Email)),
        deletedPage(),
        adPage(adBoxes()[0]),
        animatedAdPage(),
        notFoundPage(),
        methodNotAllowedPage(),
        busyPage(),
    };
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_TRUE(isValidGbk(replies[i].body)) << "reply " << i;
        for (const std::string& marker : replies[i].markers)
            EXPECT_NE(replies[i].body.find(marker), std::string::npos) << "reply " << i;
    }
}

TEST(Pages, BusyPageHoldsNoMarker)
{
    const std::string body = busyPage().body;
    const std::vector<std::string> markers{
        kAvailable, kRegistered, kErrorStart, kWrongPassword,  kSectionStart,
        kModified,  "alert('",   kDeleted,    "domainname\">", "document.write('",
    };
    for (const std::string& marker : markers)
        EXPECT_EQ(body.find(marker), std::string::npos);
}

TEST(Rules, GbkCharacterCount)
{
    EXPECT_EQ(gbkCharacterCount(""), 0u);
    EXPECT_EQ(gbkCharacterCount("abcdef"), 6u);
    EXPECT_EQ(gbkCharacterCount(gbkOf("密码")), 2u);
    EXPECT_EQ(gbkCharacterCount(gbkOf("a密码b")), 4u);
    // A lead byte at the very end counts alone.
    EXPECT_EQ(gbkCharacterCount("ab\xC9"), 3u);
}

struct RuleCase {
    const char* label;
    test::Fields changes; // applied to a valid form
    bool taken;
    std::vector<Rule> failed;
};

test::Fields validRegistration()
{
    return {{"username", "abc"},       {"domainname", "qiv.cn"}, {"Password", "secret1"},
            {"rePassword", "secret1"}, {"Title", "T"},           {"SendUrl", "http://x"},
            {"EmailAdr", "a@b.cn"},    {"RegName", "R"},         {"LinkTel", "1"},
            {"Address", "A"}};
}

FormData formWith(const test::Fields& changes)
{
    test::Fields fields = validRegistration();
    for (const auto& [key, value] : changes) {
        bool replaced = false;
        for (auto& field : fields) {
            if (field.first == key) {
                field.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            fields.emplace_back(key, value);
    }
    return FormData::parse(test::encodedForm(fields));
}

TEST(Rules, RegistrationTable)
{
    const std::vector<std::string> suffixes{"qiv.cn", "qiv.net"};
    const std::vector<RuleCase> cases{
        {"valid", {}, false, {}},
        {"name of 2 bytes", {{"username", "ab"}}, false, {Rule::NameLength}},
        {"name of 3 bytes", {{"username", "a-1"}}, false, {}},
        {"empty name", {{"username", ""}}, false, {Rule::NameLength}},
        {"name with space", {{"username", "a b"}}, false, {Rule::NameCharacters}},
        {"Chinese name of 2 bytes",
         {{"username", gbkOf("中")}},
         false,
         {Rule::NameLength, Rule::NameCharacters}},
        {"unknown suffix", {{"domainname", "qiv.org"}}, false, {Rule::Suffix}},
        {"password of 5",
         {{"Password", "12345"}, {"rePassword", "12345"}},
         false,
         {Rule::PasswordLength}},
        {"password of 6", {{"Password", "123456"}, {"rePassword", "123456"}}, false, {}},
        {"password of 12",
         {{"Password", "123456789012"}, {"rePassword", "123456789012"}},
         false,
         {}},
        {"password of 13",
         {{"Password", "1234567890123"}, {"rePassword", "1234567890123"}},
         false,
         {Rule::PasswordLength}},
        {"six Chinese characters",
         {{"Password", gbkOf("六个汉字密码")}, {"rePassword", gbkOf("六个汉字密码")}},
         false,
         {}},
        {"confirmation differs", {{"rePassword", "secret2"}}, false, {Rule::PasswordConfirm}},
        {"taken", {}, true, {Rule::NameTaken}},
        {"empty form",
         {{"username", ""},
          {"domainname", ""},
          {"Password", ""},
          {"rePassword", ""},
          {"Title", ""},
          {"SendUrl", ""},
          {"EmailAdr", ""},
          {"RegName", ""},
          {"LinkTel", ""},
          {"Address", ""}},
         false,
         {Rule::NameLength, Rule::Suffix, Rule::PasswordLength, Rule::Title, Rule::SendUrl,
          Rule::Email, Rule::RegName, Rule::LinkTel, Rule::Address}},
    };
    for (const RuleCase& c : cases)
        EXPECT_EQ(checkRegistration(formWith(c.changes), suffixes, c.taken), c.failed) << c.label;
}

TEST(Rules, ModificationReportsTheFirstFailure)
{
    const test::Fields ok{{"psw", ""},      {"Title", "T"},   {"SendUrl", "u"}, {"EmailAdr", "e"},
                          {"RegName", "r"}, {"LinkTel", "1"}, {"Address", "a"}};
    EXPECT_EQ(checkModification(FormData::parse(test::rawForm(ok))), std::nullopt);
    test::Fields shortPassword = ok;
    shortPassword[0].second = "12345";
    shortPassword[1].second = "";
    EXPECT_EQ(checkModification(FormData::parse(test::rawForm(shortPassword))),
              Rule::PasswordLength);
    test::Fields noMail = ok;
    noMail[3].second = "";
    noMail[6].second = "";
    EXPECT_EQ(checkModification(FormData::parse(test::rawForm(noMail))), Rule::Email);
}

} // namespace
} // namespace qiv::devserver
