#include "net/timed_request.h"

#include "net/cookie_store.h"
#include "net/http_engine.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace qiv {
namespace {

using Clock = std::chrono::steady_clock;

// Lives on the caller's thread while it waits in an event loop; the worker
// posts it one event to end the wait. A plain posted event, so the only
// hand-over between the threads is Qt's event queue. Only the worker posts
// it custom events, and the event itself is not read here: the worker made
// it, and Qt's queue, which hands it over, is invisible to ThreadSanitizer.
class Waker : public QObject {
public:
    explicit Waker(QEventLoop& loop) : loop_(loop) {}

protected:
    void customEvent(QEvent*) override { loop_.quit(); }

private:
    QEventLoop& loop_;
};

// What one call and its worker share besides the request slots: who decided
// the outcome first, and how to wake the waiting caller.
struct CallState {
    enum class Outcome { Waiting, Finished, Abandoned };

    std::mutex mutex;
    std::condition_variable changed;
    Outcome outcome = Outcome::Waiting;
    // Set while the caller waits in an event loop.
    Waker* waker = nullptr;
};

// Called by the worker for each host its exchange goes to. Only while the
// caller still waits is its store sure to exist; an abandoned exchange,
// about to be cut anyway, gets no cookies.
std::vector<std::string> cookiesWhileWaiting(CallState& state, const CookieStore* cookies,
                                             std::string_view host)
{
    std::lock_guard lock(state.mutex);
    if (state.outcome != CallState::Outcome::Waiting)
        return {};
    return cookies->linesFor(host);
}

// Called by the worker when the exchange has ended. The outcome and the
// cookies are decided under the one lock, so a call that has already given
// up (and returned the empty text) never changes the cookies of later calls,
// nor touches a store that may be gone by then.
void reportFinished(CallState& state, CookieStore* cookies, const CookieChanges& changes)
{
    std::lock_guard lock(state.mutex);
    if (state.outcome != CallState::Outcome::Waiting)
        return;
    state.outcome = CallState::Outcome::Finished;
    cookies->apply(changes);
    if (state.waker)
        QCoreApplication::postEvent(state.waker, new QEvent(QEvent::User));
    state.changed.notify_all();
}

// Called by the caller when its limit has passed. Returns false when the
// worker finished first.
bool abandon(CallState& state, RequestSlots& requestSlots)
{
    std::lock_guard lock(state.mutex);
    if (state.outcome != CallState::Outcome::Waiting)
        return state.outcome == CallState::Outcome::Abandoned;
    state.outcome = CallState::Outcome::Abandoned;
    requestSlots.abandoned.store(true);
    return true;
}

// Called through the Network's RequestStop: the call gives up at once, as at
// its limit, and its caller wakes.
void endWait(CallState& state, RequestSlots& requestSlots)
{
    std::lock_guard lock(state.mutex);
    if (state.outcome != CallState::Outcome::Waiting)
        return;
    state.outcome = CallState::Outcome::Abandoned;
    requestSlots.abandoned.store(true);
    if (state.waker)
        QCoreApplication::postEvent(state.waker, new QEvent(QEvent::User));
    state.changed.notify_all();
}

bool canRunEventLoop()
{
    return QCoreApplication::instance() != nullptr;
}

int timerMs(Clock::duration duration)
{
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// Waits in a (possibly nested) event loop until the worker reports or the
// deadline passes. Returns early, with the outcome still open, only when
// the thread's event loops were told to quit for good.
void waitInEventLoop(CallState& state, RequestSlots& requestSlots, Clock::time_point deadline)
{
    QEventLoop loop;
    auto waker = std::make_unique<Waker>(loop);
    {
        std::lock_guard lock(state.mutex);
        if (state.outcome != CallState::Outcome::Waiting)
            return;
        state.waker = waker.get();
    }
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        abandon(state, requestSlots);
        loop.quit();
    });
    limit.start(timerMs(deadline - Clock::now()));
    loop.exec(QEventLoop::AllEvents);
    {
        std::lock_guard lock(state.mutex);
        state.waker = nullptr;
    }
    // Destroying the waker drops a wake-up the worker may have posted since.
    waker.reset();
}

