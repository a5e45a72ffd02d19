#include "devserver/rules.h"

#include "devserver/pages.h"

#include <algorithm>

namespace qiv::devserver {

std::string ruleReason(Rule rule)
{
    switch (rule) {
    case Rule::NameLength:
        return gbk("域名长度不能少于3个字符");
    case Rule::NameCharacters:
        return gbk("域名只能由英文字母、数字和-组成");
    case Rule::Suffix:
        return gbk("请选择本站提供的域名后缀");
    case Rule::PasswordLength:
        return gbk("密码长度必须为6到12个字符");
    case Rule::PasswordConfirm:
        return gbk("两次输入的密码不一致");
    case Rule::Title:
        return gbk("请填写主页名称");
    case Rule::SendUrl:
        return gbk("请填写转向地址");
    case Rule::Email:
        return gbk("请填写站长EMAIL");
    case Rule::RegName:
        return gbk("请填写注册人姓名");
    case Rule::LinkTel:
        return gbk("请填写联系电话");
    case Rule::Address:
        return gbk("请填写联系地址");
    case Rule::NameTaken:
        return gbk("该域名已被他人注册");
    }
    return std::string();
}

std::size_t gbkCharacterCount(std::string_view bytes)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < bytes.size(); ++count) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        i += (byte >= 0x81 && byte <= 0xFE && i + 1 < bytes.size()) ? 2 : 1;
    }
    return count;
}

bool isValidName(std::string_view name)
{
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-';
    });
}

namespace {

bool passwordLengthOk(std::string_view password)
{
    const std::size_t n = gbkCharacterCount(password);
    return n >= 6 && n <= 12;
}

} // namespace

std::vector<Rule> checkRegistration(const FormData& form, const std::vector<std::string>& suffixes,
                                    bool nameTaken)
{
    std::vector<Rule> failed;
    const std::string name = form.value("username");
    const std::string suffix = form.value("domainname");
    const std::string password = form.value("Password");
    if (name.size() < 3)
        failed.push_back(Rule::NameLength);
    if (!isValidName(name))
        failed.push_back(Rule::NameCharacters);
    if (std::find(suffixes.begin(), suffixes.end(), suffix) == suffixes.end())
        failed.push_back(Rule::Suffix);
    if (!passwordLengthOk(password))
        failed.push_back(Rule::PasswordLength);
    if (password != form.value("rePassword"))
        failed.push_back(Rule::PasswordConfirm);
    if (form.value("Title").empty())
        failed.push_back(Rule::Title);
    if (form.value("SendUrl").empty())
        failed.push_back(Rule::SendUrl);
    if (form.value("EmailAdr").empty())
        failed.push_back(Rule::Email);
    if (form.value("RegName").empty())
        failed.push_back(Rule::RegName);
    if (form.value("LinkTel").empty())
        failed.push_back(Rule::LinkTel);
    if (form.value("Address").empty())
        failed.push_back(Rule::Address);
    if (nameTaken)
        failed.push_back(Rule::NameTaken);
    return failed;
}

std::optional<Rule> checkModification(const FormData& form)
{
    const std::string password = form.value("psw");
    if (!password.empty() && !passwordLengthOk(password))
        return Rule::PasswordLength;
    if (form.value("Title").empty())
        return Rule::Title;
    if (form.value("SendUrl").empty())
        return Rule::SendUrl;
    if (form.value("EmailAdr").empty())
        return Rule::Email;
    if (form.value("RegName").empty())
        return Rule::RegName;
    if (form.value("LinkTel").empty())
        return Rule::LinkTel;
    if (form.value("Address").empty())
        return Rule::Address;
    return std::nullopt;
}

} // namespace qiv::devserver
