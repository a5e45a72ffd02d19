#include "devserver/dev_server.h"

#include "devserver/form.h"
#include "devserver/pages.h"
#include "devserver/rules.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

namespace qiv::devserver {

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string* error)
{
    auto fail = [&](const std::string& why) -> std::optional<ListenAddress> {
        if (error != nullptr)
            *error = "bad address '" + std::string(text) + "': " + why;
        return std::nullopt;
    };
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return fail("expected ip:port");
    ListenAddress address;
    address.host = std::string(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), address.port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        address.port < 0 || address.port > 65535)
        return fail("the port must be a number from 0 to 65535");
    in_addr ip{};
    if (inet_pton(AF_INET, address.host.c_str(), &ip) != 1)
        return fail("the ip must be an IPv4 address such as 127.0.0.1");
    if ((ntohl(ip.s_addr) >> 24) != 127)
        return fail("only loopback addresses (127.0.0.0/8) may be used");
    return address;
}

namespace {

enum class Role { Service, Ip, Ads };
constexpr std::array<Role, 3> kRoles{Role::Service, Role::Ip, Role::Ads};

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

// The connection the current serving thread works on (-1 outside one).
thread_local int tCurrentConnection = -1;

bool waitFor(int fd, short events, time_t sec, time_t usec)
{
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(sec * 1000 + usec / 1000);
    int ready;
    do {
        ready = ::poll(&p, 1, ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

std::string ipText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, 5, 0))
            return false;
        ssize_t n;
        do {
            n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// One accepted connection as httplib's request processing reads and writes
// it: blocking socket I/O bounded by the server's timeouts, reads buffered
// (across the requests of the connection). Each request may read at most
// kMaxRequestBytes; past that, reads fail and whatever httplib answers is
// replaced by one 413 reply.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, time_t readSec, time_t readUsec, time_t writeSec, time_t writeUsec)
        : fd_(fd), readSec_(readSec), readUsec_(readUsec), writeSec_(writeSec),
          writeUsec_(writeUsec)
    {}

    void beginRequest() { consumed_ = 0; }
    bool hasBuffered() const { return begin_ < end_; }
    bool overLimit() const { return overLimit_; }
    // Sends the 413 reply unless it has gone out already.
    void refuse()
    {
        if (overLimit_ && !refused_) {
            refused_ = true;
            sendAll(fd_, tooLargeReply());
        }
    }

    bool is_readable() const override
    {
        return begin_ < end_ || waitFor(fd_, POLLIN, readSec_, readUsec_);
    }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, writeSec_, writeUsec_); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (consumed_ >= kMaxRequestBytes) {
            overLimit_ = true;
            return -1;
        }
        size = std::min(size, kMaxRequestBytes - consumed_);
        if (begin_ == end_) {
            if (!waitFor(fd_, POLLIN, readSec_, readUsec_))
                return -1;
            ssize_t n;
            do {
                n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        consumed_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (overLimit_) {
            refuse();
            return static_cast<ssize_t>(size);
        }
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_in address{};
        socklen_t len = sizeof address;
        if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &len) == 0) {
            ip = ipText(address);
            port = ntohs(address.sin_port);
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_in address{};
        socklen_t len = sizeof address;
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &len) == 0) {
            ip = ipText(address);
            port = ntohs(address.sin_port);
        }
    }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    time_t readSec_, readUsec_, writeSec_, writeUsec_;
    char buffer_[4096];
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t consumed_ = 0; // by the current request
    bool overLimit_ = false;
    bool refused_ = false;

    static const std::string& tooLargeReply()
    {
        static const std::string reply = [] {
            const Reply page = tooLargePage();
            return "HTTP/1.1 413 Payload Too Large\r\nContent-Type: " +
                   std::string(kHtmlContentType) +
                   "\r\nContent-Length: " + std::to_string(page.body.size()) +
                   "\r\nConnection: close\r\n\r\n" + page.body;
        }();
        return reply;
    }
};

// Closes a connection whose request failed after its reply: the rest of
// what the client still sends is read and dropped first (bounded in bytes
// and time), so that the close does not reset the connection before the
// client has read the reply.
void drainAndClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::size_t drained = 0;
    char buffer[16384];
    while (drained < 8 * kMaxRequestBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitFor(fd, POLLIN, 0, left.count() * 1000))
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        drained += static_cast<std::size_t>(n);
    }
}

