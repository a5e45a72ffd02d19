#include "follow/instance_lock.h"

#include "config/host_files.h"
#include "text/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace qiv::follow {

namespace {

// A name in a file name keeps ASCII letters, digits, '.', '_' and '-';
// every other byte goes as %XX.
bool encodedInFileName(unsigned char byte)
{
    return !((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
             (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-');
}

// A file name has at most 255 bytes.
std::string bounded(std::string file)
{
    if (file.size() > 200)
        file = file.substr(0, 180) + "-" + std::to_string(std::hash<std::string>{}(file));
    return file;
}

} // namespace

std::string stateBaseDirectory()
{
    return config::xdgDirectory("XDG_STATE_HOME", ".local/state") + "/qiv-forward";
}

std::string stateDirectory()
{
    return stateBaseDirectory() + "/follow";
}

std::string privateStateDirectory()
{
    const std::string dir = stateDirectory();
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0)
        return dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return dir + ": not a folder";
    if (st.st_uid != geteuid())
        return dir + ": owned by user " + std::to_string(st.st_uid) + ", not by you";
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        return dir + ": open to group or others (mode " + mode + "); refused. chmod 700 " + dir;
    }
    return {};
}

std::string accountFileName(const std::string& name, const std::string& suffix)
{
    return bounded(percentEncode(name, encodedInFileName) + "." +
                   percentEncode(suffix, encodedInFileName));
}

std::string lockFilePath(const std::string& name, const std::string& suffix)
{
    return stateDirectory() + "/" + accountFileName(name, suffix) + ".lock";
}

int takeInstanceLock(const std::string& path, std::string* error)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        *error = err == EWOULDBLOCK ? "another qiv-follow runs for this account (" + path + ")"
                                    : path + ": " + std::strerror(err);
        return -1;
    }
    return fd; // open for as long as the lock is meant to last
}

} // namespace qiv::follow
