#include "follow/password.h"

#include <fcntl.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qiv::follow {

namespace {

// A password is a line; far more than this is not one.
constexpr std::size_t kMaxPasswordBytes = 4096;

const SecretSchema* keyringSchema()
{
    static const SecretSchema schema = {"io.github.qiv.forward.Follow",
                                        SECRET_SCHEMA_NONE,
                                        {
                                            {"name", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"suffix", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

void dropOneNewline(std::string& text)
{
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
    }
}

// Reads at most kMaxPasswordBytes + 1 bytes, so that an overlong one shows.
bool readBounded(int fd, std::string* text)
{
    text->clear();
    char buffer[512];
    while (text->size() <= kMaxPasswordBytes) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        text->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

PasswordResult checked(std::string text, const std::string& where)
{
    PasswordResult result;
    if (text.size() > kMaxPasswordBytes) {
        result.error = where + ": larger than 4 KiB; not a password";
        return result;
    }
    dropOneNewline(text);
    if (text.empty())
        result.error = where + ": the password is empty";
    else
        result.password = std::move(text);
    return result;
}

// Cancelled once, when the program stops: a lookup waiting on the bus
// returns at once.
GCancellable* stopLookups()
{
    static GCancellable* const cancellable = g_cancellable_new();
    return cancellable;
}

// The terminal as it was before the prompt turned echo off, for a signal
// that ends the program at the prompt.
termios savedTerminal{};
volatile sig_atomic_t terminalSaved = 0;

void restoreTerminalAndDie(int signal)
{
    if (terminalSaved)
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

std::string errorText(GError* error)
{
    std::string text = error && error->message ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    return text;
}

} // namespace

PasswordResult readPasswordFile(const std::string& path)
{
    PasswordResult result;
    // Opened first, then looked at: the file checked is the file read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    struct stat st {};
    std::string text;
    if (fstat(fd, &st) != 0) {
        result.error = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        result.error = path + ": not a regular file";
    } else if (st.st_uid != geteuid()) {
        result.error =
            path + ": owned by user " + std::to_string(st.st_uid) + ", not by you; refused";
    } else if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        result.error = path + ": open to group or others (mode " + mode +
                       "); refused. Make it private: chmod 600 " + path;
    } else if (!readBounded(fd, &text)) {
        result.error = path + ": " + std::strerror(errno);
    } else {
        result = checked(std::move(text), path);
    }
    close(fd);
    return result;
}

PasswordResult lookUpKeyring(const KeyringAccount& account)
{
    PasswordResult result;
    GError* error = nullptr;
    gchar* password = secret_password_lookup_sync(
        keyringSchema(), stopLookups(), &error, "name", account.name.c_str(), "suffix",
        account.suffix.c_str(), "host", account.host.c_str(), nullptr);
    if (error) {
        result.error = "the Secret Service cannot be asked (" + errorText(error) + ")";
    } else if (!password) {
        result.error = "the Secret Service holds no password for " + account.name + "." +
                       account.suffix + " on " + account.host;
    } else {
        result.password = std::string(password);
        secret_password_free(password);
    }
    return result;
}

void cancelKeyringLookups()
{
    g_cancellable_cancel(stopLookups());
}

std::string storeInKeyring(const KeyringAccount& account, const std::string& password)
{
    GError* error = nullptr;
    const std::string label =
        "qiv-follow " + account.name + "." + account.suffix + " on " + account.host;
    const gboolean stored = secret_password_store_sync(
        keyringSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr,
        &error, "name", account.name.c_str(), "suffix", account.suffix.c_str(), "host",
        account.host.c_str(), nullptr);
    if (error)
        return "the Secret Service cannot store it (" + errorText(error) + ")";
    return stored ? std::string() : std::string("the Secret Service did not store it");
}

PasswordResult findPassword(const std::optional<std::string>& passwordFile,
                            const KeyringAccount& account)
{
    if (passwordFile)
        return readPasswordFile(*passwordFile);
    if (const char* dir = std::getenv("CREDENTIALS_DIRECTORY"); dir && *dir) {
        const std::string path = std::string(dir) + "/qiv-follow-password";
        if (access(path.c_str(), F_OK) == 0)
            return readPasswordFile(path);
    }
    PasswordResult result = lookUpKeyring(account);
    if (!result.password)
        result.error += "; give --password-file FILE, or store one with --store-password";
    return result;
}

PasswordResult readPasswordToStore()
{
    std::string text;
    if (isatty(STDIN_FILENO)) {
        termios saved{};
        const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
        if (quiet) {
            savedTerminal = saved;
            terminalSaved = 1;
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
                ::signal(signal, restoreTerminalAndDie);
            termios silent = saved;
            silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            silent.c_lflag |= ECHONL;
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
        }
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        // One line: canonical mode hands it over whole.
        char buffer[kMaxPasswordBytes + 2];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (quiet) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
            terminalSaved = 0;
        }
        if (n > 0)
            text.assign(buffer, static_cast<size_t>(n));
    } else if (!readBounded(STDIN_FILENO, &text)) {
        return {std::nullopt, std::string("standard input: ") + std::strerror(errno)};
    }
    return checked(std::move(text), "the password read");
}

} // namespace qiv::follow