// httplib's server with our own connection loop. httplib hands handlers no
// socket and keeps no list of connections; the fault "drop" needs the
// first and a prompt stop needs the second (idle kept-alive connections
// would otherwise hold stop() for their whole timeout).
class ListenServer : public httplib::Server {
public:
    // Closes the listening socket of a server that never ran (httplib's
    // stop() only acts on a running one).
    void closeUnusedSocket()
    {
        const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET)
            ::close(sock);
    }

    // Ends every open connection and refuses new ones; the serving
    // threads then return at once.
    void shutdownConnections()
    {
        std::lock_guard lock(connectionsMutex_);
        closing_ = true;
        for (int fd : connections_)
            ::shutdown(fd, SHUT_RDWR);
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        bool ret = false;
        bool accepted;
        {
            std::lock_guard lock(connectionsMutex_);
            accepted = !closing_;
            if (accepted)
                connections_.insert(sock);
        }
        if (accepted) {
            tCurrentConnection = sock;
            // Like httplib's own loop: up to keep_alive_max_count_ requests,
            // each awaited for keep_alive_timeout_sec_.
            ConnectionStream stream(sock, read_timeout_sec_, read_timeout_usec_, write_timeout_sec_,
                                    write_timeout_usec_);
            for (size_t count = keep_alive_max_count_; count > 0; --count) {
                if (svr_sock_ == INVALID_SOCKET ||
                    (!stream.hasBuffered() && !waitFor(sock, POLLIN, keep_alive_timeout_sec_, 0)))
                    break;
                stream.beginRequest();
                bool closed = false;
                ret = process_request(stream, count == 1, closed, nullptr);
                stream.refuse();
                if (!ret || stream.overLimit()) {
                    drainAndClose(sock);
                    break;
                }
                if (closed)
                    break;
            }
            tCurrentConnection = -1;
            std::lock_guard lock(connectionsMutex_);
            connections_.erase(sock);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ret;
    }

    std::mutex connectionsMutex_;
    std::set<int> connections_;
    bool closing_ = false;
};

// Closes the connection the current request came on without answering;
// the reply httplib then tries to write fails and it ends the connection.
void dropConnection()
{
    if (tCurrentConnection >= 0)
        ::shutdown(tCurrentConnection, SHUT_RDWR);
}

// 128 bits from the system's random source, as 32 hex digits; nothing when
// that source fails.
std::optional<std::string> newSessionToken()
{
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

// The QIVSESSION value among the request's cookies.
std::string sessionCookie(const httplib::Request& req)
{
    static const std::string key = "QIVSESSION=";
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        std::size_t at = 0;
        while (at < header.size()) {
            std::size_t end = header.find(';', at);
            if (end == std::string::npos)
                end = header.size();
            std::string_view pair(header.data() + at, end - at);
            while (!pair.empty() && pair.front() == ' ')
                pair.remove_prefix(1);
            if (pair.substr(0, key.size()) == key) {
                std::string_view value = pair.substr(key.size());
                while (!value.empty() && value.back() == ' ')
                    value.remove_suffix(1);
                return std::string(value);
            }
            at = end + 1;
        }
    }
    return std::string();
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

std::string queryOf(const std::string& target)
{
    const std::size_t q = target.find('?');
    return q == std::string::npos ? std::string() : target.substr(q + 1);
}

} // namespace

struct DevServer::Impl {
    struct Listener {
        ListenAddress address;
        std::unique_ptr<ListenServer> server;
        std::thread thread;
        std::atomic<bool> done{false}; // its serving loop has returned
        int port = 0;
    };

    Options options;
    AccountStore store;

    mutable std::mutex mutex; // faults, sessions, ipReply, lastRequests
    std::array<Fault, kPageCount> faults{};
    // Login sessions, oldest first, and by token.
    struct Session {
        std::string token;
        std::pair<std::string, std::string> account; // name, suffix
    };
    std::list<Session> sessionOrder;
    std::unordered_map<std::string, std::list<Session>::iterator> sessions;
    std::optional<std::string> ipReply;
    std::array<std::optional<RecordedRequest>, kPageCount> lastRequests;
    std::array<std::atomic<std::size_t>, kPageCount> counts{};

    // Serialises every check-then-change of the accounts.
    std::mutex accountMutex;
    std::mutex logMutex;

