#include "devserver/pages.h"

#include "text/gbk.h"

#include <stdexcept>

namespace qiv::devserver {
namespace {

std::string head(std::string_view titleUtf8)
{
    std::string page = "<html>\r\n<head>\r\n"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n"
                       "<title>";
    page += titleUtf8;
    page += " - 免费域名转发系统</title>\r\n</head>\r\n<body>\r\n";
    return gbk(page);
}

std::string tail()
{
    return "</body>\r\n</html>\r\n";
}

// Bytes shown as page text. '<', '>', '&' never occur inside a GBK
// double-byte character (trail bytes start at 0x40), so escaping them byte
// by byte keeps every GBK character intact.
std::string htmlText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

Reply page(std::string body, std::vector<std::string> markers = {})
{
    Reply reply;
    reply.body = std::move(body);
    reply.markers = std::move(markers);
    return reply;
}

} // namespace

std::string attributeValue(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        if (c == '"')
            out += "&quot;";
        else
            out.push_back(c);
    }
    return out;
}

const std::vector<AdBox>& adBoxes()
{
    // The four boxes of the client's window, by the page each one shows.
    static const std::vector<AdBox> boxes{
        {"280.html", 400, 112},
        {"270x270.html", 416, 256},
        {"250x90.html", 344, 104},
        {"199.html", 360, 176},
    };
    return boxes;
}

Reply suffixListPage(const std::vector<std::string>& suffixes, bool escape)
{
    // Clients read the options between the first `domainname">` and the
    // next "</select>", each value as value='x'> in single quotes: the
    // select is written exactly so, and `domainname">` occurs nowhere else.
    std::string body = head("修改资料登录");
    body += gbk("<form name=\"login\" method=\"post\" action=\"login.php\">\r\n"
                "<table border=\"0\" cellspacing=\"1\" cellpadding=\"3\">\r\n"
                "<tr><td align=\"right\">用户名:</td><td><input type=\"text\" size=\"16\" "
                "name=\"username\"> . <select name=\"domainname\">");
    for (const std::string& suffix : suffixes) {
        const std::string text = escape ? htmlText(suffix) : suffix;
        body += "<option value='" + text + "'>" + text + "</option>";
    }
    body += gbk("</select></td></tr>\r\n"
                "<tr><td align=\"right\">密码:</td><td><input type=\"password\" size=\"16\" "
                "name=\"password\"></td></tr>\r\n"
                "<tr><td colspan=\"2\" align=\"center\"><input type=\"image\" name=\"Submit\" "
                "src=\"login.gif\"></td></tr>\r\n</table>\r\n</form>\r\n");
    body += tail();
    return page(std::move(body), {gbk("domainname\">"), gbk("</select>")});
}

Reply userCountPage(std::size_t count)
{
    return countTextPage(std::to_string(count));
}

Reply countTextPage(std::string_view countText)
{
    return page("document.write('" + std::string(countText) + "');", {"document.write('", "');"});
}

Reply availablePage(std::string_view name, std::string_view suffix)
{
    std::string body = head("域名查询");
    body += "<p><b>" + htmlText(name) + "." + htmlText(suffix) + "</b> ";
    body += gbk("该域名可以注册！</p>\r\n");
    body += tail();
    return page(std::move(body), {gbk("该域名可以注册！")});
}

Reply unavailablePage(std::string_view name, std::string_view suffix, std::string_view reasonGbk)
{
    std::string body = head("域名查询");
    body += "<p><b>" + htmlText(name) + "." + htmlText(suffix) + "</b> ";
    body += gbk("不能注册：") + std::string(reasonGbk) + "</p>\r\n";
    body += tail();
    return page(std::move(body));
}

Reply registeredPage(const Account& account)
{
    std::string body = head("注册成功");
    body += gbk("<p>恭喜！您的域名已注册成功：<br>\r\n<b>http://");
    body += htmlText(account.name) + "." + htmlText(account.suffix);
    body += gbk("</b></p>\r\n<p>转向地址：") + htmlText(account.sendUrl) + "</p>\r\n";
    body += gbk("<p><a href=\"modify.html\">登录修改资料</a></p>\r\n");
    body += tail();
    return page(std::move(body), {gbk("您的域名已注册成功")});
}

