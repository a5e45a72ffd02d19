#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Shared parts of the window benchmarks: a qiv-devserver child on free
// loopback ports, process clocks and memory from /proc, and the measured
// process started as a child of the benchmark.
namespace qiv::bench {

// Seconds on the boot clock, the clock of /proc/<pid>/stat's start time.
double bootSeconds();
// The boot-clock time at which this process started (exec, not main()).
// The kernel keeps it in clock ticks (usually 10 ms).
double processStartSeconds();

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when the
// process or field is gone.
long statusKb(pid_t pid, const char* field);
// The proportional set size of a process in KiB (shared pages divided among
// their users); -1 when unreadable.
long pssKb(pid_t pid);
// Every process below `root` (children, their children, ...).
std::vector<pid_t> descendants(pid_t root);
// The command name of a process (/proc/<pid>/comm) and, for a Chromium
// helper, its --type.
std::string commandName(pid_t pid);

// qiv-devserver from this build, run as a child process with its three roles
// on their usual loopback addresses but on free ports, so that it collides
// with no other server; with defaultPorts on its default addresses, the
// hosts qiv-forward is built with. extraArgs follow (e.g. --fault ...).
// Stopped by the destructor.
class DevServerChild {
public:
    explicit DevServerChild(const std::vector<std::string>& extraArgs = {},
                            bool defaultPorts = false);
    ~DevServerChild();
    DevServerChild(const DevServerChild&) = delete;
    DevServerChild& operator=(const DevServerChild&) = delete;

    bool running() const { return pid_ > 0 && !serviceHost_.empty(); }
    // "ip:port" of each role.
    const std::string& serviceHost() const { return serviceHost_; }
    const std::string& ipHost() const { return ipHost_; }
    const std::string& adHost() const { return adHost_; }

private:
    pid_t pid_ = -1;
    std::string logPath_;
    std::string serviceHost_, ipHost_, adHost_;
};

// Runs this program again with `args` (after argv[0]) and returns what it
// wrote on standard output; the child's standard error passes through.
std::string runSelf(const char* self, const std::vector<std::string>& args);

// The median of some values (0 for none).
double median(std::vector<double> values);

} // namespace qiv::bench
