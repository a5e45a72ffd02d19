// The server in this process, driven over HTTP on loopback.

#include "client_cuts.h"
#include "devserver/dev_server.h"
#include "markers.h"
#include "test_support.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <sstream>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>

namespace qiv::devserver {
namespace {

using namespace test;
using namespace test::markers;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

Options loopbackOptions()
{
    Options options;
    options.serviceAddress = "127.0.0.1:0";
    options.ipAddress = "127.0.0.2:0";
    options.adAddress = "127.0.0.3:0";
    return options;
}

// A valid registration of name under suffix, with Chinese values.
Fields registration(const std::string& name, const std::string& suffix = "qiv.cn",
                    bool hide = false)
{
    Fields f{{"username", name},           {"domainname", suffix},
             {"Password", "secret1"},      {"rePassword", "secret1"},
             {"Title", gbkOf("我的主页")}, {"SendUrl", "http://127.0.0.1:9/home"}};
    if (hide)
        f.emplace_back("State", "1");
    f.insert(f.end(), {{"EmailAdr", "me@qiv.cn"},
                       {"RegName", gbkOf("张三")},
                       {"LinkTel", "010-12345678"},
                       {"Address", gbkOf("北京市海淀区")}});
    return f;
}

std::string loginBody(const std::string& name, const std::string& suffix, const std::string& pw)
{
    return "username=" + name + "&domainname=" + suffix + "&password=" + pw +
           "&Submit.x=86&Submit.y=24";
}

// The client's modification body: hide gives "&State=1" after SendUrl.
std::string modifyBody(const std::string& name, const std::string& psw, const std::string& title,
                       bool hide, const std::string& email = "me@qiv.cn")
{
    return "username=" + name + "&domainname=qiv.cn&psw=" + psw + "&Title=" + title +
           "&SendUrl=http://127.0.0.1:9/new" + (hide ? "&State=1" : "") + "&EmailAdr=" + email +
           "&RegName=" + gbkOf("张三") + "&LinkTel=010-1&Address=" + gbkOf("上海");
}

std::string deleteBody(const std::string& name)
{
    return "username=" + name + "&domainname=qiv.cn&psw=&Title=T&SendUrl=U&EmailAdr=&RegName=" +
           "&LinkTel=&Address=&delinfo=" + kDelete;
}

class DevServerHttp : public ::testing::Test {
protected:
    void SetUp() override { startServer(loopbackOptions()); }

    void startServer(Options options)
    {
        server_ = std::make_unique<DevServer>(std::move(options));
        std::string error;
        ASSERT_TRUE(server_->start(&error)) << error;
        ASSERT_GT(server_->servicePort(), 0);
        ASSERT_GT(server_->ipPort(), 0);
        ASSERT_GT(server_->adPort(), 0);
    }

    std::string url(const std::string& path) const { return server_->serviceUrl() + path; }

    HttpResult post(const std::string& path, const std::string& body)
    {
        return client_.post(url(path), body);
    }

    void registerOk(const std::string& name, bool hide = false)
    {
        const HttpResult r = post("/reg.php", rawForm(registration(name, "qiv.cn", hide)));
        ASSERT_EQ(r.code, CURLE_OK);
        ASSERT_TRUE(contains(r.body, kRegistered)) << qiv::gbkToUtf8(r.body);
    }

    std::unique_ptr<DevServer> server_;
    CurlClient client_;
};

TEST_F(DevServerHttp, FullAccountLife)
{
    // Free, then registered, then taken.
    HttpResult r = client_.get(url("/regcheck.php?username=abc&domainname=qiv.cn"));
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_TRUE(contains(r.body, kAvailable));

    registerOk("abc", true);
    std::optional<Account> stored = server_->findAccount("abc", "qiv.cn");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->password, "secret1");
    EXPECT_EQ(stored->title, gbkOf("我的主页"));
    EXPECT_EQ(stored->sendUrl, "http://127.0.0.1:9/home");
    EXPECT_TRUE(stored->hide);
    EXPECT_EQ(stored->email, "me@qiv.cn");
    EXPECT_EQ(stored->regName, gbkOf("张三"));
    EXPECT_EQ(stored->linkTel, "010-12345678");
    EXPECT_EQ(stored->address, gbkOf("北京市海淀区"));
    EXPECT_EQ(server_->accountCount(), 1u);

    r = client_.get(url("/regcheck.php?username=abc&domainname=qiv.cn"));
    EXPECT_FALSE(contains(r.body, kAvailable));
    r = client_.get(url("/regcheck.php?username=abc&domainname=qiv.net"));
    EXPECT_TRUE(contains(r.body, kAvailable));

    r = post("/reg.php", rawForm(registration("abc")));
    EXPECT_FALSE(contains(r.body, kRegistered));
    EXPECT_EQ(readReasons(r.body), std::vector<std::string>{gbkOf("该域名已被他人注册")});
    EXPECT_EQ(server_->accountCount(), 1u);

    // Wrong password, unknown name, wrong suffix.
    for (const std::string& body :
         {loginBody("abc", "qiv.cn", "secret2"), loginBody("abd", "qiv.cn", "secret1"),
          loginBody("abc", "qiv.net", "secret1")}) {
        r = post("/login.php", body);
        EXPECT_TRUE(contains(r.body, kWrongPassword)) << body;
        EXPECT_FALSE(contains(r.headers, "Set-Cookie")) << body;
    }

