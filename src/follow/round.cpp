#include "follow/round.h"

#include "text/account_forms.h"
#include "text/gbk.h"
#include "text/ip_target.h"
#include "text/page_cuts.h"

namespace qiv::follow {

namespace {

// A value of the service's page, for a log line.
std::string shown(std::string_view gbkText)
{
    return gbkToUtf8(gbkPrefix(gbkText, 512));
}

// The value of the field changeDifference names.
const std::string& shownValue(const AccountSnapshot& values, const std::string& field)
{
    return field == "Title"      ? values.Title
           : field == "SendUrl"  ? values.SendUrl
           : field == "EmailAdr" ? values.EmailAdr
           : field == "RegName"  ? values.RegName
           : field == "LinkTel"  ? values.LinkTel
                                 : values.Address;
}

const char* familyName(const IpAddress& address)
{
    return address.family == IpAddress::Family::V4 ? "IPv4" : "IPv6";
}

} // namespace

int exitStatus(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Current:
    case Outcome::HostName:
    case Outcome::OtherFamily:
    case Outcome::DryRun:
    case Outcome::Changed:
    case Outcome::Stopped:
        return 0;
    case Outcome::Unreachable:
        return 3;
    case Outcome::Refused:
    case Outcome::NotWhole:
    case Outcome::ModifyFailed:
    case Outcome::NotVerified:
    case Outcome::BadIpReply:
        break;
    }
    return 1;
}

bool isFailedModification(Outcome outcome)
{
    return outcome == Outcome::ModifyFailed || outcome == Outcome::NotVerified;
}

Follower::Follower(Network& network, RoundSettings settings, Account account, EventLog& log,
                   Pause pause)
    : network_(network), settings_(std::move(settings)), account_(std::move(account)), log_(log),
      pause_(std::move(pause))
{}

bool Follower::stopped() const
{
    return network_.stop.stopped();
}

client::Connection Follower::service() const
{
    return {
        .network = network_, .hosts = settings_.hosts, .requestSeconds = settings_.requestSeconds};
}

client::Credentials Follower::credentials() const
{
    return {.name = account_.name, .suffix = account_.suffix, .password = account_.password};
}

void Follower::noteRefused(const std::string& url, const IpAddress& address,
                           const std::string& reason)
{
    auto [noted, added] = notedRefused_.try_emplace(url, address.text);
    if (!added && noted->second == address.text)
        return;
    noted->second = address.text;
    log_.write("ip-refused",
               url + " answered " + address.text + ", " + reason + "; it is not followed");
}

std::optional<Outcome> Follower::askIpPage(const std::string& url, std::optional<IpAddress>* found,
                                           bool* anyReply)
{
    std::chrono::milliseconds pause = settings_.firstPause;
    for (int attempt = 1; attempt <= settings_.ipTries; ++attempt) {
        if (attempt > 1) {
            if (!pause_(pause))
                return Outcome::Stopped;
            pause *= 2;
        }
        client::IpReply reply = client::publicIp(service(), url);
        if (stopped())
            return Outcome::Stopped;
        *anyReply = *anyReply || !reply.reply.empty();
        std::optional<IpAddress>& address = reply.address;
        if (!address) {
            notedRefused_.erase(url);
            if (!reply.reply.empty())
                log_.write("ip-reply", url + " answered no address: \"" +
                                           shown(gbkPrefix(reply.reply, 64)) + "\"");
            continue;
        }
        if (const std::string reason = refusedAddressReason(*address); !reason.empty()) {
            // The page answers what it sees; asking again gives the same.
            noteRefused(url, *address, reason);
            return {};
        }
        notedRefused_.erase(url);
        *found = std::move(address);
        return {};
    }
    return {};
}

std::optional<Outcome> Follower::lookUpPublicIp(IpAddress* ip)
{
    // The IP host's page first, when one is set from any source.
    const std::string own = settings_.hosts.ipLookup.empty()
                                ? std::string()
                                : client::pageUrl(settings_.hosts, client::Page::PublicIp);
    std::vector<std::string> urls;
    if (!own.empty())
        urls.push_back(own);
    urls.insert(urls.end(), settings_.ipUrls.begin(), settings_.ipUrls.end());
    std::optional<IpAddress> found;
    bool anyReply = false;
    for (const std::string& url : urls) {
        if (const std::optional<Outcome> end = askIpPage(url, &found, &anyReply))
            return end;
        if (found) {
            log_.write("ip", found->text + (url == own ? "" : " from " + url));
            *ip = std::move(*found);
            return {};
        }
    }
    std::string asked;
    for (const std::string& url : urls)
        asked += (asked.empty() ? "" : ", ") + url;
    if (urls.empty())
        asked = "no page: no ip-host is set and no ip-url given";
    log_.write(anyReply ? "failed" : "unreachable", "no public IP to follow from " + asked);
    return anyReply ? Outcome::BadIpReply : Outcome::Unreachable;
}

