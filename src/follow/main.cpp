// qiv-follow: keeps the forwarding target of a Qiv free domain on this
// machine's public IP, unattended.

#include "config/process_end.h"
#include "follow/event_command.h"
#include "follow/event_log.h"
#include "follow/instance_lock.h"
#include "follow/notifier.h"
#include "follow/password.h"
#include "follow/round.h"
#include "follow/settings.h"
#include "follow/state_file.h"
#include "text/gbk.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qiv::follow;
using namespace std::chrono_literals;

// Set by the signal thread; the rounds and the waits between them look at
// it.
struct Control {
    enum class Wake { Timeout, Stop, Reload, PasswordChanged };

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false; // guarded by mutex
    bool reload = false;   // guarded by mutex
    int signal = 0;        // guarded by mutex

    // Waits `duration` inside a round; false when the program stops first.
    bool wait(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, duration, [this] { return stopping; });
    }

    // Waits `duration` between rounds, looking at `fileChanged` every few
    // seconds; a stop or a reload ends the wait early.
    Wake waitBetweenRounds(std::chrono::milliseconds duration,
                           const std::function<bool()>& fileChanged)
    {
        const auto deadline = std::chrono::steady_clock::now() + duration;
        std::unique_lock lock(mutex);
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            if (!stopping && !reload && now >= deadline)
                return Wake::Timeout;
            changed.wait_for(lock,
                             std::min<std::chrono::steady_clock::duration>(deadline - now, 2s),
                             [this] { return stopping || reload; });
            if (stopping)
                return Wake::Stop;
            if (reload) {
                reload = false;
                return Wake::Reload;
            }
            lock.unlock();
            const bool fileDiffers = fileChanged();
            lock.lock();
            if (fileDiffers)
                return Wake::PasswordChanged;
        }
    }
};

const char* signalName(int signal)
{
    return signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
}

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
    qiv::config::endProcess(status);
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

// The command line read with its config file (--config FILE, else
// follow.conf) into `line`; an error text when the config file cannot be
// read.
std::string loadSettings(const std::vector<std::string>& args, CommandLine* line)
{
    std::string error;
    const std::optional<std::string> path = configOption(args, &error);
    if (!error.empty())
        return error;
    const ConfigFile config = path ? loadConfigFile(*path, &error) : loadConfigFile(&error);
    if (!error.empty())
        return error;
    // A refused hosts file ends every run but the one that asks the version.
    qiv::config::SourcedHosts below;
    const std::string hostsError = qiv::config::hostsBelowOptions(&below);
    *line = readCommandLine(args, below, config);
    if (!hostsError.empty() && line->action != CommandLine::Action::Version)
        return qiv::config::shownText(hostsError);
    if (line->action != CommandLine::Action::Run)
        return {};
    Settings& s = line->settings;
    if (!s.passwordFile && s.configFile) {
        const std::string beside = passwordBesideConfig(*s.configFile);
        struct stat st {};
        if (lstat(beside.c_str(), &st) == 0)
            s.passwordFile = beside;
    }
    // Hidden: the tests shorten the pause after a refusal.
    if (const char* pause = std::getenv("QIV_FOLLOW_REFUSAL_PAUSE_MS"); pause && *pause)
        s.refusalPause = std::chrono::milliseconds(std::max(1L, std::atol(pause)));
    return {};
}

