#include "config/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace qiv::config {

namespace {

// Three short lines and their notes; anything far larger is no hosts file.
constexpr std::size_t kMaxHostsFileBytes = 64 * 1024;

std::string trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// Whether this process runs in a user namespace that does not map root, as
// a hardened systemd user unit does (PrivateUsers=, implied there by its
// other sandboxing): root's files then show as owned by the overflow user.
bool rootUnmapped()
{
    std::FILE* map = std::fopen("/proc/self/uid_map", "re");
    if (!map)
        return false;
    bool mapped = false;
    unsigned long inside = 0, outside = 0, count = 0;
    while (std::fscanf(map, "%lu %lu %lu", &inside, &outside, &count) == 3)
        mapped = mapped || (outside == 0 && count > 0);
    std::fclose(map);
    return !mapped;
}

uid_t overflowUid()
{
    unsigned long uid = 65534;
    if (std::FILE* file = std::fopen("/proc/sys/kernel/overflowuid", "re")) {
        if (std::fscanf(file, "%lu", &uid) != 1)
            uid = 65534;
        std::fclose(file);
    }
    return static_cast<uid_t>(uid);
}

// Whether `uid` may own a hosts file: root or this user. Where root is not
// mapped, the overflow user stands for any owner outside the namespace, so
// it is taken for root in the system's file only, which lies where only root
// writes.
bool trustedOwner(uid_t uid, bool systemFile)
{
    if (uid == 0 || uid == ::geteuid())
        return true;
    return systemFile && uid == overflowUid() && rootUnmapped();
}

// What makes the open file no source of hosts: it decides where the
// password is sent, so only root or this user may have written it.
std::string fileStatusError(const struct stat& st, bool systemFile)
{
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return "others can write it (mode " + std::to_string((st.st_mode >> 6) & 7) +
               std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) +
               "); remove the group and other write bits";
    if (!trustedOwner(st.st_uid, systemFile))
        return "owned by user " + std::to_string(st.st_uid) + ", neither root nor you";
    if (static_cast<std::size_t>(st.st_size) > kMaxHostsFileBytes)
        return "larger than 64 KiB; not a hosts file";
    return {};
}

} // namespace

std::string xdgDirectory(const char* variable, const char* underHome)
{
    const char* xdg = std::getenv(variable);
    const char* home = std::getenv("HOME");
    return xdg && *xdg == '/' ? std::string(xdg) : std::string(home ? home : "") + "/" + underHome;
}

const HostOption* hostOptionForKey(std::string_view key)
{
    for (size_t i = 0; i < std::size(kHostKeys); ++i)
        if (key == kHostKeys[i])
            return &kHostOptions[i];
    return nullptr;
}

SourcedHosts builtInSourcedHosts()
{
    // Hidden: the tests stand for a package build built without hosts.
    if (const char* none = std::getenv("QIV_HOSTS_NONE_BUILT_IN"); none && *none == '1')
        return {};
    SourcedHosts hosts{builtInHosts(), {}};
    for (const HostOption& option : kHostOptions)
        if (!(hosts.value.*option.host).empty())
            hosts.from.*option.host = "built in";
    return hosts;
}

std::string userHostsFilePath()
{
    return xdgDirectory("XDG_CONFIG_HOME", ".config") + "/qiv-forward/hosts.conf";
}

std::string systemHostsFilePath()
{
    if (const char* path = std::getenv("QIV_HOSTS_SYSTEM_FILE"); path && *path)
        return path;
    return "/etc/qiv-forward/hosts.conf";
}

std::string setHostKey(SourcedHosts* layer, const HostOption& option, const std::string& value,
                       const std::string& where)
{
    if (const std::string error = hostValueError(value); !error.empty())
        // Appended, not added: GCC 12 warns falsely (-Wrestrict) on
        // "'" + a temporary at -O3.
        return std::string("'").append(shownText(value)).append("': ").append(error);
    layer->value.*option.host = value;
    layer->from.*option.host = where;
    return {};
}

std::string readHostsFile(const std::string& path, SourcedHosts* layer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? std::string()
                               : path + ": cannot be read (" + std::strerror(errno) + ")";
    struct stat st {};
    std::string error = ::fstat(fd, &st) != 0 ? std::string(std::strerror(errno))
                                              : fileStatusError(st, path == systemHostsFilePath());
    std::string text(kMaxHostsFileBytes + 1, '\0');
    size_t got = 0;
    while (error.empty() && got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = std::string("cannot be read (") + std::strerror(errno) + ")";
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (error.empty() && got > kMaxHostsFileBytes)
        error = "larger than 64 KiB; not a hosts file";
    if (!error.empty())
        return path + ": refused: " + error;
    text.resize(got);

    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return where + "expected key = value";
        const std::string key = trimmed(line.substr(0, eq));
        const HostOption* option = hostOptionForKey(key);
        if (!option)
            return where + "unknown key '" + shownText(key) +
                   "' (service-host, ip-host and ad-host are known)";
        if (std::string bad = setHostKey(layer, *option, trimmed(line.substr(eq + 1)), path);
            !bad.empty())
            return where + key + " " + bad;
    }
    return {};
}

SourcedHosts layered(const std::vector<const SourcedHosts*>& layers)
{
    SourcedHosts result;
    for (const HostOption& option : kHostOptions)
        for (const SourcedHosts* layer : layers)
            if (!(layer->value.*option.host).empty()) {
                result.value.*option.host = layer->value.*option.host;
                result.from.*option.host = layer->from.*option.host;
                break;
            }
    return result;
}

std::string hostsBelowOptions(SourcedHosts* hosts)
{
    SourcedHosts user, system;
    if (std::string error = readHostsFile(userHostsFilePath(), &user); !error.empty())
        return error;
    if (std::string error = readHostsFile(systemHostsFilePath(), &system); !error.empty())
        return error;
    const SourcedHosts builtIn = builtInSourcedHosts();
    *hosts = layered({&user, &system, &builtIn});
    return {};
}

std::string noServiceHostMessage()
{
    const std::string files = userHostsFilePath() + " 或 " + systemHostsFilePath();
    return "未设置服务主机：请在 " + files +
           " 中写入 service-host = 主机[:端口]，或以 --service-host 主机[:端口] 启动。\n"
           "No service host is set: put service-host = HOST[:PORT] in " +
           userHostsFilePath() + " or " + systemHostsFilePath() +
           ", or give --service-host HOST[:PORT].";
}

std::string shownHost(const SourcedHosts& hosts, std::string Hosts::*host)
{
    if ((hosts.value.*host).empty())
        return "none set";
    return hosts.value.*host + " from " + hosts.from.*host;
}

std::string hostsHelp(const SourcedHosts& hosts)
{
    return "The hosts may also stand in " + userHostsFilePath() + " and in\n" +
           systemHostsFilePath() +
           " as service-host, ip-host and ad-host = HOST[:PORT]\n"
           "lines; an option wins over the first file, that over the second, that over\n"
           "the hosts built in. A file others can write, or owned by neither root nor\n"
           "you, is refused. Now:\n"
           "  service host: " +
           shownHost(hosts, &Hosts::service) +
           "\n  ip host:      " + shownHost(hosts, &Hosts::ipLookup) +
           "\n  ad host:      " + shownHost(hosts, &Hosts::ad) + "\n";
}

} // namespace qiv::config
