#include "devserver/handlers.h"

#include "devserver/form.h"
#include "devserver/rules.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

namespace qiv::devserver {

namespace {

// The ad pages are "/\name". httplib hands us the path percent-decoded,
// so "/%5Cname" arrives the same; a browser's URL parser turns the
// backslash of a http address into a slash, so "//name" is the same page.
const AdBox* adBox(const std::string& path)
{
    for (const AdBox& box : adBoxes()) {
        if (path.size() == box.name.size() + 2 && path[0] == '/' &&
            (path[1] == '\\' || path[1] == '/') &&
            path.compare(2, std::string::npos, box.name.data(), box.name.size()) == 0)
            return &box;
    }
    return nullptr;
}

bool isGet(const httplib::Request& req)
{
    return req.method == "GET" || req.method == "HEAD";
}

bool isPost(const httplib::Request& req)
{
    return req.method == "POST";
}

std::string queryOf(const std::string& target)
{
    const std::size_t q = target.find('?');
    return q == std::string::npos ? std::string() : target.substr(q + 1);
}

Reply alert(FaultKind kind, std::string reasonGbk)
{
    return alertPage(shownText(kind, std::move(reasonGbk), kMarkupAlert));
}

// The fields the registration and the modification forms share.
void applyDetails(Account& account, const FormData& form)
{
    account.title = form.value("Title");
    account.sendUrl = form.value("SendUrl");
    account.hide = form.value("State") == "1";
    account.email = form.value("EmailAdr");
    account.regName = form.value("RegName");
    account.linkTel = form.value("LinkTel");
    account.address = form.value("Address");
}

Account accountFromForm(const FormData& form)
{
    Account a;
    a.name = form.value("username");
    a.suffix = form.value("domainname");
    a.password = form.value("Password");
    applyDetails(a, form);
    return a;
}

// The fields of a modification form; an empty psw keeps the password.
void applyModification(Account& account, const FormData& form)
{
    if (const std::string psw = form.value("psw"); !psw.empty())
        account.password = psw;
    applyDetails(account, form);
}

// Printable form of a path for the log: GBK and control bytes as \xNN.
std::string printable(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            out.push_back(c);
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        }
    }
    return out;
}

} // namespace

const char* roleName(Role role)
{
    switch (role) {
    case Role::Service:
        return "service";
    case Role::Ip:
        return "ip";
    case Role::Ads:
        return "ads";
    }
    return "?";
}

std::optional<Page> identifyPage(Role role, const std::string& path)
{
    switch (role) {
    case Role::Service:
        if (path == "/regcheck.php")
            return Page::RegCheck;
        if (path == "/reg.php")
            return Page::Reg;
        if (path == "/login.php")
            return Page::Login;
        if (path == "/modify_in.php")
            return Page::ModifyIn;
        if (path == "/modify.html")
            return Page::ModifyHtml;
        if (path == "/countUser.php")
            return Page::CountUser;
        return std::nullopt;
    case Role::Ip:
        if (path == "/getip/getip.asp")
            return Page::GetIp;
        return std::nullopt;
    case Role::Ads:
        if (adBox(path) != nullptr || path == kAnimatedAdPath)
            return Page::Ads;
        return std::nullopt;
    }
    return std::nullopt;
}

PageHandlers::PageHandlers(AccountStore& store, std::mutex& accountMutex,
                           const std::vector<std::string>& suffixes, std::size_t maxSessions,
                           std::optional<std::string> ipReply, std::optional<std::string> adBody)
    : store_(store), accountMutex_(accountMutex), suffixes_(suffixes), sessions_(maxSessions),
      ipReply_(std::move(ipReply)), adBody_(std::move(adBody))
{}