Reply registrationErrorPage(const std::vector<std::string>& reasonsGbk)
{
    // Clients cut the part between "<p>出错的原因：" and
    // "返回上一步重新填写", split it at "><" and take each reason from
    // between "li>" and "<br": so every reason is `<li>reason<br>` with the
    // items directly adjacent, and no other "<br" stands in that part.
    std::string body = head("注册失败");
    body += gbk("<table width=\"500\" border=\"0\" cellspacing=\"1\" cellpadding=\"3\">\r\n"
                "<tr><td><p>出错的原因：</p><ul>");
    for (const std::string& reason : reasonsGbk)
        body += "<li>" + reason + "<br>";
    body += gbk("</ul><p><a href=\"javascript:history.back()\">返回上一步重新填写</a></p>"
                "</td></tr>\r\n</table>\r\n");
    body += tail();
    return page(std::move(body), {gbk("<p>出错的原因："), gbk("返回上一步重新填写")});
}

Reply wrongPasswordPage()
{
    std::string body = head("登录失败");
    body += gbk("<p>您输入的密码错误，或此域名尚未注册。</p>\r\n"
                "<p><a href=\"javascript:history.back()\">返回</a></p>\r\n");
    body += tail();
    return page(std::move(body), {gbk("您输入的密码错误")});
}

Reply accountPage(const Account& a, bool rawQuotes, bool hideRow)
{
    auto attributeValue = [rawQuotes](std::string_view bytes) {
        return rawQuotes ? std::string(bytes) : devserver::attributeValue(bytes);
    };
    // Clients read this form without parsing HTML, by cuts of the section
    // between "<b><br>修改资料" and " 隐藏真实url后地址栏将一直显示您的域名":
    // each row from its label (">主页名称:</td>" ...) to the row's end text
    // ("name=", "readonly", "必填，包括区号", "Address"), and in that cell
    // the first value="...". So each row's value attribute stands before its
    // end text, and the State box is `name="State" value="1">是否隐藏真实URL？`
    // exactly when the account does not hide its address.
    const std::string domain = htmlText(a.name) + "." + htmlText(a.suffix);
    std::string body = head("修改资料");
    body += gbk("<form name=\"form1\" method=\"post\" action=\"modify_in.php\">\r\n");
    body += "<input type=\"hidden\" name=\"username\" value=\"" + attributeValue(a.name) + "\">";
    body += "<input type=\"hidden\" name=\"domainname\" value=\"" + attributeValue(a.suffix) +
            "\">\r\n";
    body += gbk("<table width=\"560\" border=\"0\" cellspacing=\"1\" cellpadding=\"3\">\r\n"
                "<tr><td colspan=\"2\" align=\"center\"><b><br>修改资料 http://");
    body += domain + "</b></td></tr>\r\n";
    body += gbk("<tr><td width=\"120\" align=\"right\">新密码:</td><td><input "
                "type=\"password\" size=\"20\" name=\"psw\"> 不修改请留空</td></tr>\r\n");
    body += gbk("<tr><td align=\"right\">主页名称:</td><td><input type=\"text\" size=\"40\" "
                "value=\"") +
            attributeValue(a.title) + "\" name=\"Title\"></td></tr>\r\n";
    body += gbk("<tr><td align=\"right\">转向地址:</td><td><input type=\"text\" size=\"40\" "
                "value=\"") +
            attributeValue(a.sendUrl) + "\" name=\"SendUrl\"></td></tr>\r\n";
    body += gbk("<tr><td align=\"right\">站长EMAIL:</td><td><input type=\"text\" size=\"40\" "
                "value=\"") +
            attributeValue(a.email) + "\" name=\"EmailAdr\"></td></tr>\r\n";
    body += gbk("<tr><td align=\"right\">注册人姓名:</td><td><input type=\"text\" size=\"20\" "
                "value=\"") +
            attributeValue(a.regName) + "\" readonly name=\"RegName\"></td></tr>\r\n";
    body += gbk("<tr><td align=\"right\">联系电话:</td><td><input type=\"text\" size=\"20\" "
                "value=\"") +
            attributeValue(a.linkTel) + gbk("\" name=\"LinkTel\"> 必填，包括区号</td></tr>\r\n");
    body += gbk("<tr><td align=\"right\">联系地址:</td><td><input type=\"text\" size=\"40\" "
                "value=\"") +
            attributeValue(a.address) + "\" name=\"Address\"></td></tr>\r\n";
    // A hidden account's box carries `checked="checked"` after its value, so
    // the text before `">是否隐藏真实URL？` is then not just "1".
    if (hideRow) {
        body += gbk("<tr><td align=\"right\">转发方式:</td><td><input type=\"checkbox\" "
                    "name=\"State\" value=\"1\"");
        if (a.hide)
            body += " checked=\"checked\"";
        body += gbk(">是否隐藏真实URL？");
    } else {
        body += gbk("<tr><td align=\"right\">转发方式:</td><td>");
    }
    body += gbk(" 隐藏真实url后地址栏将一直显示您的域名</td></tr>\r\n");
    body += gbk("<tr><td colspan=\"2\" align=\"center\"><input type=\"submit\" name=\"Submit\" "
                "value=\"修改\"> <input type=\"submit\" name=\"delinfo\" value=\"删除\">"
                "</td></tr>\r\n</table>\r\n</form>\r\n");
    body += tail();
    return page(std::move(body),
                {gbk("<b><br>修改资料"), gbk(" 隐藏真实url后地址栏将一直显示您的域名")});
}

