#pragma once

#include <QObject>

#include <functional>

namespace qiv {

// Applies a change to controls on the UI thread, where the context object lives.
// Called on the UI thread it runs at once; from any other thread it is queued,
// and queued changes reach the widgets in the order they were issued, one per
// turn of the event loop, so that input and paint are served between them
// (a change that runs an event loop of its own holds back those behind it
// until it returns). A change whose context object is gone by then is
// dropped, not run.
void onUiThread(QObject* context, std::function<void()> change);

} // namespace qiv