Reply PageHandlers::answer(Page page, const httplib::Request& req, FaultKind kind)
{
    switch (page) {
    case Page::RegCheck:
        return isGet(req) ? regCheck(req, kind) : methodNotAllowedPage();
    case Page::Reg:
        return isPost(req) ? registration(req, kind) : methodNotAllowedPage();
    case Page::Login:
        return isPost(req) ? login(req, kind) : methodNotAllowedPage();
    case Page::ModifyIn:
        return isPost(req) ? modify(req, kind) : methodNotAllowedPage();
    case Page::ModifyHtml:
        return isGet(req) ? suffixList(kind) : methodNotAllowedPage();
    case Page::CountUser:
        return isGet(req) ? userCount(kind) : methodNotAllowedPage();
    case Page::GetIp:
        return isGet(req) ? ip(req, kind) : methodNotAllowedPage();
    case Page::Ads:
        if (!isGet(req))
            return methodNotAllowedPage();
        if (adBody_)
            return Reply{.status = 200, .body = *adBody_, .markers = {}, .headers = {}};
        return req.path == kAnimatedAdPath ? animatedAdPage() : adPage(*adBox(req.path));
    }
    return notFoundPage();
}

bool PageHandlers::knownSuffix(const std::string& suffix) const
{
    return std::find(suffixes_.begin(), suffixes_.end(), suffix) != suffixes_.end();
}

// Free means: reg.php would accept this name under this suffix.
Reply PageHandlers::regCheck(const httplib::Request& req, FaultKind kind) const
{
    auto unavailable = [&](const std::string& name, const std::string& suffix, Rule rule) {
        return unavailablePage(name, suffix, shownText(kind, ruleReason(rule), kMarkupReason));
    };
    const FormData query = FormData::parse(queryOf(req.target));
    const std::string name = query.value("username");
    const std::string suffix = query.value("domainname");
    if (name.size() < 3)
        return unavailable(name, suffix, Rule::NameLength);
    if (!isValidName(name))
        return unavailable(name, suffix, Rule::NameCharacters);
    if (!knownSuffix(suffix))
        return unavailable(name, suffix, Rule::Suffix);
    if (store_.find(name, suffix))
        return unavailable(name, suffix, Rule::NameTaken);
    return availablePage(name, suffix);
}

Reply PageHandlers::registration(const httplib::Request& req, FaultKind kind)
{
    if (kind == FaultKind::Flood)
        return registrationErrorPage(shownReasons(kind, {}));
    const FormData form = FormData::parse(req.body);
    std::lock_guard lock(accountMutex_);
    const bool taken = store_.find(form.value("username"), form.value("domainname")).has_value();
    const std::vector<Rule> failed = checkRegistration(form, suffixes_, taken);
    if (!failed.empty()) {
        std::vector<std::string> reasons;
        for (Rule rule : failed)
            reasons.push_back(ruleReason(rule));
        return registrationErrorPage(shownReasons(kind, std::move(reasons)));
    }
    const Account account = accountFromForm(form);
    if (!store_.insert(account))
        return registrationErrorPage(shownReasons(kind, {ruleReason(Rule::NameTaken)}));
    return registeredPage(account);
}

Reply PageHandlers::login(const httplib::Request& req, FaultKind kind)
{
    const FormData form = FormData::parse(req.body);
    const std::optional<Account> account =
        store_.find(form.value("username"), form.value("domainname"));
    if (!account || account->password != form.value("password"))
        return wrongPasswordPage();
    const std::optional<std::string> token = newSessionToken();
    if (!token)
        return busyPage();
    sessions_.open(*token, account->name, account->suffix);
    Reply reply = accountPage(shownAccount(kind, *account), kind == FaultKind::RawQuotes,
                              kind != FaultKind::NoHideRow);
    reply.headers.emplace_back("Set-Cookie", sessionCookieHeader(*token));
    return reply;
}

