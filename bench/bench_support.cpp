#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace qiv::bench {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string procPath(pid_t pid, const char* file)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
    // literal + std::to_string at -O3.
    std::string path = "/proc/";
    path += std::to_string(pid);
    path += '/';
    path += file;
    return path;
}

// The fields of /proc/<pid>/stat after the command name, which may itself
// hold spaces and parentheses: field 3 (state) is element 0.
std::vector<std::string> statFields(pid_t pid)
{
    const std::string stat = readFile(procPath(pid, "stat"));
    std::vector<std::string> fields;
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return fields;
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    while (rest >> field)
        fields.push_back(field);
    return fields;
}

// "role=host:port" out of the devserver's "listening" line.
std::string valueAfter(const std::string& line, const std::string& key)
{
    const size_t at = line.find(key);
    if (at == std::string::npos)
        return {};
    const size_t start = at + key.size();
    const size_t end = line.find_first_of(" \n", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

double bootSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double processStartSeconds()
{
    const std::vector<std::string> fields = statFields(getpid());
    // starttime is field 22 of the file.
    if (fields.size() < 20)
        return 0;
    return std::strtod(fields[19].c_str(), nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long statusKb(pid_t pid, const char* field)
{
    std::istringstream status(readFile(procPath(pid, "status")));
    const std::string key = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(key))
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

long pssKb(pid_t pid)
{
    std::istringstream rollup(readFile(procPath(pid, "smaps_rollup")));
    std::string line;
    while (std::getline(rollup, line))
        if (line.starts_with("Pss:"))
            return std::strtol(line.c_str() + 4, nullptr, 10);
    return -1;
}

std::vector<pid_t> descendants(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0)
                continue;
            const std::vector<std::string> fields = statFields(pid);
            if (fields.size() > 1)
                children.emplace(static_cast<pid_t>(std::atoi(fields[1].c_str())), pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> out;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        auto [first, last] = children.equal_range(parent);
        for (auto it = first; it != last; ++it) {
            out.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return out;
}

std::string commandName(pid_t pid)
{
    std::string name = readFile(procPath(pid, "comm"));
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    // Chromium's helpers say what they are in their --type option.
    const std::string cmdline = readFile(procPath(pid, "cmdline"));
    const size_t type = cmdline.find("--type=");
    if (type != std::string::npos) {
        name += ' ';
        name += cmdline.substr(type + 7, cmdline.find('\0', type) - type - 7);
    }
    return name;
}

DevServerChild::DevServerChild(const std::vector<std::string>& extraArgs, bool defaultPorts)
{
    char logTemplate[] = "/tmp/qiv-bench-devserver-XXXXXX";
    const int logFd = mkstemp(logTemplate);
    if (logFd < 0)
        return;
    close(logFd);
    logPath_ = logTemplate;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, logPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<std::string> args{QIV_DEVSERVER_PATH};
    if (!defaultPorts)
        args.insert(args.end(),
                    {"--service", "127.0.0.1:0", "--ip", "127.0.0.2:0", "--ads", "127.0.0.3:0"});
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ <= 0)
        return;

    // The server says where it listens once all three roles are bound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::istringstream log(readFile(logPath_));
        std::string line;
        while (std::getline(log, line)) {
            if (line.find("listening ") == std::string::npos)
                continue;
            serviceHost_ = valueAfter(line, "service=");
            ipHost_ = valueAfter(line, "ip=");
            adHost_ = valueAfter(line, "ads=");
            return;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

DevServerChild::~DevServerChild()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!logPath_.empty())
        unlink(logPath_.c_str());
}

std::string runSelf(const char* self, const std::vector<std::string>& args)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> all{self};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(n));
        waitpid(pid, nullptr, 0);
    }
    close(out[0]);
    return output;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace qiv::bench
