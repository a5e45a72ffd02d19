#include "follow/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace qiv::follow {

namespace {

std::string escaped(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-')
            out += c;
        else
            out += std::string("%") + kHex[byte >> 4] + kHex[byte & 15];
    }
    return out;
}

} // namespace

std::string lockFilePath(const std::string& name, const std::string& suffix,
                         const std::string& host)
{
    std::string dir;
    for (const char* variable : {"XDG_RUNTIME_DIR", "RUNTIME_DIRECTORY"}) {
        const char* value = std::getenv(variable);
        if (value && *value == '/') {
            dir = value;
            break;
        }
    }
    // Without a runtime directory, /tmp, where the user id keeps users apart.
    if (dir.empty())
        dir = "/tmp/qiv-follow-" + std::to_string(getuid()) + "-";
    else
        dir += "/qiv-follow-";
    std::string file = escaped(name) + "." + escaped(suffix) + "@" + escaped(host);
    // A file name has at most 255 bytes.
    if (file.size() > 200)
        file = file.substr(0, 180) + "-" + std::to_string(std::hash<std::string>{}(file));
    return dir + file + ".lock";
}

bool takeInstanceLock(const std::string& path, std::string* error)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        *error = err == EWOULDBLOCK ? "another qiv-follow runs for this account (" + path + ")"
                                    : path + ": " + std::strerror(err);
        return false;
    }
    return true; // fd stays open: the lock lasts as long as the process
}

} // namespace qiv::follow
