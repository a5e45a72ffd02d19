#include "ui/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>

#include <deque>
#include <mutex>

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
class Drain : public QObject {
public:
    std::mutex mutex;
    std::deque<Pending> queue;

protected:
    void customEvent(QEvent*) override
    {
        // Everything queued so far, in the order issued; what comes in
        // meanwhile has its own wake-up behind the events already waiting.
        std::deque<Pending> ready;
        {
            std::lock_guard lock(mutex);
            ready.swap(queue);
        }
        for (Pending& next : ready) {
            if (next.context)
                next.change();
        }
    }
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
    {
        std::lock_guard lock(drain->mutex);
        drain->queue.push_back({context, std::move(change)});
    }
    // Qt frees the event; it is never read by our code.
    QCoreApplication::postEvent(drain, new QEvent(QEvent::User));
}

} // namespace qiv