    // Login: the account form and a session cookie.
    r = post("/login.php", loginBody("abc", "qiv.cn", "secret1"));
    ASSERT_FALSE(contains(r.body, kWrongPassword));
    EXPECT_TRUE(contains(r.headers, "Set-Cookie: QIVSESSION="));
    AccountView view = readAccountPage(r.body);
    EXPECT_EQ(view.title, gbkOf("我的主页"));
    EXPECT_EQ(view.sendUrl, "http://127.0.0.1:9/home");
    EXPECT_EQ(view.email, "me@qiv.cn");
    EXPECT_EQ(view.regName, gbkOf("张三"));
    EXPECT_EQ(view.linkTel, "010-12345678");
    EXPECT_EQ(view.address, gbkOf("北京市海淀区"));
    EXPECT_NE(view.stateText, "1"); // hidden: the client ticks its box

    // Modify: new title, no State (stop hiding), empty psw keeps the password.
    const std::string newTitle = gbkOf("新的标题");
    r = post("/modify_in.php", modifyBody("abc", "", newTitle, false));
    EXPECT_TRUE(contains(r.body, kModified));
    stored = server_->findAccount("abc", "qiv.cn");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->title, newTitle);
    EXPECT_EQ(stored->sendUrl, "http://127.0.0.1:9/new");
    EXPECT_FALSE(stored->hide);
    EXPECT_EQ(stored->password, "secret1");
    EXPECT_EQ(stored->address, gbkOf("上海"));

    r = post("/login.php", loginBody("abc", "qiv.cn", "secret1"));
    view = readAccountPage(r.body);
    EXPECT_EQ(view.title, newTitle);
    EXPECT_EQ(view.stateText, "1");

    // A bad modification: its alert names the first failed rule; nothing changes.
    r = post("/modify_in.php", modifyBody("abc", "123", "", true));
    EXPECT_FALSE(contains(r.body, kModified));
    EXPECT_EQ(readAlert(r.body), gbkOf("密码长度必须为6到12个字符"));
    r = post("/modify_in.php", modifyBody("abc", "", "", true));
    EXPECT_EQ(readAlert(r.body), gbkOf("请填写主页名称"));
    r = post("/modify_in.php", modifyBody("abc", "", "T", true, ""));
    EXPECT_EQ(readAlert(r.body), gbkOf("请填写站长EMAIL"));
    EXPECT_EQ(server_->findAccount("abc", "qiv.cn"), stored);

    // A new password takes effect for the next login.
    r = post("/modify_in.php", modifyBody("abc", "newpass1", "T", true));
    EXPECT_TRUE(contains(r.body, kModified));
    EXPECT_TRUE(
        contains(post("/login.php", loginBody("abc", "qiv.cn", "secret1")).body, kWrongPassword));
    EXPECT_FALSE(
        contains(post("/login.php", loginBody("abc", "qiv.cn", "newpass1")).body, kWrongPassword));

    // Delete, then the login fails and the old session is gone.
    r = post("/modify_in.php", deleteBody("abc"));
    EXPECT_TRUE(contains(r.body, kDeleted));
    EXPECT_FALSE(server_->findAccount("abc", "qiv.cn"));
    EXPECT_EQ(server_->accountCount(), 0u);
    EXPECT_TRUE(
        contains(post("/login.php", loginBody("abc", "qiv.cn", "newpass1")).body, kWrongPassword));
    r = post("/modify_in.php", modifyBody("abc", "", "T", false));
    EXPECT_EQ(readAlert(r.body), kLoginFirst);
    EXPECT_FALSE(server_->findAccount("abc", "qiv.cn"));
}

TEST_F(DevServerHttp, ModifyNeedsTheSessionOfThatAccount)
{
    registerOk("abc");
    registerOk("xyz");
    // No cookie at all.
    CurlClient stranger;
    HttpResult r = stranger.post(url("/modify_in.php"), modifyBody("abc", "", "T", false));
    EXPECT_EQ(readAlert(r.body), kLoginFirst);
    r = stranger.post(url("/modify_in.php"), deleteBody("abc"));
    EXPECT_FALSE(contains(r.body, kDeleted));
    EXPECT_EQ(readAlert(r.body), kLoginFirst);
    EXPECT_TRUE(server_->findAccount("abc", "qiv.cn"));

    // Logged in as xyz, acting on abc.
    ASSERT_FALSE(
        contains(post("/login.php", loginBody("xyz", "qiv.cn", "secret1")).body, kWrongPassword));
    r = post("/modify_in.php", deleteBody("abc"));
    EXPECT_EQ(readAlert(r.body), kLoginFirst);
    EXPECT_TRUE(server_->findAccount("abc", "qiv.cn"));
    EXPECT_EQ(server_->findAccount("abc", "qiv.cn")->title, gbkOf("我的主页"));

    // A forged cookie.
    const std::string request = "POST /modify_in.php HTTP/1.1\r\nHost: x\r\n"
                                "Cookie: QIVSESSION=0123456789abcdef0123456789abcdef\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Connection: close\r\nContent-Length: " +
                                std::to_string(deleteBody("abc").size()) + "\r\n\r\n" +
                                deleteBody("abc");
    const std::optional<std::string> raw =
        rawExchange("127.0.0.1", server_->servicePort(), request);
    ASSERT_TRUE(raw);
    EXPECT_TRUE(contains(*raw, kLoginFirst));
    EXPECT_TRUE(server_->findAccount("abc", "qiv.cn"));
}

TEST_F(DevServerHttp, SessionsAreBoundedAndRandom)
{
    server_->stop();
    Options options = loopbackOptions();
    options.maxSessions = 2;
    startServer(options);
    registerOk("abc");
    std::array<CurlClient, 3> users;
    std::set<std::string> tokens;
    for (CurlClient& user : users) {
        user.post(url("/login.php"), loginBody("abc", "qiv.cn", "secret1"));
        for (const std::string& line : user.cookies()) {
            const std::string token = line.substr(line.rfind('\t') + 1);
            EXPECT_EQ(token.size(), 32u);
            EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
            tokens.insert(token);
        }
    }
    EXPECT_EQ(tokens.size(), 3u);
    // The first login's session was dropped for the third.
    EXPECT_EQ(
        readAlert(users[0].post(url("/modify_in.php"), modifyBody("abc", "", "T", false)).body),
        kLoginFirst);
    EXPECT_TRUE(contains(
        users[1].post(url("/modify_in.php"), modifyBody("abc", "", "T", false)).body, kModified));
}