// The settings of the command line and config file; an exit status when
// the run ends there (help, version, a usage error).
std::optional<int> readSettings(const std::vector<std::string>& args, Settings* settings)
{
    CommandLine commandLine;
    if (const std::string error = loadSettings(args, &commandLine); !error.empty())
        return fail(error);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(usage({commandLine.settings.hosts, commandLine.settings.hostsFrom}).c_str(),
                   stdout);
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

// The password as sent, into `passwordGbk`; the empty text, else why there
// is none to send.
std::string readPassword(const Settings& settings, std::string* passwordGbk)
{
    const PasswordResult password = findPassword(
        settings.passwordFile, {settings.name, settings.suffix, settings.hosts.service});
    if (!password.password)
        return settings.configFile && !settings.passwordFile
                   ? password.error + ", or put it in " + passwordBesideConfig(*settings.configFile)
                   : password.error;
    std::optional<std::string> gbk = qiv::utf8ToGbk(*password.password);
    if (!gbk)
        return "the password cannot be sent: it is not UTF-8 text that GBK can hold";
    *passwordGbk = std::move(*gbk);
    return {};
}

// The thread that takes the signals: SIGHUP asks for a reload; SIGTERM and
// SIGINT stop the waits, the network and a Secret Service lookup, and end
// the process themselves should anything still hold it after 800 ms.
void startSignalThread(sigset_t signals, qiv::Network& network, Control& control)
{
    std::thread([signals, &network, &control] {
        for (;;) {
            int received = 0;
            sigwait(&signals, &received);
            // Before the main thread may end the process on the news.
            if (received != SIGHUP)
                EventCommand::killRunning();
            {
                std::lock_guard lock(control.mutex);
                if (received == SIGHUP)
                    control.reload = true;
                else {
                    control.stopping = true;
                    control.signal = received;
                }
            }
            control.changed.notify_all();
            if (received == SIGHUP)
                continue;
            network.stop.stop();
            cancelKeyringLookups();
            std::this_thread::sleep_for(800ms);
            std::fprintf(stderr, "qiv-follow: stopped by %s\n", signalName(received));
            end(kExitOk);
        }
    }).detach();
}

// What identifies a version of the password file: a change of any of these
// is an edit or a replacement.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long seconds = 0, nanoseconds = 0;

    static FileStamp of(const std::optional<std::string>& path)
    {
        FileStamp stamp;
        struct stat st {};
        if (path && stat(path->c_str(), &st) == 0)
            stamp = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
        return stamp;
    }
    bool operator==(const FileStamp&) const = default;
};

// One account as the follower works on it: settings, password, lock,
// history and the round's engine. A reload makes a new one.
struct Session {
    Settings settings;
    std::string passwordGbk;
    std::string lockPath;
    int lockFd = -1;
    FileStamp passwordStamp;
    // Shared with an event command that may outlive a reload.
    std::shared_ptr<EventLog> log;
    std::unique_ptr<Follower> follower;
    // Not in a dry run, which writes nothing.
    std::string statePath;
    FollowState state;

    std::string account() const { return settings.name + "." + settings.suffix; }
};

// Reads the password, takes the account's lock (unless `held` holds it
// already) and makes the log and the follower; the empty text, else why it
// cannot run.
std::string openSession(Session& s, qiv::Network& network, Control& control,
                        const Session* held = nullptr)
{
    s.passwordStamp = FileStamp::of(s.settings.passwordFile);
    if (std::string error = readPassword(s.settings, &s.passwordGbk); !error.empty())
        return error;
    // A dry run writes nothing, so it may run beside the follower.
    if (!s.settings.dryRun) {
        if (std::string error = privateStateDirectory(); !error.empty())
            return error;
        s.lockPath = lockFilePath(s.settings.name, s.settings.suffix);
        if (held && held->lockPath == s.lockPath) {
            s.lockFd = held->lockFd;
        } else {
            std::string error;
            s.lockFd = takeInstanceLock(s.lockPath, &error);
            if (s.lockFd < 0)
                return error;
        }
        s.statePath = stateFilePath(s.settings.name, s.settings.suffix);
        s.state = readStateFile(s.statePath).value_or(FollowState{});
    }
    s.log = std::make_shared<EventLog>(
        s.settings.dryRun ? std::string() : historyFilePath(s.settings.name, s.settings.suffix));
    s.follower = std::make_unique<Follower>(
        network,
        RoundSettings{
            .hosts = s.settings.hosts, .dryRun = s.settings.dryRun, .ipUrls = s.settings.ipUrls},
        Account{s.account(), s.settings.nameGbk, s.settings.suffixGbk, s.passwordGbk}, *s.log,
        [&control](std::chrono::milliseconds d) { return control.wait(d); });
    return {};
}