    std::mutex stopMutex;
    std::condition_variable stopCv;
    bool stopping = false;

    std::array<Listener, 3> listeners;
    bool running = false;

    explicit Impl(Options o) : options(std::move(o))
    {
        ipReply = options.ipReply;
        for (const FaultSetting& s : options.faults)
            applyFaultSetting(s);
    }

    void applyFaultSetting(const FaultSetting& s)
    {
        std::lock_guard lock(mutex);
        if (s.page)
            faults[static_cast<std::size_t>(*s.page)] = s.fault;
        else
            faults.fill(s.fault);
    }

    Listener& listener(Role role) { return listeners[static_cast<std::size_t>(role)]; }

    std::optional<Page> identify(Role role, const std::string& path) const
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
            if (adBox(path) != nullptr)
                return Page::Ads;
            return std::nullopt;
        }
        return std::nullopt;
    }

    // The ad pages are "/\name". httplib hands us the path percent-decoded,
    // so "/%5Cname" arrives the same; a browser's URL parser turns the
    // backslash of a http address into a slash, so "//name" is the same page.
    static const AdBox* adBox(const std::string& path)
    {
        for (const AdBox& box : adBoxes()) {
            if (path.size() == box.name.size() + 2 && path[0] == '/' &&
                (path[1] == '\\' || path[1] == '/') &&
                path.compare(2, std::string::npos, box.name.data(), box.name.size()) == 0)
                return &box;
        }
        return nullptr;
    }

    // Waits out a fault's delay; false when the server stops meanwhile.
    bool waitDelay(int ms)
    {
        std::unique_lock lock(stopMutex);
        return !stopCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    void record(Page page, const httplib::Request& req)
    {
        RecordedRequest r;
        r.method = req.method;
        r.target = req.target;
        r.body = req.body;
        const std::size_t n = req.get_header_value_count("Cookie");
        for (std::size_t i = 0; i < n; ++i) {
            if (i > 0)
                r.cookie += "; ";
            r.cookie += req.get_header_value("Cookie", i);
        }
        std::lock_guard lock(mutex);
        lastRequests[static_cast<std::size_t>(page)] = std::move(r);
    }

    void log(const std::string& line)
    {
        if (!options.log)
            return;
        std::lock_guard lock(logMutex);
        options.log(line);
    }

    // --- the pages -------------------------------------------------------

    static bool isGet(const httplib::Request& req)
    {
        return req.method == "GET" || req.method == "HEAD";
    }

    // The page's reply; kind Flood or Markup changes the texts it shows.
    Reply serve(Page page, const httplib::Request& req, FaultKind kind)
    {
        switch (page) {
        case Page::RegCheck:
            return isGet(req) ? regCheck(req, kind) : methodNotAllowedPage();
        case Page::Reg:
            return req.method == "POST" ? registration(req, kind) : methodNotAllowedPage();
        case Page::Login:
            return req.method == "POST" ? login(req, kind) : methodNotAllowedPage();
        case Page::ModifyIn:
            return req.method == "POST" ? modify(req, kind) : methodNotAllowedPage();
        case Page::ModifyHtml:
            return isGet(req) ? suffixListPage(shownSuffixes(kind, options.suffixes),
                                               kind != FaultKind::Markup)
                              : methodNotAllowedPage();
        case Page::CountUser:
            return isGet(req)
                       ? countTextPage(shownText(kind, std::to_string(store.count()), kMarkupCount))
                       : methodNotAllowedPage();
        case Page::GetIp: {
            if (!isGet(req))
                return methodNotAllowedPage();
            std::lock_guard lock(mutex);
            return ipPage(shownText(kind, ipReply.value_or(req.remote_addr), kMarkupIp));
        }
        case Page::Ads:
            return isGet(req) ? adPage(*adBox(req.path)) : methodNotAllowedPage();
        }
        return notFoundPage();
    }

    bool knownSuffix(const std::string& suffix) const
    {
        return std::find(options.suffixes.begin(), options.suffixes.end(), suffix) !=
               options.suffixes.end();
    }

    // Free means: reg.php would accept this name under this suffix.
    Reply regCheck(const httplib::Request& req, FaultKind kind)
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
        if (store.find(name, suffix))
            return unavailable(name, suffix, Rule::NameTaken);
        return availablePage(name, suffix);
    }

    Reply registration(const httplib::Request& req, FaultKind kind)
    {
        if (kind == FaultKind::Flood)
            return registrationErrorPage(shownReasons(kind, {}));
        const FormData form = FormData::parse(req.body);
        std::lock_guard lock(accountMutex);
        const bool taken = store.find(form.value("username"), form.value("domainname")).has_value();
        const std::vector<Rule> failed = checkRegistration(form, options.suffixes, taken);
        if (!failed.empty()) {
            std::vector<std::string> reasons;
            for (Rule rule : failed)
                reasons.push_back(ruleReason(rule));
            return registrationErrorPage(shownReasons(kind, std::move(reasons)));
        }
        Account a;
        a.name = form.value("username");
        a.suffix = form.value("domainname");
        a.password = form.value("Password");
        a.title = form.value("Title");
        a.sendUrl = form.value("SendUrl");
        a.hide = form.value("State") == "1";
        a.email = form.value("EmailAdr");
        a.regName = form.value("RegName");
        a.linkTel = form.value("LinkTel");
        a.address = form.value("Address");
        if (!store.insert(a))
            return registrationErrorPage(shownReasons(kind, {ruleReason(Rule::NameTaken)}));
        return registeredPage(a);
    }

    Reply login(const httplib::Request& req, FaultKind kind)
    {
        const FormData form = FormData::parse(req.body);
        const std::optional<Account> account =
            store.find(form.value("username"), form.value("domainname"));
        if (!account || account->password != form.value("password"))
            return wrongPasswordPage();
        const std::optional<std::string> token = newSessionToken();
        if (!token)
            return busyPage();
        {
            std::lock_guard lock(mutex);
            sessions[*token] = sessionOrder.insert(
                sessionOrder.end(), Session{*token, {account->name, account->suffix}});
            while (sessions.size() > std::max<std::size_t>(options.maxSessions, 1)) {
                sessions.erase(sessionOrder.front().token);
                sessionOrder.pop_front();
            }
        }
        Reply reply = accountPage(shownAccount(kind, *account));
        reply.headers.emplace_back("Set-Cookie", "QIVSESSION=" + *token + "; path=/");
        return reply;
    }

    Reply modify(const httplib::Request& req, FaultKind kind)
    {
        auto alert = [kind](std::string reasonGbk) {
            return alertPage(shownText(kind, std::move(reasonGbk), kMarkupAlert));
        };
        const FormData form = FormData::parse(req.body);
        const std::string name = form.value("username");
        const std::string suffix = form.value("domainname");
        const std::string token = sessionCookie(req);
        {
            std::lock_guard lock(mutex);
            const auto it = sessions.find(token);
            if (token.empty() || it == sessions.end() ||
                it->second->account != std::pair(name, suffix))
                return alert(gbk("请先登录"));
        }
        std::lock_guard lock(accountMutex);
        std::optional<Account> account = store.find(name, suffix);
        if (!account)
            return alert(gbk("请先登录"));

        if (form.get("delinfo") == gbk("删除")) {
            store.remove(name, suffix);
            std::lock_guard sessionLock(mutex);
            for (auto it = sessionOrder.begin(); it != sessionOrder.end();) {
                if (it->account == std::pair(name, suffix)) {
                    sessions.erase(it->token);
                    it = sessionOrder.erase(it);
                } else {
                    ++it;
                }
            }
            return deletedPage();
        }
        if (const std::optional<Rule> failed = checkModification(form))
            return alert(ruleReason(*failed));
        if (const std::string psw = form.value("psw"); !psw.empty())
            account->password = psw;
        account->title = form.value("Title");
        account->sendUrl = form.value("SendUrl");
        account->hide = form.value("State") == "1";
        account->email = form.value("EmailAdr");
        account->regName = form.value("RegName");
        account->linkTel = form.value("LinkTel");
        account->address = form.value("Address");
        if (!store.update(*account))
            return alert(gbk("系统繁忙，请稍后再试"));
        return modifiedPage();
    }

    // --- one request -----------------------------------------------------

    // POST /control/ip on the IP role: the body becomes the IP page's reply
    // (an empty body: the caller's address again). Loopback callers only.
    bool control(Role role, const httplib::Request& req, httplib::Response& res)
    {
        if (role != Role::Ip || req.path != "/control/ip")
            return false;
        res.status = 200;
        if (req.method != "POST")
            res.status = 405;
        else if (req.remote_addr.rfind("127.", 0) != 0)
            res.status = 403;
        else
            setIpReply(req.body.empty() ? std::nullopt : std::optional<std::string>(req.body));
        res.set_content(res.status == 200 ? "ok\n" : "refused\n", "text/plain");
        logLine(role, req, std::to_string(res.status), {});
        return true;
    }

    void setIpReply(std::optional<std::string> reply)
    {
        std::lock_guard lock(mutex);
        ipReply = std::move(reply);
    }

    void handle(Role role, const httplib::Request& req, httplib::Response& res)
    {
        if (control(role, req, res))
            return;
        const std::optional<Page> page = identify(role, req.path);
        Fault fault;
        Reply reply;
        if (!page) {
            reply = notFoundPage();
        } else {
            const auto index = static_cast<std::size_t>(*page);
            ++counts[index];
            record(*page, req);
            {
                std::lock_guard lock(mutex);
                fault = faults[index];
            }
            if (fault.delayMs > 0 && !waitDelay(fault.delayMs))
                fault.kind = FaultKind::Drop;
            switch (fault.kind) {
            case FaultKind::Empty:
            case FaultKind::Endless:
                break;
            case FaultKind::Drop:
                dropConnection();
                logLine(role, req, "dropped", fault);
                return;
            case FaultKind::NoMarker:
                reply = busyPage();
                break;
            default:
                reply = serve(*page, req, fault.kind);
                damageReply(reply, fault.kind);
            }
        }

        res.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            res.set_header(name, value);
        if (fault.kind == FaultKind::Huge) {
            auto body = std::make_shared<std::string>(std::move(reply.body));
            res.set_content_provider(
                kHugeBodySize, kHtmlContentType,
                [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::string part = hugeBodyPart(*body, kHugeBodySize, offset,
                                                          std::min<std::size_t>(length, 1 << 16));
                    return sink.write(part.data(), part.size());
                });
        } else if (fault.kind == FaultKind::Endless) {
            // Chunked, at full speed, until the client goes away (the
            // write fails) or the server stops (its connections are shut).
            res.set_chunked_content_provider(
                kHtmlContentType, [](std::size_t offset, httplib::DataSink& sink) {
                    const std::string part = endlessBodyPart(offset, 1 << 16);
                    return sink.write(part.data(), part.size());
                });
        } else {
            res.set_content(reply.body.data(), reply.body.size(), kHtmlContentType);
        }
        logLine(role, req, std::to_string(reply.status), fault);
    }

    void logLine(Role role, const httplib::Request& req, const std::string& outcome, Fault fault)
    {
        if (!options.log)
            return;
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
        log(line);
    }
};