TEST_F(DevServerHttp, RequestsOverOneMebibyteAreRefused)
{
    const std::string big(2u << 20, 'x');
    Fields fields = registration("big");
    fields.back().second = big;
    const std::string body = rawForm(fields);
    const std::string post = "POST /reg.php HTTP/1.1\r\nHost: x\r\nContent-Length: ";
    std::string headers = "GET /countUser.php HTTP/1.1\r\nHost: x\r\n";
    while (headers.size() < big.size())
        headers += "X-Padding: " + std::string(100, 'p') + "\r\n";
    const std::vector<std::string> requests{
        post + std::to_string(body.size()) + "\r\n\r\n" + body,
        // Chunked, so that no length announces the size.
        "POST /reg.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
            (std::ostringstream() << std::hex << body.size()).str() + "\r\n" + body +
            "\r\n0\r\n\r\n",
        headers + "\r\n",
    };
    for (const std::string& request : requests) {
        const std::optional<std::string> raw =
            rawExchange("127.0.0.1", server_->servicePort(), request);
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->substr(0, 12), "HTTP/1.1 413") << request.substr(0, 60);
    }
    EXPECT_EQ(server_->accountCount(), 0u);
    EXPECT_EQ(server_->requestCount(Page::Reg), 0u);
    EXPECT_EQ(server_->requestCount(Page::CountUser), 0u);
    // Within the bound a request is served (sent without a form content
    // type: httplib itself refuses form bodies over 8 KiB).
    fields.back().second.resize(kMaxRequestBytes - 4096);
    const std::string fits = rawForm(fields);
    const std::optional<std::string> raw =
        rawExchange("127.0.0.1", server_->servicePort(),
                    post + std::to_string(fits.size()) + "\r\nConnection: close\r\n\r\n" + fits);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->substr(0, 12), "HTTP/1.1 200");
    EXPECT_EQ(server_->accountCount(), 1u);
}

struct ReasonCase {
    const char* label;
    Fields changes;
    std::vector<const char*> reasons; // UTF-8, in order
};

TEST_F(DevServerHttp, RegistrationReasonsInFormOrder)
{
    registerOk("taken");
    const std::vector<ReasonCase> cases{
        {"short name", {{"username", "ab"}}, {"域名长度不能少于3个字符"}},
        {"bad characters", {{"username", "a_b"}}, {"域名只能由英文字母、数字和-组成"}},
        {"unknown suffix", {{"domainname", "qiv.com"}}, {"请选择本站提供的域名后缀"}},
        {"short password",
         {{"Password", "12345"}, {"rePassword", "12345"}},
         {"密码长度必须为6到12个字符"}},
        {"long password",
         {{"Password", "1234567890123"}, {"rePassword", "1234567890123"}},
         {"密码长度必须为6到12个字符"}},
        {"confirmation", {{"rePassword", "secret9"}}, {"两次输入的密码不一致"}},
        {"no title", {{"Title", ""}}, {"请填写主页名称"}},
        {"no target", {{"SendUrl", ""}}, {"请填写转向地址"}},
        {"no e-mail", {{"EmailAdr", ""}}, {"请填写站长EMAIL"}},
        {"no registrant", {{"RegName", ""}}, {"请填写注册人姓名"}},
        {"no telephone", {{"LinkTel", ""}}, {"请填写联系电话"}},
        {"no address", {{"Address", ""}}, {"请填写联系地址"}},
        {"taken", {{"username", "taken"}}, {"该域名已被他人注册"}},
        {"two reasons", {{"Title", ""}, {"Address", ""}}, {"请填写主页名称", "请填写联系地址"}},
        {"taken with a mismatch",
         {{"username", "taken"}, {"rePassword", "x"}},
         {"两次输入的密码不一致", "该域名已被他人注册"}},
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
         {"域名长度不能少于3个字符", "请选择本站提供的域名后缀", "密码长度必须为6到12个字符",
          "请填写主页名称", "请填写转向地址", "请填写站长EMAIL", "请填写注册人姓名",
          "请填写联系电话", "请填写联系地址"}},
    };
    for (const ReasonCase& c : cases) {
        Fields fields = registration("fresh");
        for (const auto& [key, value] : c.changes) {
            for (auto& field : fields) {
                if (field.first == key)
                    field.second = value;
            }
        }
        const HttpResult r = post("/reg.php", rawForm(fields));
        ASSERT_EQ(r.code, CURLE_OK) << c.label;
        EXPECT_FALSE(contains(r.body, kRegistered)) << c.label;
        std::vector<std::string> expected;
        for (const char* reason : c.reasons)
            expected.push_back(gbkOf(reason));
        EXPECT_EQ(readReasons(r.body), expected) << c.label;
    }
    EXPECT_EQ(server_->accountCount(), 1u);
    EXPECT_FALSE(server_->findAccount("fresh", "qiv.cn"));
}

TEST_F(DevServerHttp, EmptyPostedFormIsAnswered)
{
    const HttpResult r = post("/reg.php", "");
    EXPECT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(readReasons(r.body).size(), 9u);
}

