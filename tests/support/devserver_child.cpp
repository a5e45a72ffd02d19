#include "devserver_child.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace qiv::test {
namespace {

// An unnamed file for one output stream: unlinked at once, so nothing is
// left behind however the run ends.
int outputFile()
{
    char name[] = "/tmp/qiv-devserver-child-XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd >= 0)
        unlink(name);
    return fd;
}

// The whole file so far; pread leaves the offset the child writes at alone.
std::string contents(int fd)
{
    std::string text;
    if (fd < 0)
        return text;
    char buffer[65536];
    ssize_t n;
    while ((n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

} // namespace

DevServerAddresses defaultDevServerAddresses()
{
    return {"127.0.0.1:8090", "127.0.0.2:8091", "127.0.0.3:8092"};
}

DevServerChild::DevServerChild(const std::vector<std::string>& args)
{
    start(args);
}

DevServerChild::DevServerChild(const DevServerAddresses& addresses,
                               const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> args{"--service",  addresses.service, "--ip",
                                  addresses.ip, "--ads",           addresses.ads};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    start(args);
    waitListening();
}

void DevServerChild::start(const std::vector<std::string>& args)
{
    outFd_ = outputFile();
    errFd_ = outputFile();
    if (outFd_ < 0 || errFd_ < 0)
        return;
    // Built before the fork: the child of a threaded process only execs.
    std::vector<std::string> all{QIV_DEVSERVER_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The server goes with the test, also when the test dies.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(outFd_, 1);
        dup2(errFd_, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

bool DevServerChild::waitListening(std::chrono::milliseconds bound)
{
    // The server says where it listens once all three roles are bound.
    const std::optional<std::smatch> m =
        waitForLine(std::regex(R"(listening service=(\S+) ip=(\S+) ads=(\S+))"), bound);
    if (!m)
        return false;
    serviceHost_ = (*m)[1].str();
    ipHost_ = (*m)[2].str();
    adHost_ = (*m)[3].str();
    return true;
}

std::string DevServerChild::out() const
{
    return contents(outFd_);
}

std::string DevServerChild::err() const
{
    return contents(errFd_);
}

std::optional<std::smatch> DevServerChild::waitForLine(const std::regex& pattern,
                                                       std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (started()) {
        const std::string text = err();
        std::size_t eol;
        while ((eol = text.find('\n', scanned_)) != std::string::npos) {
            line_ = text.substr(scanned_, eol - scanned_);
            scanned_ = eol + 1;
            std::smatch m;
            if (std::regex_search(line_, m, pattern))
                return m;
        }
        // Lines written before the exit are read once more above.
        if (exited_ || std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        waitForExit(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

void DevServerChild::signal(int sig)
{
    if (started() && !exited_)
        kill(pid_, sig);
}

int DevServerChild::waitForExit(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (started() && !exited_) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

int DevServerChild::stop()
{
    signal(SIGTERM);
    if (waitForExit(std::chrono::seconds(5)) < 0) {
        signal(SIGKILL);
        waitForExit(std::chrono::seconds(5));
    }
    return status_;
}

DevServerChild::~DevServerChild()
{
    stop();
    for (const int fd : {outFd_, errFd_})
        if (fd >= 0)
            close(fd);
}

} // namespace qiv::test
