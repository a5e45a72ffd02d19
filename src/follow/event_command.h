#pragma once

#include "follow/event_log.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The user's command on the events of a round (on-event, --on-event): run
// without a shell in a process group of its own, given what happened in
// QIV_* variables and nothing of the password.
namespace qiv::follow {

struct EventFacts {
    std::string event; // changed, refused, not-read, not-verified, bad-ip
    std::string domain, ip, oldTarget, newTarget, message;
};

class EventCommand {
public:
    // The limit after which the command is killed with its whole group.
    static constexpr std::chrono::seconds kLimit{30};

    explicit EventCommand(std::chrono::milliseconds limit = kLimit);
    ~EventCommand();

    // Starts `argv` for `facts`, unless the command of an earlier event
    // still runs: then the log says this one is skipped. Its end (status,
    // signal or the limit) goes to `log`.
    void run(const std::vector<std::string>& argv, const EventFacts& facts,
             std::shared_ptr<EventLog> log);
    // Waits for the running command, at most until the limit kills it.
    void wait();
    // Kills the running command's group; for the signal thread.
    static void killRunning();

private:
    void watch(pid_t pid, std::string shown, std::string event, std::shared_ptr<EventLog> log);

    std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool running_ = false; // guarded by mutex_
    std::thread watcher_;
};

} // namespace qiv::follow