TEST_F(DevServerHttp, RawAndEncodedFormsStoreTheSameBytes)
{
    Fields fields = registration("raw");
    fields[4].second = gbkOf("中文 标题");
    ASSERT_TRUE(contains(post("/reg.php", rawForm(fields)).body, kRegistered));
    fields[0].second = "enc";
    ASSERT_TRUE(contains(post("/reg.php", encodedForm(fields)).body, kRegistered));
    std::optional<Account> raw = server_->findAccount("raw", "qiv.cn");
    std::optional<Account> encoded = server_->findAccount("enc", "qiv.cn");
    ASSERT_TRUE(raw && encoded);
    EXPECT_EQ(raw->title, gbkOf("中文 标题"));
    encoded->name = raw->name;
    EXPECT_EQ(*encoded, *raw);

    // Only the encoded form can carry '&', '=', '+' and '%' inside a value.
    fields[0].second = "sym";
    fields[2].second = fields[3].second = "a&b=c+d%";
    ASSERT_TRUE(contains(post("/reg.php", encodedForm(fields)).body, kRegistered));
    EXPECT_EQ(server_->findAccount("sym", "qiv.cn")->password, "a&b=c+d%");
    // Raw, a '+' is a space.
    fields[0].second = "pls";
    fields[2].second = fields[3].second = "a+bcdef";
    ASSERT_TRUE(contains(post("/reg.php", rawForm(fields)).body, kRegistered));
    EXPECT_EQ(server_->findAccount("pls", "qiv.cn")->password, "a bcdef");

    // The deletion marker raw and encoded.
    for (const bool encode : {false, true}) {
        CurlClient c;
        ASSERT_FALSE(contains(
            c.post(url("/login.php"), loginBody(encode ? "enc" : "raw", "qiv.cn", "secret1")).body,
            kWrongPassword));
        std::string body = deleteBody(encode ? "enc" : "raw");
        if (encode)
            body = body.substr(0, body.size() - kDelete.size()) + "%C9%BE%B3%FD";
        EXPECT_TRUE(contains(c.post(url("/modify_in.php"), body).body, kDeleted)) << encode;
    }
    EXPECT_FALSE(server_->findAccount("raw", "qiv.cn"));
    EXPECT_FALSE(server_->findAccount("enc", "qiv.cn"));
}

TEST_F(DevServerHttp, RegCheckTakesRawAndEncodedQueries)
{
    registerOk("abc");
    auto check = [&](const std::string& target) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        return rawExchange("127.0.0.1", server_->servicePort(), request).value_or("");
    };
    EXPECT_TRUE(contains(check("/regcheck.php?username=abd&domainname=qiv.cn"), kAvailable));
    EXPECT_FALSE(contains(check("/regcheck.php?username=abc&domainname=qiv.cn"), kAvailable));
    EXPECT_FALSE(contains(check("/regcheck.php?username=%61bc&domainname=qiv%2Ecn"), kAvailable));
    EXPECT_TRUE(contains(check("/regcheck.php?username=%61bd&domainname=qiv%2Ecn"), kAvailable));
    // Raw GBK in the request line: answered, and such a name is not free.
    const std::string rawGbk =
        check("/regcheck.php?username=" + gbkOf("中文") + "&domainname=qiv.cn");
    EXPECT_TRUE(contains(rawGbk, "200 OK"));
    EXPECT_FALSE(contains(rawGbk, kAvailable));
    EXPECT_TRUE(contains(rawGbk, gbkOf("域名只能由英文字母、数字和-组成")));
    // Too short, unknown suffix, nothing at all.
    EXPECT_FALSE(contains(check("/regcheck.php?username=ab&domainname=qiv.cn"), kAvailable));
    EXPECT_FALSE(contains(check("/regcheck.php?username=abcd&domainname=qiv.xx"), kAvailable));
    EXPECT_FALSE(contains(check("/regcheck.php"), kAvailable));
}

TEST_F(DevServerHttp, EveryPageIsGbkWithItsMarkerBytes)
{
    registerOk("abc");
    struct PageCase {
        const char* label;
        HttpResult result;
        std::string marker;
    };
    CurlClient session;
    std::vector<PageCase> pages;
    pages.push_back(
        {"regcheck", client_.get(url("/regcheck.php?username=zzz&domainname=qiv.cn")), kAvailable});
    pages.push_back({"reg ok", post("/reg.php", rawForm(registration("abd"))), kRegistered});
    pages.push_back({"reg error", post("/reg.php", ""), kErrorStart});
    pages.push_back({"reg error end", post("/reg.php", ""), kErrorEnd});
    pages.push_back(
        {"wrong password", post("/login.php", loginBody("abc", "qiv.cn", "x")), kWrongPassword});
    pages.push_back({"account start",
                     session.post(url("/login.php"), loginBody("abc", "qiv.cn", "secret1")),
                     kSectionStart});
    pages.push_back({"account end",
                     session.post(url("/login.php"), loginBody("abc", "qiv.cn", "secret1")),
                     kSectionEnd});
    pages.push_back({"account state",
                     session.post(url("/login.php"), loginBody("abc", "qiv.cn", "secret1")),
                     "name=\"State\" value=\"1" + kStateEnd});
    pages.push_back({"account tel",
                     session.post(url("/login.php"), loginBody("abc", "qiv.cn", "secret1")),
                     kLinkTelEnd});
    pages.push_back({"modified",
                     session.post(url("/modify_in.php"), modifyBody("abc", "", "T", false)),
                     kModified});
    pages.push_back({"alert",
                     client_.post(url("/modify_in.php"), modifyBody("abc", "", "T", false)),
                     "alert('" + kLoginFirst + "');"});
    pages.push_back({"deleted", session.post(url("/modify_in.php"), deleteBody("abc")), kDeleted});
    pages.push_back({"suffixes", client_.get(url("/modify.html")),
                     "<select name=\"domainname\"><option value='qiv.cn'>qiv.cn</option>"});
    pages.push_back({"count", client_.get(url("/countUser.php")), "document.write('1');"});
    for (const PageCase& p : pages) {
        EXPECT_EQ(p.result.code, CURLE_OK) << p.label;
        EXPECT_EQ(p.result.status, 200) << p.label;
        EXPECT_TRUE(contains(p.result.headers, "Content-Type: text/html; charset=gbk")) << p.label;
        EXPECT_TRUE(contains(p.result.body, p.marker)) << p.label;
    }
}