void waitOnCondition(CallState& state, RequestSlots& requestSlots, Clock::time_point deadline)
{
    {
        std::unique_lock lock(state.mutex);
        state.changed.wait_until(lock, deadline,
                                 [&] { return state.outcome != CallState::Outcome::Waiting; });
    }
    abandon(state, requestSlots);
}

} // namespace

void RequestStop::stop()
{
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (auto& [id, end] : waiting_)
        end();
}

bool RequestStop::stopped() const
{
    std::lock_guard lock(mutex_);
    return stopped_;
}

RequestStop::Id RequestStop::add(std::function<void()> end)
{
    std::lock_guard lock(mutex_);
    if (stopped_)
        end();
    waiting_.emplace(++next_, std::move(end));
    return next_;
}

void RequestStop::remove(Id id)
{
    std::lock_guard lock(mutex_);
    waiting_.erase(id);
}

int WorkerCount::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

bool WorkerCount::waitUntilNone(std::chrono::milliseconds bound) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return running_ == 0; });
}

void WorkerCount::add(int delta)
{
    std::lock_guard lock(mutex_);
    running_ += delta;
    changed_.notify_all();
}

std::string timedRequest(Network& network, const std::string& url, const std::string& method,
                         const std::string& proxy, const std::string& headers,
                         const std::string& body, int timeoutSeconds)
{
    if (timeoutSeconds < 0 || network.stop.stopped())
        return {};
    const Clock::time_point start = Clock::now();
    const Clock::duration limit = timeoutSeconds == 0
                                      ? Clock::duration(network.requestLimit.load())
                                      : Clock::duration(std::chrono::seconds(timeoutSeconds));
    const Clock::time_point deadline = start + limit;

    auto requestSlots = std::make_shared<RequestSlots>();
    requestSlots->url = url;
    requestSlots->method = method;
    requestSlots->proxy = proxy;
    requestSlots->headers = headers;
    requestSlots->body = body;
    requestSlots->running.store(true);
    auto state = std::make_shared<CallState>();

    // The worker keeps its own hold on the count: it counts itself out
    // after its call may have ended, and with it the Network.
    std::shared_ptr<WorkerCount> workers = network.workers;
    CookieStore* cookies = &network.cookies;
    workers->add(1);
    try {
        std::thread([requestSlots, state, workers, cookies]() mutable {
            const CookieChanges changes =
                performExchange(*requestSlots, [&state, cookies](std::string_view host) {
                    return cookiesWhileWaiting(*state, cookies, host);
                });
            requestSlots->running.store(false);
            reportFinished(*state, cookies, changes);
            requestSlots.reset();
            state.reset();
            workers->add(-1);
        }).detach();
    } catch (const std::system_error&) {
        workers->add(-1);
        return {};
    }

    const RequestStop::Id stopId =
        network.stop.add([&state, &requestSlots] { endWait(*state, *requestSlots); });
    if (canRunEventLoop())
        waitInEventLoop(*state, *requestSlots, deadline);
    waitOnCondition(*state, *requestSlots, deadline);
    network.stop.remove(stopId);

    std::lock_guard lock(state->mutex);
    if (state->outcome != CallState::Outcome::Finished)
        return {};
    // The worker is done with the slots: take the body over instead of
    // copying it.
    std::string response = std::move(requestSlots->response);
    response.resize(std::min(response.size(), response.find('\0')));
    return response;
}

void waitHandlingEvents(std::chrono::milliseconds duration)
{
    if (duration.count() <= 0) {
        if (canRunEventLoop())
            QCoreApplication::processEvents();
        return;
    }
    if (!canRunEventLoop()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    const Clock::time_point deadline = Clock::now() + duration;
    QEventLoop loop;
    QTimer::singleShot(timerMs(duration), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::AllEvents);
    // The loops of this thread were told to quit for good: sleep out the rest.
    Clock::time_point now = Clock::now();
    if (now < deadline)
        std::this_thread::sleep_until(deadline);
}

} // namespace qiv
