#include "service/page_cuts.h"

#include <arpa/inet.h>

namespace qiv {
namespace {

const char kValueStart[] = "value=\"";

Text cell(std::string_view section, const char* startUtf8, const char* endUtf8)
{
    Text row = textBetween(section, gbk(startUtf8), gbk(endUtf8));
    return textBetween(row, kValueStart, "\"");
}

} // namespace

AccountPage cutAccountPage(std::string_view page)
{
    const Text start = gbk("<b><br>修改资料");
    // One leading ASCII space and a lower-case "url".
    const Text end = gbk(" 隐藏真实url后地址栏将一直显示您的域名");
    AccountPage result;
    Text section = textBetween(page, start, end);
    size_t at = page.find(start);
    result.hasSection =
        at != std::string_view::npos && page.find(end, at + start.size()) != std::string_view::npos;
    AccountSnapshot& v = result.values;
    v.Title = cell(section, ">主页名称:</td>", "name=");
    v.SendUrl = cell(section, ">转向地址:</td>", "name=");
    result.state = textBetween(section, "name=\"State\" value=\"", gbk("\">是否隐藏真实URL？"));
    v.EmailAdr = cell(section, ">站长EMAIL:</td>", "name=");
    v.RegName = cell(section, ">注册人姓名:</td>", "readonly");
    v.LinkTel = cell(section, ">联系电话:</td>", "必填，包括区号");
    v.Address = cell(section, ">联系地址:</td>", "Address");
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
    Text message = gbk("申请域名失败......\r\n");
    Text section = textBetween(reply, gbk("<p>出错的原因："), gbk("返回上一步重新填写"));
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
