#include "follow/event_command.h"

#include "config/hosts.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

extern char** environ;

namespace qiv::follow {

namespace {

// The group of the command that runs, 0 when none does.
std::atomic<pid_t> runningGroup{0};

// The follower's environment without what the command must not see: the
// credentials folder, and QIV_ variables not set here.
std::vector<std::string> commandEnvironment(const EventFacts& facts)
{
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("CREDENTIALS_DIRECTORY=") && !text.starts_with("QIV_"))
            env.emplace_back(text);
    }
    const std::pair<const char*, const std::string*> given[] = {
        {"QIV_EVENT", &facts.event},
        {"QIV_DOMAIN", &facts.domain},
        {"QIV_IP", &facts.ip},
        {"QIV_OLD_TARGET", &facts.oldTarget},
        {"QIV_NEW_TARGET", &facts.newTarget},
        {"QIV_MESSAGE", &facts.message}};
    for (const auto& [name, value] : given)
        env.push_back(std::string(name) + "=" + value->substr(0, 4096));
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (std::string& text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

std::string ending(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    return std::string("ended by signal ") + strsignal(WTERMSIG(status));
}

} // namespace

EventCommand::EventCommand(std::chrono::milliseconds limit) : limit_(limit) {}

EventCommand::~EventCommand()
{
    if (watcher_.joinable())
        watcher_.join();
}

void EventCommand::run(const std::vector<std::string>& argv, const EventFacts& facts,
                       std::shared_ptr<EventLog> log)
{
    if (argv.empty())
        return;
    const std::string shown = config::shownText(argv.front());
    {
        std::lock_guard lock(mutex_);
        if (running_) {
            log->write("event-command", "skipped for " + facts.event + ": " + shown +
                                            " still runs for an earlier event");
            return;
        }
    }
    if (watcher_.joinable())
        watcher_.join();

    std::string program = argv.front();
    if (program.find('/') == std::string::npos) {
        gchar* found = g_find_program_in_path(program.c_str());
        program = found ? found : "";
        g_free(found);
    }
    if (program.empty() || access(program.c_str(), X_OK) != 0) {
        log->write("event-command", shown + " for " + facts.event + ": no such program to run");
        return;
    }
    // Everything the child needs is made before the fork: after it, only
    // calls a signal handler may make.
    std::vector<std::string> args = argv, env = commandEnvironment(facts);
    std::vector<char*> argp = pointers(args), envp = pointers(env);
    sigset_t none;
    sigemptyset(&none);
    const pid_t pid = fork();
    if (pid < 0) {
        log->write("event-command", shown + " for " + facts.event + ": " + std::strerror(errno));
        return;
    }
    if (pid == 0) {
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0)
            _exit(126);
        // Nothing of the follower's open files, the password's included.
        close_range(3, ~0U, 0);
        execve(program.c_str(), argp.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    runningGroup = pid;
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    watcher_ = std::thread(&EventCommand::watch, this, pid, shown, facts.event, std::move(log));
}

void EventCommand::watch(pid_t pid, std::string shown, std::string event,
                         std::shared_ptr<EventLog> log)
{
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::string what;
    if (done == 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        const long long ms = limit_.count();
        what = "killed with its process group after " +
               (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
    } else {
        what = ending(status);
    }
    runningGroup = 0;
    log->write("event-command", shown + " for " + event + " " + what);
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    ended_.notify_all();
}

void EventCommand::wait()
{
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return !running_; });
}

void EventCommand::killRunning()
{
    if (const pid_t group = runningGroup.load(); group > 0)
        kill(-group, SIGKILL);
}

} // namespace qiv::follow
