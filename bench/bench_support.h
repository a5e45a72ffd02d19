#pragma once

#include "devserver_child.h"

#include <sys/types.h>

#include <string>
#include <vector>

// Shared parts of the window benchmarks: process clocks and memory from
// /proc, and the measured process started as a child of the benchmark.
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

// qiv-devserver from this build as a child process.
using test::defaultDevServerAddresses;
using test::DevServerAddresses;
using test::DevServerChild;

// Starts argv[0] with `argv`. Its standard output goes to a pipe whose
// reading end is returned in *out, or to /dev/null without out; its
// standard error to /dev/null, or passes through with keepStderr. The pid,
// or -1.
pid_t spawnProgram(std::vector<std::string> argv, int* out, bool keepStderr = false);

// The command line of qiv-forward at `path` for a bench that measures it with
// its advertisement views: as root, where Chromium has no sandbox, it shows
// them only with --ads-without-sandbox; the pages are qiv-devserver's own.
std::vector<std::string> forwardWithViews(const std::string& path);

// Runs this program again with `args` (after argv[0]) and returns what it
// wrote on standard output; the child's standard error passes through.
std::string runSelf(const char* self, const std::vector<std::string>& args);

// Runs a program and returns what it wrote on standard output; its standard
// error is dropped, or passes through with keepStderr.
std::string outputOf(const std::vector<std::string>& argv, bool keepStderr = false);

// The median of some values (0 for none).
double median(std::vector<double> values);

} // namespace qiv::bench