TEST_F(DevServerHttp, SuffixListAndUserCount)
{
    server_->stop();
    Options options = loopbackOptions();
    options.suffixes = {"s1.cn", "s2.net"};
    startServer(options);
    EXPECT_EQ(readSuffixes(client_.get(url("/modify.html")).body),
              (std::vector<std::string>{"s1.cn", "s2.net"}));
    EXPECT_EQ(readCount(client_.get(url("/countUser.php")).body), "0");
    Fields f = registration("abc", "s2.net");
    ASSERT_TRUE(contains(post("/reg.php", rawForm(f)).body, kRegistered));
    f[0].second = "abd";
    ASSERT_TRUE(contains(post("/reg.php", rawForm(f)).body, kRegistered));
    f[1].second = "qiv.cn"; // not served here
    EXPECT_FALSE(contains(post("/reg.php", rawForm(f)).body, kRegistered));
    EXPECT_EQ(client_.get(url("/countUser.php")).body, "document.write('2');");
}

// By default a documentation address, which a follower takes: the caller's
// own address is a loopback one.
TEST_F(DevServerHttp, IpPageAnswersTheDefaultAddressOnly)
{
    const std::string ipUrl = server_->ipUrl() + "/getip/getip.asp";
    HttpResult r = client_.get(ipUrl);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "198.51.100.1");
    server_->setIpReply("203.0.113.7\r\n");
    EXPECT_EQ(client_.get(ipUrl).body, "203.0.113.7\r\n");
    server_->setIpReply("<html>502 Bad Gateway</html>");
    EXPECT_EQ(client_.get(ipUrl).body, "<html>502 Bad Gateway</html>");
    server_->setIpReply(std::nullopt);
    EXPECT_EQ(client_.get(ipUrl).body, "198.51.100.1");
    // Only on its own address.
    EXPECT_EQ(client_.get(url("/getip/getip.asp")).status, 404);
    EXPECT_EQ(client_.get(server_->ipUrl() + "/login.php").status, 404);
}

TEST_F(DevServerHttp, AdPagesWithBackslashEscapedOrNormalised)
{
    const std::vector<std::pair<std::string, std::string>> boxes{
        {"280.html", "width:400px;height:112px"},
        {"270x270.html", "width:416px;height:256px"},
        {"250x90.html", "width:344px;height:104px"},
        {"199.html", "width:360px;height:176px"},
    };
    for (const auto& [name, size] : boxes) {
        for (const std::string& path : {"/\\" + name, "/%5C" + name, "/%5c" + name, "//" + name}) {
            const std::string request =
                "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.3\r\nConnection: close\r\n\r\n";
            const std::string reply =
                rawExchange("127.0.0.3", server_->adPort(), request).value_or("");
            EXPECT_TRUE(contains(reply, "HTTP/1.1 200")) << path;
            EXPECT_TRUE(contains(reply, "charset=gbk")) << path;
            EXPECT_TRUE(contains(reply, size)) << path;
        }
    }
    const HttpResult animated = client_.get(server_->adUrl() + "/animated.html");
    EXPECT_TRUE(contains(animated.body, "<canvas") && contains(animated.body, "@keyframes"))
        << animated.body;
    EXPECT_EQ(client_.get(server_->adUrl() + "/280.html").status, 404);
    EXPECT_EQ(client_.get(server_->adUrl() + "/%5C281.html").status, 404);
    EXPECT_EQ(client_.get(url("/%5C280.html")).status, 404);
    EXPECT_EQ(server_->requestCount(Page::Ads), 17u);
}

TEST_F(DevServerHttp, UnknownPathsAndWrongMethods)
{
    EXPECT_EQ(client_.get(url("/index.php")).status, 404);
    EXPECT_EQ(client_.get(url("/login.php")).status, 405);
    EXPECT_EQ(client_.post(url("/modify.html"), "a=b").status, 405);
    EXPECT_EQ(client_.post(url("/countUser.php"), "a=b").status, 405);
}

TEST_F(DevServerHttp, RecordsTheLastRequestOfEachPage)
{
    const std::string body = rawForm(registration("abc"));
    ASSERT_TRUE(contains(post("/reg.php", body).body, kRegistered));
    const std::optional<RecordedRequest> rec = server_->lastRequest(Page::Reg);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->method, "POST");
    EXPECT_EQ(rec->target, "/reg.php");
    EXPECT_EQ(rec->body, body);
    EXPECT_EQ(server_->requestCount(Page::Reg), 1u);
    EXPECT_EQ(server_->requestCount(Page::Login), 0u);
    EXPECT_FALSE(server_->lastRequest(Page::Login));

    ASSERT_FALSE(
        contains(post("/login.php", loginBody("abc", "qiv.cn", "secret1")).body, kWrongPassword));
    post("/modify_in.php", modifyBody("abc", "", "T", false));
    EXPECT_TRUE(contains(server_->lastRequest(Page::ModifyIn)->cookie, "QIVSESSION="));
}

// --- faults --------------------------------------------------------------

class DevServerFaults : public DevServerHttp {
protected:
    void SetUp() override
    {
        DevServerHttp::SetUp();
        registerOk("abc");
    }
    HttpResult login() { return post("/login.php", loginBody("abc", "qiv.cn", "secret1")); }
};