std::string shownDuration(std::chrono::milliseconds wait)
{
    return wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s"
                                    : std::to_string(wait.count()) + " ms";
}

// The events the user is told of: each runs the event command and shows a
// notification, a failure only once until it clears or another comes.
bool isToldEvent(const std::string& event)
{
    return event == "changed" || event == "refused" || event == "not-read" ||
           event == "not-verified" || event == "bad-ip";
}

// The round's end into the state file, with the wait before the next; then
// the user told of it.
void recordRound(Session& s, Outcome outcome, std::chrono::milliseconds wait, EventCommand& command)
{
    if (s.statePath.empty() || outcome == Outcome::Stopped)
        return;
    FollowState& st = s.state;
    const std::time_t now = std::time(nullptr);
    const RoundFacts& facts = s.follower->facts();
    st.round = now;
    st.outcome = outcomeName(outcome);
    st.endedWell = exitStatus(outcome) == kExitOk;
    st.message = s.log->lastLine();
    if (!facts.ip.empty())
        st.ip = facts.ip;
    if (!facts.target.empty())
        st.target = facts.target;
    if (outcome == Outcome::Changed) {
        st.change = now;
        st.changeFrom = facts.target;
        st.changeTo = st.target = facts.newTarget;
    }
    st.next = now + static_cast<std::time_t>((wait.count() + 999) / 1000);
    st.interval = s.settings.interval;

    const EventFacts told{.event = st.outcome,
                          .domain = s.account(),
                          .ip = facts.ip,
                          .oldTarget = facts.target,
                          .newTarget = facts.newTarget,
                          .message = st.message};
    const bool event = isToldEvent(st.outcome);
    const std::string failure = event && outcome != Outcome::Changed ? st.message : "";
    if (st.endedWell && outcome != Outcome::DryRun)
        st.notified.clear();
    if (event && (failure.empty() || failure != st.notified)) {
        std::string error;
        if (showNotice(*noticeFor(told), &error))
            st.notified = failure;
        else if (!error.empty())
            s.log->write("notify-failed", error);
    }
    if (const std::string error = writeStateFile(s.statePath, st); !error.empty())
        s.log->write("state-failed", error);
    if (event && !s.settings.onEventArgv.empty())
        command.run(s.settings.onEventArgv, told, s.log);
}

// --status: the state file read and shown; 0 when all is well.
int showStatus(const Settings& settings)
{
    const std::string account = settings.name + "." + settings.suffix;
    bool healthy = false;
    std::fputs(statusText(account, readStateFile(stateFilePath(settings.name, settings.suffix)),
                          std::time(nullptr), &healthy)
                   .c_str(),
               stdout);
    return healthy ? kExitOk : kExitFailed;
}

// SIGHUP or a new password file: the config and the password read again.
// On failure the session goes on as it was, and the log says why.
void reload(std::unique_ptr<Session>& session, const std::vector<std::string>& args,
            qiv::Network& network, Control& control, const char* why)
{
    session->log->write("reloading", why);
    auto next = std::make_unique<Session>();
    std::string error;
    CommandLine line;
    if (error = loadSettings(args, &line); error.empty() && line.action != CommandLine::Action::Run)
        error = line.error.empty() ? "the command line asks for no run" : line.error;
    if (error.empty()) {
        next->settings = std::move(line.settings);
        error = openSession(*next, network, control, session.get());
    }
    if (!error.empty()) {
        if (next->lockFd >= 0 && next->lockFd != session->lockFd)
            close(next->lockFd);
        session->passwordStamp = FileStamp::of(session->settings.passwordFile);
        session->log->write("reload-failed", error + "; going on as before");
        return;
    }
    if (session->lockFd >= 0 && session->lockFd != next->lockFd)
        close(session->lockFd);
    next->log->write("reloaded", "following " + next->account() + " every " +
                                     std::to_string(next->settings.interval) + " s");
    session = std::move(next);
}

