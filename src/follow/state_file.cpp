#include "follow/state_file.h"

#include "config/hosts.h"
#include "follow/instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace qiv::follow {

namespace {

// A handful of short lines; anything far larger is not ours.
constexpr std::size_t kMaxStateBytes = 64 * 1024;

std::string shownTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

// A value on one line: control bytes as \xHH.
std::string line(const char* key, const std::string& value)
{
    return std::string(key) + " = " + config::shownText(value.substr(0, 2048)) + "\n";
}

std::time_t number(const std::string& text)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos)
        return 0;
    return static_cast<std::time_t>(std::atoll(text.c_str()));
}

std::string shownDuration(long long seconds)
{
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 2 * 3600)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds / 3600) + " h";
}

} // namespace

const char* outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Current:
        return "current";
    case Outcome::HostName:
    case Outcome::OtherFamily:
        return "left-alone";
    case Outcome::DryRun:
        return "dry-run";
    case Outcome::Changed:
        return "changed";
    case Outcome::Refused:
        return "refused";
    case Outcome::NotWhole:
        return "not-read";
    case Outcome::ModifyFailed:
        return "modify-failed";
    case Outcome::NotVerified:
        return "not-verified";
    case Outcome::BadIpReply:
        return "bad-ip";
    case Outcome::Unreachable:
        return "unreachable";
    case Outcome::Stopped:
        break;
    }
    return "stopped";
}

std::string stateFilePath(const std::string& name, const std::string& suffix)
{
    return stateBaseDirectory() + "/" + accountFileName(name, suffix) + ".state";
}

std::optional<FollowState> readStateFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string text(kMaxStateBytes + 1, '\0');
    std::size_t got = 0;
    for (ssize_t n; got < text.size() && (n = read(fd, text.data() + got, text.size() - got)) > 0;)
        got += static_cast<std::size_t>(n);
    close(fd);
    if (got > kMaxStateBytes)
        return {};
    text.resize(got);
    FollowState state;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        const size_t eq = l.find(" = ");
        if (eq == std::string::npos)
            continue;
        const std::string key = l.substr(0, eq), value = l.substr(eq + 3);
        if (key == "round")
            state.round = number(value);
        else if (key == "outcome")
            state.outcome = value;
        else if (key == "ended-well")
            state.endedWell = value == "yes";
        else if (key == "message")
            state.message = value;
        else if (key == "target")
            state.target = value;
        else if (key == "ip")
            state.ip = value;
        else if (key == "change")
            state.change = number(value);
        else if (key == "change-from")
            state.changeFrom = value;
        else if (key == "change-to")
            state.changeTo = value;
        else if (key == "next")
            state.next = number(value);
        else if (key == "interval")
            state.interval = static_cast<int>(std::min<std::time_t>(number(value), 1 << 30));
        else if (key == "notified")
            state.notified = value;
    }
    if (state.round == 0)
        return {};
    return state;
}

std::string writeStateFile(const std::string& path, const FollowState& state)
{
    const std::string text =
        "# qiv-follow's state of this account, rewritten after each round\n" +
        line("round", std::to_string(state.round)) + line("outcome", state.outcome) +
        line("ended-well", state.endedWell ? "yes" : "no") + line("message", state.message) +
        line("target", state.target) + line("ip", state.ip) +
        line("change", std::to_string(state.change)) + line("change-from", state.changeFrom) +
        line("change-to", state.changeTo) + line("next", std::to_string(state.next)) +
        line("interval", std::to_string(state.interval)) + line("notified", state.notified);
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return path + ": " + std::strerror(errno);
    bool written = fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    written = written && fsync(fd) == 0;
    const int err = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int why = written ? errno : err;
        unlink(temporary.c_str());
        return path + ": " + std::strerror(why);
    }
    return {};
}

std::string statusText(const std::string& account, const std::optional<FollowState>& state,
                       std::time_t now, bool* healthy)
{
    *healthy = false;
    if (!state)
        return account + ": no round has run yet\n";
    const FollowState& s = *state;
    std::string text = account + "\n";
    text += "  last round:  " + shownTime(s.round) + ", " + s.outcome +
            (s.endedWell ? "" : " (failed)") + "\n";
    text += "               " + s.message + "\n";
    text += "  target:      " + (s.target.empty() ? std::string("not seen yet") : s.target) + "\n";
    text += "  public IP:   " + (s.ip.empty() ? std::string("none found yet") : s.ip) + "\n";
    text += "  last change: " +
            (s.change ? shownTime(s.change) + ", " + s.changeFrom + " to " + s.changeTo
                      : std::string("none seen")) +
            "\n";
    const long long late = static_cast<long long>(now) - static_cast<long long>(s.next);
    const bool overdue = late > 2LL * s.interval;
    text += "  next round:  " + shownTime(s.next) +
            (overdue    ? ", overdue by " + shownDuration(late) + ": is qiv-follow running?"
             : late > 0 ? ", a little late"
                        : "") +
            "\n";
    *healthy = s.endedWell && !overdue;
    return text;
}

} // namespace qiv::follow
