#pragma once

#include <string>

// The files of one account: one qiv-follow per account (an flock held until
// the process ends) and its history, both in a folder private to the user.
namespace qiv::follow {

// $XDG_STATE_HOME/qiv-forward, or under ~/.local/state: the accounts'
// state files.
std::string stateBaseDirectory();
// Its folder "follow": the locks and histories.
std::string stateDirectory();

// Makes the state folder (mode 700) where it is missing and checks it: a
// folder, no link, owned by the user, no access for group or others. The
// empty text when it is fit, else the reason. Nobody else can then make or
// hold a file in it.
std::string privateStateDirectory();

// "name.suffix", bytes outside [A-Za-z0-9._-] written as %XX.
std::string accountFileName(const std::string& name, const std::string& suffix);

// The state folder + "/" + the account + ".lock": the same account name as
// the history's, so the one follower that holds it is the one that writes
// the history, whatever service host each was given.
std::string lockFilePath(const std::string& name, const std::string& suffix);

// Takes the lock: the descriptor that holds it, or -1 with the reason in
// *error when another process holds it or the file cannot be made.
int takeInstanceLock(const std::string& path, std::string* error);

} // namespace qiv::follow
