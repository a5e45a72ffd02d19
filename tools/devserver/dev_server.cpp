#include "devserver/dev_server.h"

#include "devserver/handlers.h"
#include "devserver/sessions.h"

#include <httplib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qiv::devserver {

// The server in front of the page handlers: which page a request is for,
// the fault it meets there, what was asked, and the three listeners.
struct DevServer::Impl {
    Options options;
    AccountStore store;
    // Serialises every check-then-change of the accounts.
    std::mutex accountMutex;
    PageHandlers pages;

    mutable std::mutex mutex; // faults, lastRequests
    std::array<Fault, kPageCount> faults{};
    std::array<std::optional<RecordedRequest>, kPageCount> lastRequests;
    std::array<std::atomic<std::size_t>, kPageCount> counts{};
    std::mutex logMutex;

    std::mutex stopMutex;
    std::condition_variable stopCv;
    bool stopping = false;

    std::array<Listener, kRoles.size()> listeners; // in the order of kRoles
    bool running = false;

    explicit Impl(Options o)
        : options(std::move(o)), pages(store, accountMutex, options.suffixes, options.maxSessions,
                                       options.ipReply, options.adBody)
    {
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
        r.cookie = cookieHeaders(req);
        std::lock_guard lock(mutex);
        lastRequests[static_cast<std::size_t>(page)] = std::move(r);
    }

    void log(Role role, const httplib::Request& req, const std::string& outcome, Fault fault)
    {
        if (!options.log)
            return;
        const std::string line = requestLogLine(role, req, outcome, fault);
        std::lock_guard lock(logMutex);
        options.log(line);
    }

    // Counts and records a request to the page; the page's fault, after its
    // delay (a stop during the delay drops the request).
    Fault enter(Page page, const httplib::Request& req)
    {
        const auto index = static_cast<std::size_t>(page);
        ++counts[index];
        record(page, req);
        Fault fault;
        {
            std::lock_guard lock(mutex);
            fault = faults[index];
        }
        if (fault.delayMs > 0 && !waitDelay(fault.delayMs))
            fault.kind = FaultKind::Drop;
        return fault;
    }

    void handle(Role role, const httplib::Request& req, httplib::Response& res)
    {
        if (const std::optional<int> status = pages.control(role, req, res)) {
            log(role, req, std::to_string(*status), {});
            return;
        }
        const std::optional<Page> page = identifyPage(role, req.path);
        Fault fault;
        Reply reply;
        if (!page) {
            reply = notFoundPage();
        } else {
            fault = enter(*page, req);
            switch (fault.kind) {
            case FaultKind::Empty:
            case FaultKind::Endless:
                break;
            case FaultKind::Drop:
                dropConnection();
                log(role, req, "dropped", fault);
                return;
            case FaultKind::NoMarker:
                reply = busyPage();
                break;
            default:
                reply = pages.answer(*page, req, fault.kind);
                damageReply(reply, fault.kind);
            }
        }
        writeReply(std::move(reply), fault.kind, res);
        log(role, req, std::to_string(res.status), fault);
    }

    // Binds every listener, or none.
    bool bindAll(std::string* error)
    {
        for (std::size_t i = 0; i < kRoles.size(); ++i) {
            const Role role = kRoles[i];
            auto handler = [this, role](const httplib::Request& req, httplib::Response& res) {
                handle(role, req, res);
            };
            if (!listeners[i].bind(roleName(role), handler, error)) {
                for (std::size_t j = 0; j < i; ++j)
                    listeners[j].unbind();
                return false;
            }
        }
        return true;
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
    const std::array<const std::string*, kRoles.size()> texts{
        &d.options.serviceAddress, &d.options.ipAddress, &d.options.adAddress};
    for (std::size_t i = 0; i < kRoles.size(); ++i) {
        std::optional<ListenAddress> address = parseListenAddress(*texts[i], error);
        if (!address)
            return false;
        d.listeners[i].setAddress(std::move(*address));
    }
    if (!d.store.open(d.options.dbPath, error))
        return false;
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = false;
    }
    if (!d.bindAll(error))
        return false;
    for (Listener& l : d.listeners)
        l.serve();
    for (Listener& l : d.listeners)
        l.waitServing();
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
    for (Listener& l : d.listeners)
        l.stop();
    for (Listener& l : d.listeners)
        l.join();
    d.running = false;
}

bool DevServer::isRunning() const
{
    return impl_->running;
}

int DevServer::servicePort() const
{
    return impl_->listeners[0].port();
}

int DevServer::ipPort() const
{
    return impl_->listeners[1].port();
}

int DevServer::adPort() const
{
    return impl_->listeners[2].port();
}

std::string DevServer::serviceUrl() const
{
    return impl_->listeners[0].url();
}

std::string DevServer::ipUrl() const
{
    return impl_->listeners[1].url();
}

std::string DevServer::adUrl() const
{
    return impl_->listeners[2].url();
}

void DevServer::setFault(Page page, Fault fault)
{
    impl_->applyFaultSetting(FaultSetting{page, fault});
}

bool DevServer::setFault(std::string_view page, Fault fault)
{
    const std::optional<Page> p = pageFromName(page); // nothing for "all": every page
    if (!p && page != "all")
        return false;
    impl_->applyFaultSetting(FaultSetting{p, fault});
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
    impl_->pages.setIpReply(std::move(reply));
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
