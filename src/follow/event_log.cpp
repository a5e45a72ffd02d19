#include "follow/event_log.h"

#include "config/hosts.h"
#include "follow/instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace qiv::follow {

namespace {

constexpr std::size_t kMaxDetailBytes = 1024;

std::string timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

// Makes each missing directory of `path`'s parent, private to the user.
void makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

} // namespace

std::string historyFilePath(const std::string& name, const std::string& suffix)
{
    return stateDirectory() + "/" + accountFileName(name, suffix) + ".history.log";
}

EventLog::EventLog(std::string historyPath, std::FILE* out, std::size_t rotateBytes)
    : path_(std::move(historyPath)), out_(out), rotateBytes_(rotateBytes)
{}

void EventLog::write(std::string_view event, std::string_view detail)
{
    std::string shown = config::shownText(detail.substr(0, kMaxDetailBytes));
    std::string line = timestamp() + " " + std::string(event) + ": " + shown + "\n";
    std::lock_guard lock(mutex_);
    last_ = std::string(event) + ": " + shown;
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    if (!path_.empty())
        append(line);
}

std::string EventLog::lastLine() const
{
    std::lock_guard lock(mutex_);
    return last_;
}

void EventLog::append(const std::string& line)
{
    makeParents(path_);
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0 &&
        static_cast<std::size_t>(st.st_size) + line.size() > rotateBytes_)
        std::rename(path_.c_str(), (path_ + ".1").c_str());
    const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    bool written =
        fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int err = errno;
    if (fd >= 0)
        close(fd);
    // The journal still has every line; say once that the file does not.
    if (!written && !warned_) {
        warned_ = true;
        std::fprintf(stderr, "qiv-follow: %s: %s; events go to standard output only\n",
                     path_.c_str(), std::strerror(err));
    }
}

} // namespace qiv::follow