// The modification and, with delinfo, the deletion of the account the
// request's session belongs to.
Reply PageHandlers::modify(const httplib::Request& req, FaultKind kind)
{
    const FormData form = FormData::parse(req.body);
    const std::string name = form.value("username");
    const std::string suffix = form.value("domainname");
    if (!sessions_.holds(sessionCookie(req), name, suffix))
        return alert(kind, gbk("请先登录"));
    std::lock_guard lock(accountMutex_);
    std::optional<Account> account = store_.find(name, suffix);
    if (!account)
        return alert(kind, gbk("请先登录"));

    if (form.get("delinfo") == gbk("删除")) {
        store_.remove(name, suffix);
        sessions_.close(name, suffix);
        return deletedPage();
    }
    if (const std::optional<Rule> failed = checkModification(form))
        return alert(kind, ruleReason(*failed));
    if (kind == FaultKind::Stale)
        return modifiedPage();
    applyModification(*account, form);
    if (kind == FaultKind::Altered)
        account->title += kAlteredTail;
    if (kind == FaultKind::FlipHide)
        account->hide = !account->hide;
    if (!store_.update(*account))
        return alert(kind, gbk("系统繁忙，请稍后再试"));
    return modifiedPage();
}

Reply PageHandlers::suffixList(FaultKind kind) const
{
    return suffixListPage(shownSuffixes(kind, suffixes_), kind != FaultKind::Markup);
}

Reply PageHandlers::userCount(FaultKind kind) const
{
    return countTextPage(shownText(kind, std::to_string(store_.count()), kMarkupCount));
}

Reply PageHandlers::ip(const httplib::Request&, FaultKind kind) const
{
    std::lock_guard lock(ipMutex_);
    return ipPage(shownText(kind, ipReply_.value_or(std::string(kDefaultIpReply)), kMarkupIp));
}

std::optional<int> PageHandlers::control(Role role, const httplib::Request& req,
                                         httplib::Response& res)
{
    if (role != Role::Ip || req.path != "/control/ip")
        return std::nullopt;
    res.status = 200;
    if (req.method != "POST")
        res.status = 405;
    else if (req.remote_addr.rfind("127.", 0) != 0)
        res.status = 403;
    else
        setIpReply(req.body.empty() ? std::nullopt : std::optional<std::string>(req.body));
    res.set_content(res.status == 200 ? "ok\n" : "refused\n", "text/plain");
    return res.status;
}

void PageHandlers::setIpReply(std::optional<std::string> reply)
{
    std::lock_guard lock(ipMutex_);
    ipReply_ = std::move(reply);
}

void writeReply(Reply reply, FaultKind kind, httplib::Response& res)
{
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name, value);
    if (kind == FaultKind::Huge) {
        auto body = std::make_shared<std::string>(std::move(reply.body));
        res.set_content_provider(
            kHugeBodySize, kHtmlContentType,
            [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                const std::string part = hugeBodyPart(*body, kHugeBodySize, offset,
                                                      std::min<std::size_t>(length, 1 << 16));
                return sink.write(part.data(), part.size());
            });
    } else if (kind == FaultKind::Endless) {
        // Chunked, at full speed, until the client goes away (the write
        // fails) or the server stops (its connections are shut).
        res.set_chunked_content_provider(
            kHtmlContentType, [](std::size_t offset, httplib::DataSink& sink) {
                const std::string part = endlessBodyPart(offset, 1 << 16);
                return sink.write(part.data(), part.size());
            });
    } else {
        res.set_content(reply.body.data(), reply.body.size(), kHtmlContentType);
    }
}

std::string requestLogLine(Role role, const httplib::Request& req, const std::string& outcome,
                           Fault fault)
{
    std::string line = std::string(roleName(role)) + " " + req.remote_addr + " " + req.method +
                       " " + printable(req.path) + " " + outcome;
    if (fault.active()) {
        line += " fault=";
        line += faultKindName(fault.kind);
        if (fault.delayMs > 0) {
            line += '+';
            line += std::to_string(fault.delayMs);
            line += "ms";
        }
    }
    return line;
}

} // namespace qiv::devserver
