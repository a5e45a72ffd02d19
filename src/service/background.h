#pragma once

#include "text/page_cuts.h"

#include <QPointer>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace qiv {

class MainWindow;

// Set when the fetches should stop retrying because the window is gone.
using StopFlag = std::shared_ptr<std::atomic<bool>>;

// Starts the one background thread of the run, which runs
// runStartupFetches. The thread is never waited for; it stops retrying once
// the window is destroyed. Call on the UI thread. False when no thread could
// be started.
bool startStartupFetches(MainWindow& window);

// The start-up sequence: suffix list, user count, public IP, each retried
// until it succeeds, with the login group disabled and its caption telling
// what is being loaded. Every control change goes to the UI thread in the
// order issued. Returns when all three succeeded, or early once `stop` is
// set. `window` is only dereferenced on the UI thread.
void runStartupFetches(QPointer<MainWindow> window, StopFlag stop);

// One fetch each, repeated until a try succeeds or `stop` is set. Without a
// flag (on the UI thread only) they give up once the window is gone.
void fetchDomainSuffixes(QPointer<MainWindow> window, const StopFlag& stop);
void fetchUserCount(QPointer<MainWindow> window, const StopFlag& stop);
void fetchPublicIp(QPointer<MainWindow> window, const StopFlag& stop);
// The public-IP lookup on the UI thread (after a login or refresh).
void fetchPublicIp(MainWindow& window);

// The reply of the last successful public-IP lookup (empty before one).
Text lastPublicIp();

int suffixRetryCount();
int userCountRetryCount();
int ipRetryCount();

// The pause between a failed try and the next one (2 s).
std::chrono::milliseconds retryPause();
void setRetryPause(std::chrono::milliseconds pause);

// For tests: every program-wide value of the fetches back to its start.
void resetBackgroundStateForTesting();

} // namespace qiv