DevServer::DevServer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DevServer::~DevServer()
{
    stop();
}

bool DevServer::start(std::string* error)
{
    Impl& d = *impl_;
    if (d.running)
        return true;
    const std::array<const std::string*, 3> texts{&d.options.serviceAddress, &d.options.ipAddress,
                                                  &d.options.adAddress};
    for (std::size_t i = 0; i < kRoles.size(); ++i) {
        std::optional<ListenAddress> address = parseListenAddress(*texts[i], error);
        if (!address)
            return false;
        d.listeners[i].address = *address;
    }
    if (!d.store.open(d.options.dbPath, error))
        return false;
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = false;
    }

    for (std::size_t i = 0; i < kRoles.size(); ++i) {
        Impl::Listener& l = d.listeners[i];
        const Role role = kRoles[i];
        l.server = std::make_unique<ListenServer>();
        l.server->set_keep_alive_timeout(2);
        // A body announced bigger than the whole request may be is refused
        // unread; the rest of the bound is kept by the connection stream.
        l.server->set_payload_max_length(kMaxRequestBytes);
        // Headers and body go out in separate writes: without this, each
        // reply waits for the client's delayed acknowledgement.
        l.server->set_tcp_nodelay(true);
        // httplib's default also sets SO_REUSEPORT, which would let a second
        // server share a port in use and split the requests between the two:
        // an address in use must fail instead.
        l.server->set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        auto handler = [&d, role](const httplib::Request& req, httplib::Response& res) {
            d.handle(role, req, res);
        };
        const std::string any = R"([\s\S]*)";
        l.server->Get(any, handler);
        l.server->Post(any, handler);
        l.server->Put(any, handler);
        l.server->Patch(any, handler);
        l.server->Delete(any, handler);
        l.server->Options(any, handler);
        errno = 0;
        const int port =
            l.address.port == 0
                ? l.server->bind_to_any_port(l.address.host)
                : (l.server->bind_to_port(l.address.host, l.address.port) ? l.address.port : -1);
        if (port < 0) {
            const int err = errno;
            if (error != nullptr)
                *error = std::string("cannot listen on ") + roleName(role) + " address " +
                         l.address.host + ":" + std::to_string(l.address.port) +
                         (err != 0 ? std::string(": ") + std::strerror(err) : std::string());
            for (std::size_t j = 0; j <= i; ++j) {
                d.listeners[j].server->closeUnusedSocket();
                d.listeners[j].server.reset();
                d.listeners[j].port = 0;
            }
            return false;
        }
        l.port = port;
    }
    for (Impl::Listener& l : d.listeners) {
        l.done = false;
        l.thread = std::thread([&l] {
            l.server->listen_after_bind();
            l.done = true;
        });
    }
    // httplib's stop() only reaches a server whose loop runs: wait for each
    // loop to be up (the sockets already accept connections meanwhile).
    for (Impl::Listener& l : d.listeners) {
        while (!l.server->is_running() && !l.done)
            std::this_thread::yield();
    }
    d.running = true;
    return true;
}

