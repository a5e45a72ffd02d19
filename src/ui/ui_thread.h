#pragma once

#include <QObject>

#include <functional>

namespace qiv {

// Applies a change to controls on the UI thread, where the context object lives.
// Called on the UI thread it runs at once; from any other thread it is queued,
// and queued changes reach the widgets in the order they were issued. A change
// whose context object is gone by then is dropped, not run.
void onUiThread(QObject* context, std::function<void()> change);

} // namespace qiv