TEST_F(DevServerFaults, EmptyReplyChangesNothing)
{
    server_->setFault(Page::Reg, Fault{FaultKind::Empty, 0});
    const HttpResult r = post("/reg.php", rawForm(registration("new")));
    EXPECT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");
    EXPECT_TRUE(contains(r.headers, "Content-Length: 0"));
    EXPECT_FALSE(server_->findAccount("new", "qiv.cn"));
    EXPECT_EQ(server_->requestCount(Page::Reg), 2u);
}

TEST_F(DevServerFaults, DropClosesWithoutAnyByte)
{
    server_->setFault(Page::Login, Fault{FaultKind::Drop, 0});
    EXPECT_EQ(login().code, CURLE_GOT_NOTHING);
    const std::string body = loginBody("abc", "qiv.cn", "secret1");
    const std::string request =
        "POST /login.php HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    const std::optional<std::string> raw =
        rawExchange("127.0.0.1", server_->servicePort(), request);
    ASSERT_TRUE(raw);
    EXPECT_EQ(*raw, "");
    // The other pages still answer.
    EXPECT_EQ(client_.get(url("/countUser.php")).body, "document.write('1');");
}

TEST_F(DevServerFaults, DropOnDeletionKeepsTheAccount)
{
    ASSERT_FALSE(contains(login().body, kWrongPassword));
    server_->setFault("modify_in", Fault{FaultKind::Drop, 0});
    EXPECT_EQ(post("/modify_in.php", deleteBody("abc")).code, CURLE_GOT_NOTHING);
    EXPECT_TRUE(server_->findAccount("abc", "qiv.cn"));
}

TEST_F(DevServerFaults, NoMarkerIsAPlausiblePage)
{
    server_->setFault(Page::Login, Fault{FaultKind::NoMarker, 0});
    const HttpResult r = login();
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(contains(r.body, "<html>"));
    EXPECT_FALSE(contains(r.body, kWrongPassword));
    EXPECT_FALSE(contains(r.body, kSectionStart));
    EXPECT_FALSE(contains(r.headers, "Set-Cookie"));

    server_->setFault(Page::GetIp, Fault{FaultKind::NoMarker, 0});
    const HttpResult ip = client_.get(server_->ipUrl() + "/getip/getip.asp");
    EXPECT_FALSE(contains(ip.body, "198.51.100.1"));
    EXPECT_TRUE(contains(ip.body, "<html>"));

    server_->setFault(Page::Reg, Fault{FaultKind::NoMarker, 0});
    post("/reg.php", rawForm(registration("new")));
    EXPECT_FALSE(server_->findAccount("new", "qiv.cn"));
}

TEST_F(DevServerFaults, LongHeadersKeepBodyAndCookie)
{
    server_->setFault(Page::Login, Fault{FaultKind::LongHeaders, 0});
    const HttpResult r = login();
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_GT(r.headers.size(), 4096u);
    EXPECT_TRUE(contains(r.headers, "Set-Cookie: QIVSESSION="));
    EXPECT_EQ(readAccountPage(r.body).title, gbkOf("我的主页"));
    EXPECT_TRUE(
        contains(post("/modify_in.php", modifyBody("abc", "", "T", false)).body, kModified));
}

TEST_F(DevServerFaults, ZeroByteStandsBeforeTheMarker)
{
    server_->setFault(Page::Reg, Fault{FaultKind::ZeroByte, 0});
    const HttpResult r = post("/reg.php", rawForm(registration("new")));
    const std::size_t zero = r.body.find('\0');
    ASSERT_NE(zero, std::string::npos);
    const std::size_t marker = r.body.find(kRegistered);
    ASSERT_NE(marker, std::string::npos);
    EXPECT_EQ(zero + 1, marker);
    // The page's work is done; only the reply is damaged.
    EXPECT_TRUE(server_->findAccount("new", "qiv.cn"));

    server_->setFault(Page::CountUser, Fault{FaultKind::ZeroByte, 0});
    EXPECT_EQ(client_.get(url("/countUser.php")).body, std::string("\0document.write('2');", 21));
}

TEST_F(DevServerFaults, TruncatedCutsInsideTheMarker)
{
    server_->setFault(Page::Login, Fault{FaultKind::Truncated, 0});
    const HttpResult r = login();
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_TRUE(contains(r.body, kSectionStart));
    EXPECT_FALSE(contains(r.body, kSectionEnd));
    const std::string half = kSectionEnd.substr(0, kSectionEnd.size() / 2);
    EXPECT_EQ(r.body.substr(r.body.size() - half.size()), half);
    EXPECT_EQ(readAccountPage(r.body).title, "");
}

TEST_F(DevServerFaults, BadGbkAroundTheMarkers)
{
    server_->setFault(Page::Login, Fault{FaultKind::BadGbk, 0});
    const HttpResult r = login();
    EXPECT_TRUE(contains(r.body, "\xFF" + kSectionStart + "\x81\xFF"));
    EXPECT_TRUE(contains(r.body, "\xFF" + kSectionEnd + "\x81\xFF"));
    server_->setFault(Page::GetIp, Fault{FaultKind::BadGbk, 0});
    EXPECT_EQ(client_.get(server_->ipUrl() + "/getip/getip.asp").body, "\xFF"
                                                                       "198.51.100.1\x81\xFF");
}