std::optional<Outcome> Follower::logIn(AccountPage* page)
{
    client::Login login = client::logIn(service(), credentials(), AccountReading::Strict);
    if (stopped())
        return Outcome::Stopped;
    switch (login.outcome) {
    case client::LoginOutcome::NoReply:
        log_.write("unreachable",
                   "no reply from " + client::pageAddress(settings_.hosts, client::Page::Login));
        return Outcome::Unreachable;
    case client::LoginOutcome::Refused:
        log_.write("refused", "the service refused the login of " + account_.shownName +
                                  " (wrong password, or the domain is not registered)");
        return Outcome::Refused;
    case client::LoginOutcome::NotAccount:
    case client::LoginOutcome::Account:
        break;
    }
    *page = std::move(login.page);
    if (login.outcome == client::LoginOutcome::NotAccount) {
        log_.write("not-read", "the account page of " + account_.shownName +
                                   " was not read whole (" + page->problem +
                                   "); nothing is changed");
        return Outcome::NotWhole;
    }
    return {};
}

std::optional<Outcome> Follower::leaveAlone(const std::string& target, const IpAddress& ip)
{
    const std::optional<IpAddress> current = targetAddress(target);
    if (!current) {
        if (notedNameTarget_ != target) {
            notedNameTarget_ = target;
            log_.write("left-alone", "the target " + shown(target) +
                                         " names its host; only an address is followed");
        }
        return Outcome::HostName;
    }
    if (current->family != ip.family) {
        log_.write("left-alone", "the target " + shown(target) + " is " + familyName(*current) +
                                     ", the public IP is " + familyName(ip));
        return Outcome::OtherFamily;
    }
    if (current->sameAs(ip)) {
        log_.write("current", "the target " + shown(target) + " is the public IP");
        return Outcome::Current;
    }
    return {};
}

std::optional<Outcome> Follower::modify(const AccountChange& change, const std::string& target)
{
    const client::Modification reply = client::modify(service(), change);
    if (stopped())
        return Outcome::Stopped;
    if (reply.outcome != client::ModifyOutcome::Accepted) {
        log_.write("modify-failed",
                   reply.outcome == client::ModifyOutcome::NoReply ? "no reply from the service"
                   : reply.alert.empty()                           ? "the service did not accept it"
                                         : "the service said: " + shown(reply.alert));
        return Outcome::ModifyFailed;
    }
    log_.write("changed", "the target " + shown(target) + " to " + shown(change.values.SendUrl));
    return {};
}

Outcome Follower::verify(const AccountChange& change)
{
    network_.cookies.clear();
    const client::Login login = client::logIn(service(), credentials(), AccountReading::Strict);
    if (stopped())
        return Outcome::Stopped;
    const AccountPage& after = login.page;
    if (login.outcome != client::LoginOutcome::Account) {
        log_.write("not-verified",
                   "the account page was not read whole after the change (" +
                       (after.problem.empty() ? std::string("no account page") : after.problem) +
                       ")");
        return Outcome::NotVerified;
    }
    if (const std::string field = changeDifference(change, after); !field.empty()) {
        log_.write("not-verified",
                   field == "State"
                       ? std::string("the account page shows the hide flag (State) ") +
                             (hideBoxTicked(after.state) ? "ticked" : "unticked") +
                             ", it was sent " + (change.hide ? "ticked" : "unticked")
                       : "the account page shows " + field + " as \"" +
                             shown(shownValue(after.values, field)) + "\", it was sent as \"" +
                             shown(shownValue(change.values, field)) + "\"");
        return Outcome::NotVerified;
    }
    log_.write("verified", "the account page shows the target " + shown(change.values.SendUrl) +
                               " and the rest as sent");
    return Outcome::Changed;
}

Outcome Follower::runRound()
{
    // Each round logs in afresh.
    network_.cookies.clear();
    facts_ = {};

    // 1. The public IP.
    IpAddress ip;
    if (const std::optional<Outcome> end = lookUpPublicIp(&ip))
        return *end;
    facts_.ip = ip.text;

    // 2. The login and the account page.
    AccountPage page;
    if (const std::optional<Outcome> end = logIn(&page))
        return *end;

    // 3. The decision.
    const std::string& target = page.values.SendUrl;
    facts_.target = shown(target);
    if (const std::optional<Outcome> end = leaveAlone(target, ip))
        return *end;
    const std::string newTarget = replaceTargetHost(target, ip);
    AccountChange change{.name = account_.name,
                         .suffix = account_.suffix,
                         .password = {},
                         .values = page.values,
                         .hide = hideBoxTicked(page.state)};
    change.values.SendUrl = newTarget;
    facts_.newTarget = shown(newTarget);
    if (settings_.dryRun) {
        log_.write("dry-run", "would change the target " + shown(target) + " to " +
                                  shown(newTarget) + " by POST " +
                                  client::pageUrl(settings_.hosts, client::Page::Modify) + " " +
                                  modifyFormBody(change));
        return Outcome::DryRun;
    }

    // 4. The modification, then a fresh login to see it.
    if (const std::optional<Outcome> end = modify(change, target))
        return *end;
    return verify(change);
}

} // namespace qiv::follow
