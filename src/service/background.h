#pragma once

#include "text/page_cuts.h"

#include <QPointer>

#include <atomic>
#include <memory>

// Waits on the network: the fetches. On the background thread that blocks
// only that thread; fetchPublicIp(MainWindow&, ...) on the UI thread handles
// the window's events while it waits (and while it pauses between tries).
namespace qiv {

class MainWindow;
struct ProgramState;

// Set when the fetches should stop retrying because the window is gone.
using StopFlag = std::shared_ptr<std::atomic<bool>>;

// Starts the one background thread of the run, which runs
// runStartupFetches. The thread is never waited for; it stops retrying once
// the window is destroyed, and may use `state` until then and a while
// after. Call on the UI thread. False when no thread could be started.
bool startStartupFetches(MainWindow& window, ProgramState& state);

// The start-up sequence: suffix list (retried until it succeeds), user count
// and public IP (a few tries each, then the sequence goes on without them),
// with the login group disabled and its caption telling what is being
// loaded. Every control change goes to the UI thread in the order issued.
// Returns when all three are done, or early once `stop` is set. `window` is
// only dereferenced on the UI thread.
void runStartupFetches(QPointer<MainWindow> window, ProgramState& state, StopFlag stop);

// One fetch each, repeated until a try succeeds or `stop` is set; the user
// count and the public IP give up after a few tries as well. Without a flag
// (on the UI thread only) they give up once the window is gone.
// Each failed try counts in its retry counter of `state`; a successful
// public-IP lookup keeps its reply in state.lastPublicIp.
void fetchDomainSuffixes(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop);
void fetchUserCount(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop);
void fetchPublicIp(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop);
// The public-IP lookup on the UI thread (after a login or refresh).
void fetchPublicIp(MainWindow& window, ProgramState& state);

} // namespace qiv