void DevServer::stop()
{
    Impl& d = *impl_;
    if (!d.running)
        return;
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopCv.notify_all();
    for (Impl::Listener& l : d.listeners) {
        l.server->stop();
        l.server->shutdownConnections();
    }
    for (Impl::Listener& l : d.listeners) {
        if (l.thread.joinable())
            l.thread.join();
        l.server.reset();
        l.port = 0;
    }
    d.running = false;
}

bool DevServer::isRunning() const
{
    return impl_->running;
}

int DevServer::servicePort() const
{
    return impl_->listeners[0].port;
}

int DevServer::ipPort() const
{
    return impl_->listeners[1].port;
}

int DevServer::adPort() const
{
    return impl_->listeners[2].port;
}

std::string DevServer::serviceUrl() const
{
    return "http://" + impl_->listeners[0].address.host + ":" + std::to_string(servicePort());
}

std::string DevServer::ipUrl() const
{
    return "http://" + impl_->listeners[1].address.host + ":" + std::to_string(ipPort());
}

std::string DevServer::adUrl() const
{
    return "http://" + impl_->listeners[2].address.host + ":" + std::to_string(adPort());
}

void DevServer::setFault(Page page, Fault fault)
{
    impl_->applyFaultSetting(FaultSetting{page, fault});
}

