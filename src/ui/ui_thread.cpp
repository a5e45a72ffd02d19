#include "ui/ui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qiv {

void onUiThread(QObject* context, std::function<void()> change)
{
    if (context == nullptr)
        return;
    if (QThread::currentThread() == context->thread()) {
        change();
        return;
    }
    // Queued calls to one receiver run in the order they were posted, and Qt
    // drops those whose receiver was deleted in the meantime.
    QMetaObject::invokeMethod(context, std::move(change), Qt::QueuedConnection);
}

} // namespace qiv
