#pragma once

#include <string>

// One qiv-follow per account: an flock on a file in the runtime directory,
// held until the process ends.
namespace qiv::follow {

// $XDG_RUNTIME_DIR (or systemd's $RUNTIME_DIRECTORY, else /tmp) +
// "/qiv-follow-" + the account and host, bytes outside [A-Za-z0-9._-]
// written as %XX.
std::string lockFilePath(const std::string& name, const std::string& suffix,
                         const std::string& host);

// Takes the lock; false, with the reason in *error, when another process
// holds it or the file cannot be made. The descriptor stays open for the
// life of the process.
bool takeInstanceLock(const std::string& path, std::string* error);

} // namespace qiv::follow
