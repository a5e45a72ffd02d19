// qiv-follow: keeps the forwarding target of a Qiv free domain on this
// machine's public IP, unattended.

#include "follow/event_log.h"
#include "follow/instance_lock.h"
#include "follow/password.h"
#include "follow/round.h"
#include "follow/settings.h"
#include "text/gbk.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qiv::follow;

// Set once by the signal thread; the rounds and the waits between them look
// at it.
struct StopState {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false; // guarded by mutex
    int signal = 0;        // guarded by mutex

    // Waits `duration`; false when the program stops first.
    bool wait(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, duration, [this] { return stopping; });
    }
};

int fail(const std::string& message, int status = kExitUsage)
{
    std::fprintf(stderr, "qiv-follow: %s\n", message.c_str());
    return status;
}

// The process ends without running destructors: an abandoned request's
// worker may still be cutting its transfer, and must not meet a library
// (curl's, glib's under libsecret) torn down under it.
[[noreturn]] void end(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

[[noreturn]] void finish(qiv::Network& network, int status)
{
    network.workers->waitUntilNone(std::chrono::milliseconds(300));
    end(status);
}

int storePassword(const Settings& settings)
{
    PasswordResult read = readPasswordToStore();
    if (!read.password)
        return fail(read.error);
    if (!qiv::utf8ToGbk(*read.password))
        return fail("the password cannot be sent: it is not UTF-8 text that GBK can hold");
    const std::string error =
        storeInKeyring({settings.name, settings.suffix, settings.hosts.service}, *read.password);
    if (!error.empty())
        return fail(error);
    std::printf("qiv-follow: the password of %s.%s on %s is stored in the Secret Service\n",
                settings.name.c_str(), settings.suffix.c_str(), settings.hosts.service.c_str());
    return kExitOk;
}

// The settings of the command line and config file; an exit status when
// the run ends there (help, version, a usage error).
std::optional<int> readSettings(int argc, char** argv, Settings* settings)
{
    std::string configError;
    const ConfigFile config = loadConfigFile(&configError);
    if (!configError.empty())
        return fail(configError);
    CommandLine commandLine = readCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                              qiv::config::builtInHosts(), config);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(usage().c_str(), stdout);
        return kExitOk;
    case CommandLine::Action::Version:
        std::fputs(versionText().c_str(), stdout);
        return kExitOk;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "qiv-follow: %s\nTry 'qiv-follow --help'.\n",
                     commandLine.error.c_str());
        return kExitUsage;
    case CommandLine::Action::Run:
        break;
    }
    *settings = std::move(commandLine.settings);
    return {};
}

// Every thread started from here on inherits the blocked signals; only the
// signal thread takes them.
sigset_t blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signals;
}

// The password as sent, into `passwordGbk`; an exit status when there is
// none to send.
std::optional<int> readPassword(const Settings& settings, std::string* passwordGbk)
{
    const PasswordResult password = findPassword(
        settings.passwordFile, {settings.name, settings.suffix, settings.hosts.service});
    if (!password.password)
        return fail(password.error);
    std::optional<std::string> gbk = qiv::utf8ToGbk(*password.password);
    if (!gbk)
        return fail("the password cannot be sent: it is not UTF-8 text that GBK can hold");
    *passwordGbk = std::move(*gbk);
    return {};
}

// The thread that waits for a stop signal, then stops the waits and the
// network. Both outlive the process's last round.
void startSignalThread(sigset_t signals, qiv::Network& network, StopState& stop)
{
    std::thread([signals, &network, &stop] {
        int received = 0;
        sigwait(&signals, &received);
        {
            std::lock_guard lock(stop.mutex);
            stop.stopping = true;
            stop.signal = received;
        }
        stop.changed.notify_all();
        network.stop.stop();
    }).detach();
}

// Rounds every interval, backing off after failed modifications, until a
// stop signal.
[[noreturn]] void followUntilStopped(Follower& follower, EventLog& log, const Settings& settings,
                                     qiv::Network& network, StopState& stop)
{
    int failedInARow = 0;
    for (;;) {
        const Outcome outcome = follower.runRound();
        if (outcome == Outcome::Stopped)
            break;
        failedInARow = isFailedModification(outcome) ? failedInARow + 1 : 0;
        const std::chrono::seconds wait = nextWait(settings.interval, failedInARow);
        if (failedInARow >= 2)
            log.write("backing-off", std::to_string(failedInARow) +
                                         " failed modifications in a row; next try in " +
                                         std::to_string(wait.count()) + " s");
        if (!stop.wait(wait))
            break;
    }
    int received;
    {
        std::lock_guard lock(stop.mutex);
        received = stop.signal;
    }
    log.write("stopped", received == SIGINT ? "SIGINT" : received == SIGHUP ? "SIGHUP" : "SIGTERM");
    finish(network, kExitOk);
}

int run(int argc, char** argv)
{
    Settings settings;
    if (const std::optional<int> status = readSettings(argc, argv, &settings))
        return *status;
    if (settings.storePassword)
        return storePassword(settings);

    const sigset_t signals = blockStopSignals();
    std::string passwordGbk;
    if (const std::optional<int> status = readPassword(settings, &passwordGbk))
        return *status;

    // A dry run writes nothing, so it may run beside the follower.
    if (!settings.dryRun) {
        std::string error;
        if (!takeInstanceLock(lockFilePath(settings.name, settings.suffix, settings.hosts.service),
                              &error))
            return fail(error);
    }

    static qiv::Network network{
        .cookies = qiv::CookieStore({settings.hosts.service, settings.hosts.ipLookup})};
    static StopState stop;
    startSignalThread(signals, network, stop);

    EventLog log(historyFilePath());
    const std::string account = settings.name + "." + settings.suffix;
    Follower follower(network,
                      RoundSettings{.hosts = settings.hosts,
                                    .dryRun = settings.dryRun,
                                    .ipUrls = settings.ipUrls},
                      Account{account, settings.nameGbk, settings.suffixGbk, passwordGbk}, log,
                      [](std::chrono::milliseconds d) { return stop.wait(d); });

    if (settings.once) {
        const Outcome outcome = follower.runRound();
        if (outcome == Outcome::Stopped)
            log.write("stopped", "by a signal during the round");
        finish(network, exitStatus(outcome));
    }

    log.write("started", "following " + account + " on " + settings.hosts.service + " every " +
                             std::to_string(settings.interval) + " s");
    followUntilStopped(follower, log, settings, network, stop);
}

} // namespace

int main(int argc, char** argv)
{
    end(run(argc, argv));
}
