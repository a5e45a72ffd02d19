#include "ui/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>

#include <deque>
#include <mutex>
#include <utility>

namespace qiv {
namespace {

struct Pending {
    QPointer<QObject> context;
    std::function<void()> change;
};

// The changes travel through this queue under a std::mutex, not inside a
// queued Qt call: Qt's event queue locks are invisible to ThreadSanitizer,
// and a change handed over there would hide every race inside it. The event
// posted to the drain only wakes the UI thread; it carries nothing.
//
// One change per wake-up, and at most one wake-up on its way: the next one
// is posted only once a change has run, behind whatever was posted
// meanwhile (input, paint, a screen reader's request). Qt delivers in one
// pass only the events posted before the pass began, so the event loop gets
// control back between any two changes, however many are queued.
class Drain : public QObject {
public:
    // Queues a change; true when the drain must be woken.
    bool push(Pending pending)
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(pending));
        return !std::exchange(awake_, true);
    }

    static void wake(Drain* drain)
    {
        // Qt frees the event; it is never read by our code.
        QCoreApplication::postEvent(drain, new QEvent(QEvent::User));
    }

protected:
    void customEvent(QEvent*) override
    {
        Pending next;
        {
            std::lock_guard lock(mutex_);
            // Changes whose context is gone are dropped on the way.
            while (!queue_.empty() && !next.context) {
                next = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (next.context)
            next.change();
        bool more;
        {
            std::lock_guard lock(mutex_);
            more = !queue_.empty();
            awake_ = more;
        }
        if (more)
            wake(this);
    }

private:
    std::mutex mutex_;
    std::deque<Pending> queue_;
    bool awake_ = false; // a wake-up is posted, or a change is running
};

// Made while the program starts, on the thread that will run the UI (and
// before any worker exists), and never destroyed: a detached worker may
// still post while the process exits.
Drain* const drain = new Drain;

} // namespace

void onUiThread(QObject* context, std::function<void()> change)
{
    if (context == nullptr)
        return;
    if (QThread::currentThread() == context->thread()) {
        change();
        return;
    }
    Q_ASSERT(context->thread() == drain->thread());
    if (drain->push({context, std::move(change)}))
        Drain::wake(drain);
}

} // namespace qiv
