#include "client/service_client.h"

#include "../net/net_test_util.h"
#include "recording_server.h"

#include <gtest/gtest.h>

#include <string>

namespace qiv {
namespace {

using namespace std::chrono_literals;
using test::RecordingServer;

// An account page as the service writes it, the title given.
std::string accountPage(const std::string& title)
{
    return gbk(
        "<b><br>修改资料</b><table>"
        "<tr><td>主页名称:</td><td><input value=\"" +
        title +
        "\" name=\"Title\"></td></tr>"
        "<tr><td>转向地址:</td><td><input value=\"http://x.cn/a\" name=\"SendUrl\"></td></tr>"
        "<tr><td><input name=\"State\" value=\"1\">是否隐藏真实URL？</td></tr>"
        "<tr><td>站长EMAIL:</td><td><input value=\"a@b.c\" name=\"EmailAdr\"></td></tr>"
        "<tr><td>注册人姓名:</td><td><input value=\"张三\" readonly></td></tr>"
        "<tr><td>联系电话:</td><td><input value=\"010-1\">必填，包括区号</td></tr>"
        "<tr><td>联系地址:</td><td><input value=\"北京\" name=\"Address\"></td></tr>"
        "</table>* 隐藏真实url后地址栏将一直显示您的域名</form>");
}

class Client : public ::testing::Test {
protected:
    // The one request of a conversation, after the reply `body`.
    template <typename Call>
    std::string exchange(RecordingServer& server, std::string body, Call call)
    {
        server.clearRequests();
        server.setReply(RecordingServer::httpReply(body));
        call();
        EXPECT_EQ(server.requestCount(), 1u);
        return server.requests().empty() ? std::string() : server.requests().front();
    }
    // The request as the engine must send it: the page's URL is its Referer.
    static std::string wire(const std::string& method, RecordingServer& server,
                            const std::string& target, const std::string& body = {})
    {
        std::string block =
            test::acceptLine + test::refererLine(server.url(target)) + test::languageLine;
        if (method == "POST")
            block += test::formTypeLine + "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return test::wireRequest(method + " " + target + " HTTP/1.1", server.hostPort(), block,
                                 body);
    }