Reply modifiedPage()
{
    std::string body = head("修改资料");
    body += gbk("<p>您的资料修改成功！</p>\r\n<p><a href=\"modify.html\">返回</a></p>\r\n");
    body += tail();
    return page(std::move(body), {gbk("您的资料修改成功")});
}

Reply alertPage(std::string_view reasonGbk)
{
    // Clients take the text between "alert('" and "');".
    std::string body = head("提示");
    body += "<script language=\"javascript\">alert('" + std::string(reasonGbk) +
            "');history.back();</script>\r\n";
    body += tail();
    return page(std::move(body), {"alert('", "');"});
}

Reply deletedPage()
{
    std::string body = head("删除域名");
    body += gbk("<p>您的域名已删除。</p>\r\n<!-- {MBuffer} -->\r\n"
                "<p><a href=\"index.html\">返回首页</a></p>\r\n");
    body += tail();
    return page(std::move(body), {"{MBuffer}"});
}

Reply ipPage(std::string_view text)
{
    return page(std::string(text), {std::string(text)});
}

Reply adPage(const AdBox& box)
{
    const std::string w = std::to_string(box.width);
    const std::string h = std::to_string(box.height);
    std::string body = head("广告");
    // head() ends inside <body>; the style goes in the body, which every
    // browser accepts, to keep one page head for all pages.
    body += "<style>html,body{margin:0;padding:0;overflow:hidden}"
            "div.ad{box-sizing:border-box;width:" +
            w + "px;height:" + h +
            "px;border:1px solid #8fb3d9;background:#eef5fc;color:#234;"
            "font:12px sans-serif;display:flex;flex-direction:column;align-items:center;"
            "justify-content:center;text-align:center}</style>\r\n";
    body += gbk("<div class=\"ad\"><b>免费域名转发系统</b><span>本机开发服务器广告位 ") + w + "x" +
            h + "</span></div>\r\n";
    body += tail();
    return page(std::move(body), {"<div class=\"ad\">"});
}

Reply animatedAdPage()
{
    std::string body = head("广告");
    body += "<style>html,body{margin:0;padding:0;overflow:hidden;background:#eef5fc}"
            "b{display:inline-block;font:bold 14px sans-serif;color:#234;"
            "animation:swing 1.5s ease-in-out infinite alternate}"
            "@keyframes swing{from{transform:translateX(0) rotate(-4deg)}"
            "to{transform:translateX(120px) rotate(4deg)}}</style>\r\n";
    body += gbk("<div class=\"ad\"><b>免费域名转发系统</b>") +
            "<canvas id=\"c\" width=\"96\" height=\"48\"></canvas></div>\r\n";
    body += "<script>var c=document.getElementById('c').getContext('2d'),n=0;"
            "setInterval(function(){n++;c.fillStyle='#eef5fc';c.fillRect(0,0,96,48);"
            "c.fillStyle='hsl('+(n*6%360)+',70%,50%)';c.beginPath();"
            "c.arc(48+36*Math.sin(n/10),24,10,0,7);c.fill();},1000/30);</script>\r\n";
    body += tail();
    return page(std::move(body), {"<div class=\"ad\">"});
}

Reply notFoundPage()
{
    Reply reply = page(head("404") + gbk("<p>您访问的页面不存在。</p>\r\n") + tail());
    reply.status = 404;
    return reply;
}

Reply methodNotAllowedPage()
{
    Reply reply = page(head("405") + gbk("<p>不支持此请求方式。</p>\r\n") + tail());
    reply.status = 405;
    reply.headers.emplace_back("Allow", "GET, POST");
    return reply;
}

Reply tooLargePage()
{
    Reply reply = page(head("413") + gbk("<p>请求过大。</p>\r\n") + tail());
    reply.status = 413;
    return reply;
}

Reply busyPage()
{
    return page(
        head("系统繁忙") +
        gbk("<p>系统繁忙，请稍后再试。</p>\r\n<p><a href=\"index.html\">返回首页</a></p>\r\n") +
        tail());
}

} // namespace qiv::devserver
