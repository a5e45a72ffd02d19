#include "client/service_client.h"

#include "text/verdicts.h"

namespace qiv::client {

namespace {

// Every page the programs speak to, and the host that serves it.
struct PageAt {
    std::string_view path;
    std::string config::Hosts::*host;
};

PageAt pageAt(Page page)
{
    switch (page) {
    case Page::Check:
        return {"regcheck.php", &config::Hosts::service};
    case Page::Register:
        return {"reg.php", &config::Hosts::service};
    case Page::Login:
        return {"login.php", &config::Hosts::service};
    case Page::Modify:
        return {"modify_in.php", &config::Hosts::service};
    case Page::Suffixes:
        return {"modify.html", &config::Hosts::service};
    case Page::UserCount:
        return {"countUser.php", &config::Hosts::service};
    case Page::PublicIp:
        break;
    }
    return {"getip/getip.asp", &config::Hosts::ipLookup};
}

Text get(const Connection& to, const std::string& url)
{
    return timedRequest(to.network, url, {}, {}, {}, {}, to.requestSeconds);
}

Text post(const Connection& to, Page page, const Text& body)
{
    return timedRequest(to.network, pageUrl(to.hosts, page), "POST", {}, {}, body,
                        to.requestSeconds);
}

} // namespace

std::string pageAddress(const config::Hosts& hosts, Page page)
{
    const PageAt at = pageAt(page);
    return hosts.*at.host + "/" + std::string(at.path);
}

std::string pageUrl(const config::Hosts& hosts, Page page)
{
    return "http://" + pageAddress(hosts, page);
}

NameCheck checkName(const Connection& to, std::string_view name, std::string_view suffix)
{
    const Text reply = get(to, pageUrl(to.hosts, Page::Check) + "?username=" + formEncode(name) +
                                   "&domainname=" + formEncode(suffix));
    return isNameFreeReply(reply) ? NameCheck::Free : NameCheck::Taken;
}

RegistrationResult registerDomain(const Connection& to, const Registration& f)
{
    const Text reply = post(to, Page::Register,
                            formBody({
                                {"username", f.name},
                                {"domainname", f.suffix},
                                {"Password", f.password},
                                {"rePassword", f.confirmation},
                                {"Title", f.title},
                                {"SendUrl", f.target},
                                {.key = "State", .value = "1", .raw = true, .present = f.hide},
                                {"EmailAdr", f.email},
                                {"RegName", f.regName},
                                {"LinkTel", f.phone},
                                {"Address", f.address},
                            }));
    if (isRegisteredReply(reply))
        return {.registered = true, .failure = {}};
    return {.registered = false, .failure = registrationFailureMessage(reply)};
}

Login logIn(const Connection& to, const Credentials& account, AccountReading reading)
{
    const Text reply =
        post(to, Page::Login, loginFormBody(account.name, account.suffix, account.password));
    Login login{.outcome = LoginOutcome::NotAccount, .page = cutAccountPage(reply, reading)};
    const bool taken = reading == AccountReading::Strict ? isAccountPageWhole(login.page)
                                                         : isAccountPage(login.page);
    if (reply.empty())
        login.outcome = LoginOutcome::NoReply;
    else if (isWrongPasswordReply(reply))
        login.outcome = LoginOutcome::Refused;
    else if (taken)
        login.outcome = LoginOutcome::Account;
    return login;
}

Modification modify(const Connection& to, const AccountChange& change)
{
    const Text reply = post(to, Page::Modify, modifyFormBody(change));
    if (isModifyAccepted(reply))
        return {.outcome = ModifyOutcome::Accepted, .alert = {}};
    return {.outcome = reply.empty() ? ModifyOutcome::NoReply : ModifyOutcome::Refused,
            .alert = cutModifyAlert(reply)};
}

bool deleteDomain(const Connection& to, std::string_view name, std::string_view suffix,
                  const AccountSnapshot& s)
{
    const Text del = gbk("删除"); // travels as the raw bytes C9 BE B3 FD
    const Text reply = post(to, Page::Modify,
                            formBody({
                                {"username", name},
                                {"domainname", suffix},
                                {"psw", ""},
                                {"Title", s.Title},
                                {"SendUrl", s.SendUrl},
                                {"EmailAdr", s.EmailAdr},
                                {"RegName", s.RegName},
                                {"LinkTel", s.LinkTel},
                                {"Address", s.Address},
                                {.key = "delinfo", .value = del, .raw = true},
                            }));
    return isDeletedReply(reply);
}

std::optional<std::vector<Text>> domainSuffixes(const Connection& to)
{
    std::vector<Text> suffixes;
    if (!cutDomainSuffixes(get(to, pageUrl(to.hosts, Page::Suffixes)), suffixes))
        return std::nullopt;
    return suffixes;
}

Text userCount(const Connection& to)
{
    return cutUserCount(get(to, pageUrl(to.hosts, Page::UserCount)));
}

IpReply publicIp(const Connection& to)
{
    return publicIp(to, pageUrl(to.hosts, Page::PublicIp));
}

IpReply publicIp(const Connection& to, const std::string& url)
{
    IpReply ip{.reply = get(to, url), .address = {}};
    ip.address = publicIpFromReply(ip.reply);
    return ip;
}

} // namespace qiv::client
