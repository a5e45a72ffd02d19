#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

// qiv-follow's output: each event one timestamped line on standard output
// (the journal's, under systemd) and appended to a bounded history file.
namespace qiv::follow {

// The account's own history in the state folder:
// $XDG_STATE_HOME/qiv-forward/follow/NAME.SUFFIX.history.log.
std::string historyFilePath(const std::string& name, const std::string& suffix);

class EventLog {
public:
    // The history file is rotated before a line would take it past
    // `rotateBytes`: it becomes `path`.1, replacing the one before.
    static constexpr std::size_t kRotateBytes = 256 * 1024;

    explicit EventLog(std::string historyPath, std::FILE* out = stdout,
                      std::size_t rotateBytes = kRotateBytes);

    // "YYYY-MM-DDTHH:MM:SS+ZZZZ event: detail". The detail is shown as plain
    // text: control bytes as \xHH, at most 1024 bytes. With no history path
    // (a dry run) the line goes to the output only.
    // Any thread may write.
    void write(std::string_view event, std::string_view detail);
    // The last line written, without its time: "event: detail".
    std::string lastLine() const;

private:
    void append(const std::string& line);

    std::string path_;
    std::FILE* out_;
    std::size_t rotateBytes_;
    bool warned_ = false;
    mutable std::mutex mutex_;
    std::string last_; // guarded by mutex_
};

} // namespace qiv::follow
