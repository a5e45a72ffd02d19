#include "text/account_forms.h"

namespace qiv {

Text loginFormBody(std::string_view name, std::string_view suffix, std::string_view password)
{
    return formBody({{"username", name},
                     {"domainname", suffix},
                     {"password", password},
                     {.key = "Submit.x", .value = "86", .raw = true},
                     {.key = "Submit.y", .value = "24", .raw = true}});
}

Text modifyFormBody(const AccountChange& change)
{
    const AccountSnapshot& v = change.values;
    return formBody({
        {"username", change.name},
        {"domainname", change.suffix},
        {"psw", change.password},
        {"Title", v.Title},
        {"SendUrl", v.SendUrl},
        {.key = "State", .value = "1", .raw = true, .present = change.hide},
        {"EmailAdr", v.EmailAdr},
        {"RegName", v.RegName},
        {"LinkTel", v.LinkTel},
        {"Address", v.Address},
    });
}

bool hideBoxTicked(std::string_view stateText)
{
    return stateText != "1";
}

bool isWrongPasswordReply(std::string_view reply)
{
    static const Text& marker = *new Text(gbk("您输入的密码错误"));
    return reply.find(marker) != std::string_view::npos;
}

bool isAccountPage(const AccountPage& page)
{
    return page.hasSection;
}

bool isAccountPageWhole(const AccountPage& page)
{
    return page.hasSection && page.allValues && page.problem.empty();
}

std::string changeDifference(const AccountChange& change, const AccountPage& page)
{
    const struct {
        Text AccountSnapshot::*field;
        const char* name;
    } fields[] = {
        {&AccountSnapshot::Title, "Title"},       {&AccountSnapshot::SendUrl, "SendUrl"},
        {&AccountSnapshot::EmailAdr, "EmailAdr"}, {&AccountSnapshot::RegName, "RegName"},
        {&AccountSnapshot::LinkTel, "LinkTel"},   {&AccountSnapshot::Address, "Address"},
    };
    for (const auto& f : fields)
        if (change.values.*f.field != page.values.*f.field)
            return f.name;
    return hideBoxTicked(page.state) == change.hide ? std::string() : "State";
}

bool isModifyAccepted(std::string_view reply)
{
    static const Text& marker = *new Text(gbk("您的资料修改成功"));
    return reply.find(marker) != std::string_view::npos;
}

} // namespace qiv