bool DevServer::setFault(std::string_view page, Fault fault)
{
    if (page == "all") {
        impl_->applyFaultSetting(FaultSetting{std::nullopt, fault});
        return true;
    }
    const std::optional<Page> p = pageFromName(page);
    if (!p)
        return false;
    setFault(*p, fault);
    return true;
}

void DevServer::clearFaults()
{
    impl_->applyFaultSetting(FaultSetting{std::nullopt, Fault{}});
}

Fault DevServer::fault(Page page) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->faults[static_cast<std::size_t>(page)];
}

void DevServer::setIpReply(std::optional<std::string> reply)
{
    std::lock_guard lock(impl_->mutex);
    impl_->ipReply = std::move(reply);
}

std::optional<Account> DevServer::findAccount(std::string_view name, std::string_view suffix) const
{
    impl_->store.open(impl_->options.dbPath, nullptr);
    return impl_->store.find(name, suffix);
}

std::size_t DevServer::accountCount() const
{
    impl_->store.open(impl_->options.dbPath, nullptr);
    return impl_->store.count();
}

bool DevServer::addAccount(const Account& account)
{
    if (!impl_->store.open(impl_->options.dbPath, nullptr))
        return false;
    std::lock_guard lock(impl_->accountMutex);
    return impl_->store.insert(account);
}

std::size_t DevServer::requestCount(Page page) const
{
    return impl_->counts[static_cast<std::size_t>(page)].load();
}

std::optional<RecordedRequest> DevServer::lastRequest(Page page) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->lastRequests[static_cast<std::size_t>(page)];
}

} // namespace qiv::devserver
