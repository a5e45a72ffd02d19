// The CPU qiv-follow uses while it waits between rounds: started with
// --interval 60 against qiv-devserver on free loopback ports, its first round
// done, then its utime + stime from /proc/<pid>/stat over 10 seconds.
// Printed, not asserted.
#include "devserver_child.h"
#include "net/timed_request.h"
#include "text/gbk.h"
#include "text/text.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// utime + stime of a process, in clock ticks; -1 when it cannot be read.
long long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    // The fields after the command name, which is in parentheses.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15) {
            stime = std::stoll(field);
            return utime + stime;
        }
    }
    return -1;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

int main()
{
    qiv::test::DevServerChild server;
    if (!server.running()) {
        std::fprintf(stderr, "bench_follow_idle: qiv-devserver did not start\n");
        return 1;
    }
    qiv::Network network;
    const std::string reply =
        qiv::timedRequest(network, "http://" + server.serviceHost() + "/reg.php", "POST", {}, {},
                          qiv::formBody({{"username", "home"},
                                         {"domainname", "qiv.cn"},
                                         {"Password", "secret1"},
                                         {"rePassword", "secret1"},
                                         {"Title", "T"},
                                         {"SendUrl", "http://203.0.113.7/"},
                                         {"EmailAdr", "me@qiv.cn"},
                                         {"RegName", "R"},
                                         {"LinkTel", "010-12345678"},
                                         {"Address", "A"}}),
                          10);
    if (reply.find(qiv::gbk("注册成功")) == std::string::npos) {
        std::fprintf(stderr, "bench_follow_idle: the registration failed\n");
        return 1;
    }

    char name[] = "/tmp/qiv-follow-bench-XXXXXX";
    if (!mkdtemp(name))
        return 1;
    const std::string dir = name;
    const std::string password = dir + "/pw", out = dir + "/out";
    std::ofstream(password) << "secret1\n";
    chmod(password.c_str(), 0600);
    mkdir((dir + "/run").c_str(), 0700);

    std::vector<std::string> args{QIV_FOLLOW_PATH,
                                  "--name",
                                  "home",
                                  "--suffix",
                                  "qiv.cn",
                                  "--password-file",
                                  password,
                                  "--interval",
                                  "60",
                                  "--service-host=" + server.serviceHost(),
                                  "--ip-host=" + server.ipHost()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }

    // The first round (the devserver answers the caller's address, 127.0.0.1,
    // so the target moves) ends with "verified".
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (readAll(out).find(" verified: ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    int status = 0;
    if (readAll(out).find(" verified: ") == std::string::npos) {
        std::fprintf(stderr, "bench_follow_idle: no first round:\n%s", readAll(out).c_str());
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::this_thread::sleep_for(500ms); // the round's workers end
    const long long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const long long before = cpuTicks(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    const long long after = cpuTicks(pid);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    const double stopMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - signalled)
            .count();

    std::printf("qiv-follow waiting between rounds (--interval 60): %lld CPU ticks "
                "(utime+stime, %lld per second) in %.1f s = %.3f%% of one core\n",
                after - before, ticksPerSecond, seconds,
                100.0 * static_cast<double>(after - before) / static_cast<double>(ticksPerSecond) /
                    seconds);
    std::printf("SIGTERM while waiting: ended after %.1f ms with status %d\n", stopMs,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::filesystem::remove_all(dir);
    return 0;
}