    RecordingServer service{"127.0.0.1"};
    RecordingServer ip{"127.0.0.2"};
    Network network;
    config::Hosts hosts{service.hostPort(), ip.hostPort(), "127.0.0.3:9"};
    client::Connection to{.network = network, .hosts = hosts, .requestSeconds = 5};
};

TEST_F(Client, LogInByReplyAndReading)
{
    const std::string sent =
        "username=%D5%C5&domainname=qiv.cn&password=a%26b&Submit.x=86&Submit.y=24";
    const struct {
        std::string reply;
        AccountReading reading;
        client::LoginOutcome outcome;
        std::string title, problem;
    } rows[] = {
        {accountPage("T"), AccountReading::Window, client::LoginOutcome::Account, "T", ""},
        {accountPage("T"), AccountReading::Strict, client::LoginOutcome::Account, "T", ""},
        // The window takes a character reference as it stands; qiv-follow
        // would write it back not knowing what the service made of it.
        {accountPage("a&amp;b"), AccountReading::Window, client::LoginOutcome::Account, "a&amp;b",
         ""},
        {accountPage("a&amp;b"), AccountReading::Strict, client::LoginOutcome::NotAccount,
         "a&amp;b", "character reference"},
        {gbk("<p>您输入的密码错误</p>") + accountPage("T"), AccountReading::Window,
         client::LoginOutcome::Refused, "T", ""},
        {"", AccountReading::Strict, client::LoginOutcome::NoReply, "", "section"},
        {"<html>busy</html>", AccountReading::Window, client::LoginOutcome::NotAccount, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply.substr(0, 30) +
                     (row.reading == AccountReading::Strict ? " strict" : ""));
        client::Login login;
        const std::string request = exchange(service, row.reply, [&] {
            login = client::logIn(to, {gbk("张"), "qiv.cn", "a&b"}, row.reading);
        });
        EXPECT_EQ(request, wire("POST", service, "/login.php", sent));
        EXPECT_EQ(login.outcome, row.outcome);
        EXPECT_EQ(login.page.values.Title, row.title);
        if (row.problem.empty())
            EXPECT_EQ(login.page.problem, "");
        else
            EXPECT_NE(login.page.problem.find(row.problem), std::string::npos)
                << login.page.problem;
    }
}

TEST_F(Client, ModifyAndDeleteByReply)
{
    const AccountSnapshot values{"T", "http://1.2.3.4/", "a@b.c", gbk("张"), "010", "x y"};
    const AccountChange change{
        .name = "h", .suffix = "qiv.cn", .password = "", .values = values, .hide = false};
    const std::string modifySent =
        "username=h&domainname=qiv.cn&psw=&Title=T&SendUrl=http%3A%2F%2F1.2.3.4%2F"
        "&EmailAdr=a%40b.c&RegName=%D5%C5&LinkTel=010&Address=x%20y";
    const struct {
        std::string reply;
        client::ModifyOutcome outcome;
        std::string alert;
        bool deleted;
    } rows[] = {
        {gbk("<script>alert('您的资料修改成功!');</script>"), client::ModifyOutcome::Accepted, "",
         false},
        {gbk("<script>alert('密码太短');</script>"), client::ModifyOutcome::Refused,
         gbk("密码太短"), false},
        {"<html></html>", client::ModifyOutcome::Refused, "", false},
        {"", client::ModifyOutcome::NoReply, "", false},
        {"{MBuffer}", client::ModifyOutcome::Refused, "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        client::Modification modified;
        EXPECT_EQ(exchange(service, row.reply, [&] { modified = client::modify(to, change); }),
                  wire("POST", service, "/modify_in.php", modifySent));
        EXPECT_EQ(modified.outcome, row.outcome);
        EXPECT_EQ(modified.alert, row.alert);
        // The deletion sends the values with the raw marker 删除 and no password.
        bool deleted = !row.deleted;
        EXPECT_EQ(exchange(service, row.reply,
                           [&] { deleted = client::deleteDomain(to, "h", "qiv.cn", values); }),
                  wire("POST", service, "/modify_in.php", modifySent + "&delinfo=" + gbk("删除")));
        EXPECT_EQ(deleted, row.deleted);
    }
}

TEST_F(Client, CheckAndRegisterByReply)
{
    const client::Registration form{.name = "a b",
                                    .suffix = "qiv.cn",
                                    .password = "p1",
                                    .confirmation = "p1",
                                    .title = gbk("标题"),
                                    .target = "http://x/",
                                    .hide = true,
                                    .email = "e",
                                    .regName = "n",
                                    .phone = "1",
                                    .address = ""};
    const std::string sent = "username=a%20b&domainname=qiv.cn&Password=p1&rePassword=p1"
                             "&Title=%B1%EA%CC%E2&SendUrl=http%3A%2F%2Fx%2F&State=1&EmailAdr=e"
                             "&RegName=n&LinkTel=1&Address=";
    const std::string heading = gbk("申请域名失败......\r\n");
    const struct {
        std::string reply;
        client::NameCheck check;
        bool registered;
        std::string failure;
    } rows[] = {
        {gbk("该域名可以注册！"), client::NameCheck::Free, false, heading},
        {gbk("您的域名已注册成功"), client::NameCheck::Taken, true, ""},
        {gbk("<p>出错的原因：<ul><li>用户名太短<br></ul>返回上一步重新填写"),
         client::NameCheck::Taken, false, heading + gbk("\r\n* 用户名太短")},
        {"", client::NameCheck::Taken, false, heading},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        client::NameCheck check{};
        EXPECT_EQ(exchange(service, row.reply,
                           [&] { check = client::checkName(to, gbk("张") + "&", "qiv.cn"); }),
                  wire("GET", service, "/regcheck.php?username=%D5%C5%26&domainname=qiv.cn"));
        EXPECT_EQ(check, row.check);
        client::RegistrationResult result;
        EXPECT_EQ(exchange(service, row.reply, [&] { result = client::registerDomain(to, form); }),
                  wire("POST", service, "/reg.php", sent));
        EXPECT_EQ(result.registered, row.registered);
        EXPECT_EQ(result.failure, row.failure);
    }
}

TEST_F(Client, StartUpPagesByReply)
{
    const struct {
        std::string reply;
        std::optional<std::vector<Text>> suffixes;
        std::string count;
        std::optional<std::string> address; // canonical text
    } rows[] = {
        {"<select name=\"domainname\"><option value='qiv.cn'>a</option></select>",
         std::vector<Text>{"qiv.cn"},
         "",
         {}},
        {"document.write('42');", {}, "42", {}},
        {" 198.51.100.7\r\n", {}, "", "198.51.100.7"},
        {"2001:DB8::0:1", {}, "", "2001:db8::1"},
        {"10.0.0.1 x", {}, "", {}},
        {"", {}, "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        std::optional<std::vector<Text>> suffixes;
        EXPECT_EQ(exchange(service, row.reply, [&] { suffixes = client::domainSuffixes(to); }),
                  wire("GET", service, "/modify.html"));
        EXPECT_EQ(suffixes, row.suffixes);
        Text count;
        EXPECT_EQ(exchange(service, row.reply, [&] { count = client::userCount(to); }),
                  wire("GET", service, "/countUser.php"));
        EXPECT_EQ(count, row.count);
        // The built-in IP page is on the IP lookup host; another is asked as given.
        for (const std::string& url : {std::string(), ip.url("/other?x=1")}) {
            client::IpReply answer;
            EXPECT_EQ(exchange(ip, row.reply,
                               [&] {
                                   answer = url.empty() ? client::publicIp(to)
                                                        : client::publicIp(to, url);
                               }),
                      wire("GET", ip, url.empty() ? "/getip/getip.asp" : "/other?x=1"));
            EXPECT_EQ(answer.reply, row.reply);
            EXPECT_EQ(answer.address ? std::optional(answer.address->text) : std::nullopt,
                      row.address);
        }
    }
    EXPECT_EQ(client::pageAddress(hosts, client::Page::Login), service.hostPort() + "/login.php");
    EXPECT_EQ(client::pageUrl(hosts, client::Page::PublicIp), ip.url("/getip/getip.asp"));
}

} // namespace
} // namespace qiv
