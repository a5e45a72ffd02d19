#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

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

std::vector<std::string> forwardWithViews(const std::string& path)
{
    if (::geteuid() == 0)
        return {path, "--ads-without-sandbox"};
    return {path};
}

pid_t spawnProgram(std::vector<std::string> argv, int* out, bool keepStderr)
{
    int pipeFds[2] = {-1, -1};
    if (out != nullptr && pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out != nullptr)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!keepStderr)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (out != nullptr) {
        close(pipeFds[1]);
        *out = pipeFds[0];
    }
    return pid;
}

std::string runSelf(const char* self, const std::vector<std::string>& args)
{
    std::vector<std::string> all{self};
    all.insert(all.end(), args.begin(), args.end());
    return outputOf(all, true);
}

std::string outputOf(const std::vector<std::string>& argv, bool keepStderr)
{
    int out = -1;
    const pid_t pid = spawnProgram(argv, &out, keepStderr);
    std::string output;
    if (pid > 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(out, buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(n));
        waitpid(pid, nullptr, 0);
    }
    if (out >= 0)
        close(out);
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
