#pragma once

#include "follow/round.h"

#include <ctime>
#include <optional>
#include <string>

// The account's state at a glance: what the last round saw and how it
// ended, rewritten whole after each round and read by --status.
namespace qiv::follow {

struct FollowState {
    std::time_t round = 0;  // when the last round ended; 0: none yet
    std::string outcome;    // its event name: current, changed, refused, ...
    bool endedWell = false; // its --once exit status would be 0
    std::string message;    // the round's last event line, without the time
    std::string target;     // the target as last seen on the account page
    std::string ip;         // the public IP as last found
    std::time_t change = 0; // when the target was last changed and verified
    std::string changeFrom, changeTo;
    std::time_t next = 0; // when the next round is due
    int interval = 0;
    // The failure last shown as a notification ("event: message"), until a
    // round ends well or another failure comes.
    std::string notified;
};

// The outcome's event name: current, left-alone, changed, refused,
// not-read, modify-failed, not-verified, bad-ip, unreachable, ...
const char* outcomeName(Outcome outcome);

// The state folder + "/" + the account + ".state".
std::string stateFilePath(const std::string& name, const std::string& suffix);

// Reads the file: nothing when it does not exist or is no state file.
std::optional<FollowState> readStateFile(const std::string& path);

// Writes it whole: a temporary file in the same folder, synced, renamed
// over the old one. The empty text, else why it could not.
std::string writeStateFile(const std::string& path, const FollowState& state);

// What --status prints for `state` at `now`, and whether all is well: the
// last round ended well and the next is not overdue by two intervals.
std::string statusText(const std::string& account, const std::optional<FollowState>& state,
                       std::time_t now, bool* healthy);

} // namespace qiv::follow