TEST_F(DevServerFaults, HugeBodyIsFiftyMebibytesEndingWithThePage)
{
    server_->setFault(Page::CountUser, Fault{FaultKind::Huge, 0});
    const HttpResult r = client_.get(url("/countUser.php"), 60000);
    ASSERT_EQ(r.code, CURLE_OK);
    EXPECT_EQ(r.body.size(), kHugeBodySize);
    EXPECT_EQ(r.body.substr(0, 4), "<!--");
    const std::string page = "document.write('1');";
    EXPECT_EQ(r.body.substr(r.body.size() - page.size()), page);
}

TEST_F(DevServerFaults, EndlessBodyStreamsUntilTheClientLeaves)
{
    server_->setFault(Page::ModifyHtml, Fault{FaultKind::Endless, 0});
    const std::size_t enough = 8u << 20;
    const std::optional<std::string> raw =
        rawExchange("127.0.0.1", server_->servicePort(),
                    "GET /modify.html HTTP/1.1\r\nHost: x\r\n\r\n", 30000, enough);
    ASSERT_TRUE(raw);
    EXPECT_GE(raw->size(), enough);
    EXPECT_EQ(raw->substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_TRUE(contains(*raw, "Transfer-Encoding: chunked"));
    EXPECT_TRUE(contains(*raw, "<!--...."));
    EXPECT_FALSE(contains(*raw, "-->"));
    // The page answers normally again once the fault is cleared.
    server_->clearFaults();
    EXPECT_EQ(readSuffixes(client_.get(url("/modify.html")).body).size(), 3u);
}

TEST_F(DevServerFaults, FloodFillsTheShownLists)
{
    server_->setFault(Page::ModifyHtml, Fault{FaultKind::Flood, 0});
    const std::vector<std::string> suffixes = readSuffixes(client_.get(url("/modify.html")).body);
    ASSERT_EQ(suffixes.size(), kFloodOptions);
    EXPECT_EQ(suffixes[123456], "s123456.cn");
    server_->setFault(Page::Reg, Fault{FaultKind::Flood, 0});
    EXPECT_EQ(readReasons(post("/reg.php", rawForm(registration("new"))).body).size(),
              kFloodOptions);
    EXPECT_FALSE(server_->findAccount("new", "qiv.cn"));
    server_->setFault(Page::Login, Fault{FaultKind::Flood, 0});
    EXPECT_EQ(readAccountPage(login().body).address, std::string(kFloodTextBytes, '9'));
}

TEST_F(DevServerFaults, MarkupInEveryShownText)
{
    server_->setFault("all", Fault{FaultKind::Markup, 0});
    EXPECT_EQ(readCount(client_.get(url("/countUser.php")).body), kMarkupCount);
    EXPECT_EQ(readSuffixes(client_.get(url("/modify.html")).body).front(), kMarkupSuffix);
    EXPECT_EQ(client_.get(server_->ipUrl() + "/getip/getip.asp").body, kMarkupIp);
    EXPECT_EQ(readReasons(post("/reg.php", "").body),
              std::vector<std::string>(9, std::string(kMarkupReason)));
    const AccountView view = readAccountPage(login().body);
    EXPECT_EQ(view.title, kMarkupValue);
    EXPECT_EQ(view.linkTel, kMarkupValue);
    EXPECT_EQ(readAlert(post("/modify_in.php", modifyBody("abc", "", "", false)).body),
              kMarkupAlert);
}

TEST_F(DevServerFaults, DelayHoldsTheReply)
{
    server_->setFault(Page::CountUser, Fault{FaultKind::None, 300});
    const auto start = std::chrono::steady_clock::now();
    const HttpResult r = client_.get(url("/countUser.php"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.body, "document.write('1');");
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    // A client limit shorter than the delay times out.
    EXPECT_EQ(client_.get(url("/countUser.php"), 100).code, CURLE_OPERATION_TIMEDOUT);
}

TEST_F(DevServerFaults, DelayComposesWithAKind)
{
    server_->setFault(Page::Login, Fault{FaultKind::Drop, 200});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(login().code, CURLE_GOT_NOTHING);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(DevServerFaults, StopEndsAWaitingDelay)
{
    server_->setFault(Page::CountUser, Fault{FaultKind::None, 60000});
    const std::string countUrl = url("/countUser.php");
    auto pending = std::async(std::launch::async, [countUrl] {
        CurlClient c;
        return c.get(countUrl, 30000).code;
    });
    // Wait until the request is inside the server, bounded.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server_->requestCount(Page::CountUser) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(server_->requestCount(Page::CountUser), 1u);
    const auto start = std::chrono::steady_clock::now();
    server_->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(pending.get(), CURLE_GOT_NOTHING);
}

TEST_F(DevServerFaults, AllAndClear)
{
    EXPECT_TRUE(server_->setFault("all", Fault{FaultKind::Empty, 0}));
    for (Page page : allPages())
        EXPECT_EQ(server_->fault(page), (Fault{FaultKind::Empty, 0}));
    EXPECT_EQ(client_.get(url("/modify.html")).body, "");
    EXPECT_EQ(client_.get(server_->adUrl() + "/%5C199.html").body, "");
    EXPECT_EQ(client_.get(server_->ipUrl() + "/getip/getip.asp").body, "");
    EXPECT_FALSE(server_->setFault("nosuchpage", Fault{FaultKind::Empty, 0}));
    server_->clearFaults();
    for (Page page : allPages())
        EXPECT_FALSE(server_->fault(page).active());
    EXPECT_EQ(readSuffixes(client_.get(url("/modify.html")).body).size(), 3u);
}

TEST_F(DevServerFaults, InitialFaultsFromOptions)
{
    server_->stop();
    Options options = loopbackOptions();
    std::string error;
    options.faults.push_back(*parseFaultSetting("all=no-marker", &error));
    options.faults.push_back(*parseFaultSetting("count_user=empty", &error));
    startServer(options);
    EXPECT_EQ(client_.get(url("/countUser.php")).body, "");
    EXPECT_FALSE(contains(client_.get(url("/modify.html")).body, "domainname\">"));
    EXPECT_EQ(server_->fault(Page::Login), (Fault{FaultKind::NoMarker, 0}));
}

// --- lifecycle -----------------------------------------------------------

TEST_F(DevServerHttp, PersistsAccountsInTheDatabaseFile)
{
    const std::filesystem::path db = std::filesystem::temp_directory_path() /
                                     ("qiv-devserver-test-" + std::to_string(::getpid()) + ".db");
    std::filesystem::remove(db);
    server_->stop();
    Options options = loopbackOptions();
    options.dbPath = db.string();
    startServer(options);
    registerOk("abc", true);
    namespace fs = std::filesystem;
    const auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(db).permissions(), ownerOnly);
    server_->stop();
    server_.reset();
    fs::permissions(db, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);

    startServer(options); // a new server on the same file
    EXPECT_EQ(server_->accountCount(), 1u);
    EXPECT_EQ(fs::status(db).permissions(), ownerOnly);
    std::optional<Account> stored = server_->findAccount("abc", "qiv.cn");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->regName, gbkOf("张三"));
    EXPECT_TRUE(stored->hide);
    EXPECT_EQ(
        readAccountPage(post("/login.php", loginBody("abc", "qiv.cn", "secret1")).body).address,
        gbkOf("北京市海淀区"));
    server_.reset();

    // Without the file the accounts are gone.
    startServer(loopbackOptions());
    EXPECT_EQ(server_->accountCount(), 0u);
    server_.reset();
    std::filesystem::remove(db);
}

TEST_F(DevServerHttp, RestartKeepsInMemoryAccountsOfTheSameServer)
{
    registerOk("abc");
    server_->stop();
    EXPECT_FALSE(server_->isRunning());
    EXPECT_EQ(server_->servicePort(), 0);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    EXPECT_TRUE(contains(client_.get(url("/countUser.php")).body, "document.write('1');"));
}

TEST(DevServerStart, AccountsAddedBeforeTheStartAreServed)
{
    DevServer server(loopbackOptions());
    Account a;
    a.name = "pre";
    a.suffix = "qiv.cn";
    a.password = "secret1";
    a.title = "T";
    EXPECT_TRUE(server.addAccount(a));
    EXPECT_FALSE(server.addAccount(a));
    EXPECT_EQ(server.accountCount(), 1u);
    EXPECT_EQ(server.findAccount("pre", "qiv.cn"), a);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    CurlClient client;
    EXPECT_EQ(
        readAccountPage(
            client.post(server.serviceUrl() + "/login.php", loginBody("pre", "qiv.cn", "secret1"))
                .body)
            .title,
        "T");
}

TEST(DevServerStart, RefusesNonLoopbackAndBusyAddresses)
{
    Options options = loopbackOptions();
    options.adAddress = "0.0.0.0:0";
    DevServer refused(options);
    std::string error;
    EXPECT_FALSE(refused.start(&error));
    EXPECT_NE(error.find("loopback"), std::string::npos) << error;

    DevServer first(loopbackOptions());
    ASSERT_TRUE(first.start(&error)) << error;
    // The service binds first on a port of our choice, then the IP address
    // clashes with the running server.
    const std::string servicePort = std::to_string(first.servicePort());
    Options clash = loopbackOptions();
    clash.serviceAddress = "127.0.0.5:" + servicePort;
    clash.ipAddress = "127.0.0.2:" + std::to_string(first.ipPort());
    DevServer second(clash);
    error.clear();
    EXPECT_FALSE(second.start(&error));
    EXPECT_NE(error.find("ip address 127.0.0.2:" + std::to_string(first.ipPort())),
              std::string::npos)
        << error;
    EXPECT_FALSE(second.isRunning());
    EXPECT_EQ(second.servicePort(), 0);
    // Nothing of the failed start stays bound: its service address is free.
    Options again = loopbackOptions();
    again.serviceAddress = clash.serviceAddress;
    DevServer third(again);
    EXPECT_TRUE(third.start(&error)) << error;
    EXPECT_EQ(third.servicePort(), first.servicePort());

    Options badDb = loopbackOptions();
    badDb.dbPath = "/nonexistent-dir/x/accounts.db";
    DevServer noDb(badDb);
    error.clear();
    EXPECT_FALSE(noDb.start(&error));
    EXPECT_NE(error.find("database"), std::string::npos) << error;
}

TEST(DevServerLog, OneLinePerRequestWithoutPasswords)
{
    std::mutex mutex;
    std::vector<std::string> lines;
    Options options = loopbackOptions();
    options.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    DevServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    CurlClient client;
    client.post(server.serviceUrl() + "/reg.php", rawForm(registration("abc")));
    client.post(server.serviceUrl() + "/login.php", loginBody("abc", "qiv.cn", "secret1"));
    server.setFault(Page::GetIp, Fault{FaultKind::Drop, 0});
    client.get(server.ipUrl() + "/getip/getip.asp");
    client.get(server.adUrl() + "/nothing");
    server.stop();

    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "service 127.0.0.1 POST /reg.php 200");
    EXPECT_EQ(lines[1], "service 127.0.0.1 POST /login.php 200");
    // The dropped request is logged by its own serving thread once the
    // connection is closed, which may come after the next request's line.
    std::multiset<std::string> last(lines.begin() + 2, lines.end());
    EXPECT_EQ(last,
              (std::multiset<std::string>{"ip 127.0.0.1 GET /getip/getip.asp dropped fault=drop",
                                          "ads 127.0.0.1 GET /nothing 404"}));
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("secret1"), std::string::npos);
}

} // namespace
} // namespace qiv::devserver

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
