#pragma once

#include <optional>
#include <string>

// Where qiv-follow's password comes from: a file only its owner can read,
// a systemd credential, or the Secret Service. Never the command line or the
// environment, and never a log.
namespace qiv::follow {

struct PasswordResult {
    std::optional<std::string> password; // UTF-8, as stored
    std::string error;                   // what is wrong when there is none
};

// The password file: refused when it is no regular file, is owned by
// another user, gives group or others any access, or is larger than 4 KiB;
// one trailing newline is dropped.
PasswordResult readPasswordFile(const std::string& path);

// The Secret Service item of one account on one service host.
struct KeyringAccount {
    std::string name, suffix, host;
};
PasswordResult lookUpKeyring(const KeyringAccount& account);
// Ends a lookup that waits, now and for good (from any thread).
void cancelKeyringLookups();
// The empty text when stored, else what went wrong.
std::string storeInKeyring(const KeyringAccount& account, const std::string& password);

// The password for a round: `passwordFile` when given, else the credential
// $CREDENTIALS_DIRECTORY/qiv-follow-password when it exists, else the
// Secret Service.
PasswordResult findPassword(const std::optional<std::string>& passwordFile,
                            const KeyringAccount& account);

// For --store-password: one line from the terminal with echo off (the
// prompt on standard error), or standard input when it is no terminal; the
// trailing newline dropped. A signal at the prompt gives the terminal its
// echo back before it ends the program.
PasswordResult readPasswordToStore();

} // namespace qiv::follow
