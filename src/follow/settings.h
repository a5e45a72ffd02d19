#pragma once

#include "config/host_files.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The command line and config file of qiv-follow.
namespace qiv::follow {

// How a run of qiv-follow ends, for the shell, the units and scripts that
// start it: one status per kind of outcome.
inline constexpr int kExitOk = 0;          // nothing to change, or changed and verified
inline constexpr int kExitFailed = 1;      // refused, page not read whole, modification failed
inline constexpr int kExitUsage = 2;       // usage, config or password problem
inline constexpr int kExitUnreachable = 3; // every try got the empty reply

inline constexpr int kDefaultInterval = 300;
inline constexpr int kMinInterval = 60;
inline constexpr int kMaxInterval = 7 * 24 * 3600;

struct Settings {
    // As given (UTF-8), for messages, and as sent (GBK).
    std::string name, suffix;
    std::string nameGbk, suffixGbk;
    std::optional<std::string> passwordFile;
    int interval = kDefaultInterval;
    bool once = false;
    bool dryRun = false;
    bool storePassword = false;
    // --status: print the state file and exit; nothing is sent.
    bool status = false;
    // on-event / --on-event: the user's command for the events of a round,
    // as written and split as a shell would, without variables or globs.
    std::string onEvent;
    std::vector<std::string> onEventArgv;
    config::Hosts hosts;
    // Where each of `hosts` was set: an option, a file or "built in".
    config::Hosts hostsFrom;
    // --config FILE: the account's config file, in place of follow.conf.
    std::optional<std::string> configFile;
    // The first pause after a refused login; it doubles with each refusal
    // in a row, up to 24 times this.
    std::chrono::milliseconds refusalPause{std::chrono::hours(1)};
    // The IP pages asked after the built-in one, in order: each an http URL.
    std::vector<std::string> ipUrls;
};

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    Settings settings;
    std::string error;
};

// The config file's text (nothing when there is none) and its path, for
// messages.
struct ConfigFile {
    std::optional<std::string> text;
    std::string path;
};

// Reads the arguments after the program name, then fills name, suffix,
// interval and the hosts from the config file where no option gave them,
// the hosts then from `below` (the hosts files and the hosts built in), and
// checks the whole: both names present and representable in GBK, the
// interval a whole number of seconds of at least kMinInterval, a service
// host set.
CommandLine readCommandLine(const std::vector<std::string>& args, const config::SourcedHosts& below,
                            const ConfigFile& config);

// $XDG_CONFIG_HOME/qiv-forward/follow.conf, or under ~/.config.
std::string configFilePath();
// Reads it: nothing when it does not exist; an error text when it cannot be
// read or is too large.
ConfigFile loadConfigFile(std::string* error);

// What is wrong with an IP page's URL: it must be http://, a host the
// host-value check takes, and a path of printable ASCII without spaces.
// Empty when it is good.
std::string ipUrlError(const std::string& url);

// `command` split into its arguments (g_shell_parse_argv) into `argv`; the
// empty text, else what is wrong with it.
std::string splitCommand(const std::string& command, std::vector<std::string>* argv);

// The help text, with the hosts that apply and where each was set.
std::string usage(const config::SourcedHosts& hosts);
std::string versionText();

// The wait before the next round: the interval, and after two failed
// modifications in a row twice as long for each further one, up to six
// hours (or the interval, when that is longer).
std::chrono::seconds nextWait(int interval, int failedModificationsInARow);

// The --config value among the arguments, when there is one (an error text
// in *error when it has no value).
std::optional<std::string> configOption(const std::vector<std::string>& args, std::string* error);
// Reads a config file given by --config: unlike follow.conf it must exist.
ConfigFile loadConfigFile(const std::string& path, std::string* error);
// The password file that goes with the config file `path`: X.conf gives
// X.password, any other name gets ".password" appended.
std::string passwordBesideConfig(const std::string& path);

// The wait after `refusalsInARow` refused logins: `first`, doubling with
// each further one, at most 24 times `first`.
std::chrono::milliseconds nextRefusalWait(std::chrono::milliseconds first, int refusalsInARow);

} // namespace qiv::follow
