#include "service/page_cuts.h"

#include <arpa/inet.h>

namespace qiv {
namespace {

const char kValueStart[] = "value=\"";

// A row of the account form: its label and the text that ends the row.
struct Row {
    Text start, end;
};

// The account page's markers, converted to GBK once.
struct AccountMarkers {
    Text start = gbk("<b><br>修改资料");
    // One leading ASCII space and a lower-case "url".
    Text end = gbk(" 隐藏真实url后地址栏将一直显示您的域名");
    Row title{gbk(">主页名称:</td>"), "name="};
    Row sendUrl{gbk(">转向地址:</td>"), "name="};
    Text stateEnd = gbk("\">是否隐藏真实URL？");
    Row email{gbk(">站长EMAIL:</td>"), "name="};
    Row regName{gbk(">注册人姓名:</td>"), "readonly"};
    Row linkTel{gbk(">联系电话:</td>"), gbk("必填，包括区号")};
    Row address{gbk(">联系地址:</td>"), "Address"};
};

Text cell(std::string_view section, const Row& row)
{
    return textBetween(textBetween(section, row.start, row.end), kValueStart, "\"");
}

} // namespace

AccountPage cutAccountPage(std::string_view page)
{
    static const AccountMarkers m;
    AccountPage result;
    Text section = textBetween(page, m.start, m.end);
    size_t at = page.find(m.start);
    result.hasSection = at != std::string_view::npos &&
                        page.find(m.end, at + m.start.size()) != std::string_view::npos;
    AccountSnapshot& v = result.values;
    v.Title = cell(section, m.title);
    v.SendUrl = cell(section, m.sendUrl);
    result.state = textBetween(section, "name=\"State\" value=\"", m.stateEnd);
    v.EmailAdr = cell(section, m.email);
    v.RegName = cell(section, m.regName);
    v.LinkTel = cell(section, m.linkTel);
    v.Address = cell(section, m.address);
    return result;
}

bool cutDomainSuffixes(std::string_view page, std::vector<Text>& suffixes)
{
    suffixes.clear();
    Text list = textBetween(page, "domainname\">", "</select>");
    if (textFind(list, "<option") == -1)
        return false;
    for (const Text& piece : textSplit(list, "<option")) {
        Text value = textBetween(piece, "value='", "'>");
        if (!value.empty())
            suffixes.push_back(value);
    }
    return true;
}

bool isPublicIpReply(std::string_view reply)
{
    const char* space = " \t\r\n\f\v";
    size_t first = reply.find_first_not_of(space);
    if (first == std::string_view::npos)
        return false;
    size_t last = reply.find_last_not_of(space);
    std::string address(reply.substr(first, last - first + 1));
    if (address.find('\0') != std::string::npos)
        return false;
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

Text registrationFailureMessage(std::string_view reply)
{
    static const Text heading = gbk("申请域名失败......\r\n");
    static const Text start = gbk("<p>出错的原因：");
    static const Text end = gbk("返回上一步重新填写");
    Text message = heading;
    Text section = textBetween(reply, start, end);
    // Each reason is a list item followed by a line break, so after the split
    // it stands in a piece "li>reason<br".
    for (const Text& piece : textSplit(section, "><")) {
        Text reason = textBetween(piece, "li>", "<br");
        if (!reason.empty())
            message += "\r\n* " + reason;
    }
    return message;
}

} // namespace qiv