// Rounds every interval, backing off after failed modifications and after
// refused logins, until a stop signal.
[[noreturn]] void followUntilStopped(std::unique_ptr<Session> session,
                                     const std::vector<std::string>& args, qiv::Network& network,
                                     Control& control, EventCommand& command)
{
    int failedInARow = 0;
    int refusedInARow = 0;
    for (;;) {
        const Outcome outcome = session->follower->runRound();
        if (outcome == Outcome::Stopped)
            break;
        failedInARow = isFailedModification(outcome) ? failedInARow + 1 : 0;
        refusedInARow = outcome == Outcome::Refused ? refusedInARow + 1 : 0;
        const Settings& s = session->settings;
        std::chrono::milliseconds wait = nextWait(s.interval, failedInARow);
        if (refusedInARow > 0)
            wait = nextRefusalWait(s.refusalPause, refusedInARow);
        recordRound(*session, outcome, wait, command);
        if (refusedInARow > 0) {
            session->log->write("backing-off",
                                std::to_string(refusedInARow) + " refused login" +
                                    (refusedInARow > 1 ? "s" : "") + " in a row; next try in " +
                                    shownDuration(wait) +
                                    ", or at once on SIGHUP or a change of the password file");
        } else if (failedInARow >= 2) {
            session->log->write("backing-off", std::to_string(failedInARow) +
                                                   " failed modifications in a row; next try in " +
                                                   shownDuration(wait));
        }
        const std::optional<std::string> watched = s.passwordFile;
        const FileStamp stamp = session->passwordStamp;
        const Control::Wake wake = control.waitBetweenRounds(
            wait, [&watched, &stamp] { return !(FileStamp::of(watched) == stamp); });
        if (wake == Control::Wake::Stop)
            break;
        if (wake == Control::Wake::Timeout)
            continue;
        reload(session, args, network, control,
               wake == Control::Wake::Reload ? "SIGHUP" : "the password file changed");
        failedInARow = refusedInARow = 0;
    }
    int received;
    {
        std::lock_guard lock(control.mutex);
        received = control.signal;
    }
    session->log->write("stopped", signalName(received));
    finish(network, kExitOk);
}

int run(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto session = std::make_unique<Session>();
    if (const std::optional<int> status = readSettings(args, &session->settings))
        return *status;
    const Settings& settings = session->settings;
    if (settings.storePassword)
        return storePassword(settings);
    if (settings.status)
        return showStatus(settings);

    // The signals are taken from here on, the password lookup included.
    const sigset_t signals = blockStopSignals();
    static qiv::Network network{
        .cookies = qiv::CookieStore({settings.hosts.service, settings.hosts.ipLookup})};
    static Control control;
    startSignalThread(signals, network, control);

    if (const std::string error = openSession(*session, network, control); !error.empty()) {
        // A lookup cut short by the signal is no password problem.
        std::lock_guard lock(control.mutex);
        if (control.stopping) {
            std::fprintf(stderr, "qiv-follow: stopped by %s\n", signalName(control.signal));
            return kExitOk;
        }
        return fail(error);
    }
    EventLog& log = *session->log;
    // Hidden: the tests shorten the limit of the event command.
    std::chrono::milliseconds limit = EventCommand::kLimit;
    if (const char* ms = std::getenv("QIV_FOLLOW_EVENT_LIMIT_MS"); ms && *ms)
        limit = std::chrono::milliseconds(std::max(1L, std::atol(ms)));
    static EventCommand command(limit);

    if (settings.once) {
        const Outcome outcome = session->follower->runRound();
        if (outcome == Outcome::Stopped)
            log.write("stopped", "by a signal during the round");
        recordRound(*session, outcome, std::chrono::seconds(settings.interval), command);
        command.wait();
        finish(network, exitStatus(outcome));
    }

    log.write("started", "following " + session->account() + " on " + settings.hosts.service +
                             " every " + std::to_string(settings.interval) + " s");
    followUntilStopped(std::move(session), args, network, control, command);
}

} // namespace

int main(int argc, char** argv)
{
    end(run(argc, argv));
}
