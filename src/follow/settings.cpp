#include "follow/settings.h"

#include "config/host_files.h"
#include "text/gbk.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qiv::follow {

namespace {

// The file holds three short lines; anything far larger is no config.
constexpr std::size_t kMaxConfigBytes = 64 * 1024;

CommandLine ending(CommandLine::Action action, std::string error = {})
{
    CommandLine result;
    result.action = action;
    result.error = std::move(error);
    return result;
}

CommandLine failed(std::string error)
{
    return ending(CommandLine::Action::Error, std::move(error));
}

std::string trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// An interval text: digits only, within the bounds.
std::string intervalError(const std::string& text, int* seconds)
{
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        // Appended, not added: GCC 12 warns falsely (-Wrestrict) on
        // "'" + a temporary at -O3.
        return std::string("'")
            .append(config::shownText(text))
            .append("' is not a number of seconds");
    const int value = std::stoi(text);
    if (value < kMinInterval)
        return "at least " + std::to_string(kMinInterval) + " seconds";
    if (value > kMaxInterval)
        return "at most " + std::to_string(kMaxInterval) + " seconds";
    *seconds = value;
    return {};
}

// One text the service gets, as GBK.
std::string gbkError(const char* what, const std::string& utf8, std::string* gbkText)
{
    if (utf8.empty())
        return std::string(what) + " is empty";
    std::optional<std::string> converted = utf8ToGbk(utf8);
    if (!converted)
        return std::string(what) + " '" + config::shownText(utf8) +
               "' cannot be sent: it is not UTF-8 text that GBK can hold";
    *gbkText = std::move(*converted);
    return {};
}

// The account and interval texts, as an option or a config line gave them.
struct GivenTexts {
    std::optional<std::string> name, suffix, interval;
    std::vector<std::string> ipUrls;
    std::optional<std::string> onEvent;
    config::SourcedHosts hosts;
};

// `url` as an IP page after the built-in one, into `urls`; the message for
// the user when it is no good.
std::string addIpUrl(std::vector<std::string>& urls, const std::string& url)
{
    if (std::string error = ipUrlError(url); !error.empty())
        return "the IP page '" + config::shownText(url) + "': " + error;
    urls.push_back(url);
    return {};
}

// The arguments into `s` and `given`; an ending (help, version, an error)
// when one of them calls for it.
std::optional<CommandLine> readOptions(const std::vector<std::string>& args, Settings& s,
                                       GivenTexts& given)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help")
            return ending(CommandLine::Action::Help);
        if (arg == "--version")
            return ending(CommandLine::Action::Version);
        if (arg == "--once" || arg == "--dry-run" || arg == "--store-password" ||
            arg == "--status") {
            (arg == "--once"      ? s.once
             : arg == "--dry-run" ? s.dryRun
             : arg == "--status"  ? s.status
                                  : s.storePassword) = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string option = arg.substr(0, eq);
        auto value = [&](std::string* out) {
            if (eq != std::string::npos)
                *out = arg.substr(eq + 1);
            else if (i + 1 < args.size())
                *out = args[++i];
            else
                return false;
            return true;
        };
        std::string text;
        if (option == "--config") {
            if (!value(&text))
                return failed("option --config needs a value");
            s.configFile = text;
            continue;
        }
        if (option == "--name" || option == "--suffix" || option == "--interval" ||
            option == "--password-file" || option == "--ip-url" || option == "--on-event") {
            if (!value(&text))
                return failed("option " + option + " needs a value");
            if (option == "--ip-url") {
                if (std::string error = addIpUrl(given.ipUrls, text); !error.empty())
                    return failed(std::move(error));
            } else if (option == "--password-file")
                s.passwordFile = text;
            else if (option == "--on-event")
                given.onEvent = text;
            else
                (option == "--name"     ? given.name
                 : option == "--suffix" ? given.suffix
                                        : given.interval) = text;
            continue;
        }
        const config::HostOption* host = config::hostOptionNamed(option);
        if (!host)
            return failed("unknown option '" + config::shownText(arg) + "'");
        if (!value(&text))
            return failed("option " + option + " needs a value");
        if (std::string error = config::setHostKey(&given.hosts, *host, text, option);
            !error.empty())
            return failed(option + " " + error);
    }
    return {};
}

// The key = value lines of the config file into `fromFile`; an error when a
// line is neither that, a comment nor blank.
std::optional<CommandLine> readConfigLines(const ConfigFile& config, GivenTexts& fromFile)
{
    if (!config.text)
        return {};
    std::istringstream lines(*config.text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = config.path + ":" + std::to_string(number) + ": ";
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return failed(where + "expected key = value");
        const std::string key = trimmed(line.substr(0, eq));
        std::string val = trimmed(line.substr(eq + 1));
        if (key == "ip-url") { // one page a line, in order
            if (std::string error = addIpUrl(fromFile.ipUrls, val); !error.empty())
                return failed(where + error);
            continue;
        }
        if (const config::HostOption* host = config::hostOptionForKey(key)) {
            if (std::string error = config::setHostKey(&fromFile.hosts, *host, val, config.path);
                !error.empty())
                return failed(where + key + " " + error);
            continue;
        }
        std::optional<std::string>* slot = key == "name"       ? &fromFile.name
                                           : key == "suffix"   ? &fromFile.suffix
                                           : key == "interval" ? &fromFile.interval
                                           : key == "on-event" ? &fromFile.onEvent
                                                               : nullptr;
        if (!slot)
            return failed(where + "unknown key '" + config::shownText(key) +
                          "' (name, suffix, interval, ip-url, on-event, service-host, "
                          "ip-host and ad-host are known)");
        std::vector<std::string> argv;
        if (std::string error = key == "on-event" ? splitCommand(val, &argv) : std::string();
            !error.empty())
            return failed(where + "on-event: " + error);
        *slot = val; // the last line of a key wins
    }
    return {};
}

// The account and interval checked into `result`'s settings.
CommandLine checked(CommandLine result, const GivenTexts& given, const std::string& configPath)
{
    Settings& s = result.settings;
    if (!given.name || !given.suffix)
        return failed("no account: give --name and --suffix, or name and suffix in " + configPath);
    if (std::string error = gbkError("the name", *given.name, &s.nameGbk); !error.empty())
        return failed(error);
    if (std::string error = gbkError("the suffix", *given.suffix, &s.suffixGbk); !error.empty())
        return failed(error);
    s.name = *given.name;
    s.suffix = *given.suffix;
    if (given.interval)
        if (std::string error = intervalError(*given.interval, &s.interval); !error.empty())
            return failed("the interval: " + error);
    if (s.passwordFile && s.passwordFile->empty())
        return failed("--password-file needs a file name");
    if (s.configFile && s.configFile->empty())
        return failed("--config needs a file name");
    if (given.onEvent) {
        s.onEvent = *given.onEvent;
        if (std::string error = splitCommand(s.onEvent, &s.onEventArgv); !error.empty())
            return failed("the event command: " + error);
    }
    return result;
}

} // namespace

CommandLine readCommandLine(const std::vector<std::string>& args, const config::SourcedHosts& below,
                            const ConfigFile& config)
{
    CommandLine result;
    GivenTexts given;
    if (std::optional<CommandLine> end = readOptions(args, result.settings, given)) {
        // The help shows the hosts the config file sets too, when it reads.
        GivenTexts fromFile;
        if (readConfigLines(config, fromFile))
            fromFile = {};
        const config::SourcedHosts hosts = config::layered({&given.hosts, &fromFile.hosts, &below});
        end->settings.hosts = hosts.value;
        end->settings.hostsFrom = hosts.from;
        return std::move(*end);
    }

    // The config file fills what the options left open.
    GivenTexts fromFile;
    if (std::optional<CommandLine> end = readConfigLines(config, fromFile))
        return std::move(*end);
    if (!given.name)
        given.name = fromFile.name;
    if (!given.suffix)
        given.suffix = fromFile.suffix;
    if (!given.interval)
        given.interval = fromFile.interval;
    if (!given.onEvent)
        given.onEvent = fromFile.onEvent;
    result.settings.ipUrls = given.ipUrls.empty() ? fromFile.ipUrls : given.ipUrls;
    const config::SourcedHosts hosts = config::layered({&given.hosts, &fromFile.hosts, &below});
    if (hosts.value.service.empty())
        return failed(config::noServiceHostMessage());
    result.settings.hosts = hosts.value;
    result.settings.hostsFrom = hosts.from;
    return checked(std::move(result), given, config.path);
}

std::string configFilePath()
{
    return config::xdgDirectory("XDG_CONFIG_HOME", ".config") + "/qiv-forward/follow.conf";
}

namespace {

ConfigFile readConfigFile(const std::string& path, bool required, std::string* error)
{
    ConfigFile config;
    config.path = path;
    std::ifstream in(config.path, std::ios::binary);
    if (!in) {
        struct stat st {};
        if (stat(config.path.c_str(), &st) == 0 || required)
            *error = config.path + ": cannot be read" +
                     (required && errno ? std::string(" (") + std::strerror(errno) + ")" : "");
        return config;
    }
    std::string text(kMaxConfigBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxConfigBytes)
        *error = config.path + ": larger than 64 KiB; not a config file";
    else
        config.text = std::move(text);
    return config;
}

} // namespace

ConfigFile loadConfigFile(std::string* error)
{
    return readConfigFile(configFilePath(), false, error);
}

ConfigFile loadConfigFile(const std::string& path, std::string* error)
{
    return readConfigFile(path, true, error);
}

std::optional<std::string> configOption(const std::vector<std::string>& args, std::string* error)
{
    std::optional<std::string> found;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config") {
            if (i + 1 == args.size())
                *error = "option --config needs a value";
            else
                found = args[++i];
        } else if (args[i].rfind("--config=", 0) == 0) {
            found = args[i].substr(9);
        } else if (args[i] == "--name" || args[i] == "--suffix" || args[i] == "--interval" ||
                   args[i] == "--password-file" || args[i] == "--ip-url" ||
                   args[i] == "--on-event" || config::hostOptionNamed(args[i])) {
            ++i; // a value, whatever it reads
        }
    }
    if (found && found->empty())
        *error = "--config needs a file name";
    return found;
}

std::string passwordBesideConfig(const std::string& path)
{
    const std::string ending = ".conf";
    if (path.size() > ending.size() && path.ends_with(ending) && path[path.size() - 6] != '/')
        return path.substr(0, path.size() - ending.size()) + ".password";
    return path + ".password";
}

std::chrono::milliseconds nextRefusalWait(std::chrono::milliseconds first, int refusalsInARow)
{
    std::chrono::milliseconds wait = first;
    for (int i = 1; i < refusalsInARow && wait < 24 * first; ++i)
        wait *= 2;
    return std::min(wait, 24 * first);
}

std::string ipUrlError(const std::string& url)
{
    static constexpr std::string_view scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return "not an http:// URL (no other scheme is spoken)";
    const size_t pathStart = std::min(url.find('/', scheme.size()), url.size());
    if (std::string error = config::hostValueError(
            std::string_view(url).substr(scheme.size(), pathStart - scheme.size()));
        !error.empty())
        return error;
    const std::string_view path = std::string_view(url).substr(pathStart);
    if (std::any_of(path.begin(), path.end(),
                    [](char c) { return c <= ' ' || c > '~' || c == '#'; }))
        return "the path holds a space, a control byte, a '#' or a byte outside ASCII";
    return {};
}

std::string splitCommand(const std::string& command, std::vector<std::string>* argv)
{
    argv->clear();
    if (command.size() > 4096)
        return "longer than 4096 bytes";
    if (command.find('\0') != std::string::npos)
        return "holds a NUL byte";
    gchar** parts = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(command.c_str(), nullptr, &parts, &error)) {
        std::string why =
            "'" + config::shownText(command) + "': " + (error ? error->message : "cannot be split");
        g_clear_error(&error);
        return why;
    }
    for (gchar** part = parts; *part; ++part)
        argv->emplace_back(*part);
    g_strfreev(parts);
    return {};
}

std::string usage(const config::SourcedHosts& hosts)
{
    return "Usage: qiv-follow [--config FILE] [--name NAME --suffix SUFFIX]\n"
           "                  [--password-file FILE] [--interval SECONDS] [--once] [--dry-run]\n"
           "                  [--ip-url URL]... [--on-event COMMAND]\n"
           "       qiv-follow --store-password --name NAME --suffix SUFFIX\n"
           "       qiv-follow --status [--config FILE | --name NAME --suffix SUFFIX]\n"
           "Keep the forwarding target of a Qiv free domain on this machine's public IP.\n"
           "\n"
           "  --config FILE               the account's config file (in place of\n"
           "                              ~/.config/qiv-forward/follow.conf); it must exist\n"
           "  --name NAME                 the domain's name (first label)\n"
           "  --suffix SUFFIX             the domain's suffix, e.g. qiv.cn\n"
           "  --password-file FILE        read the password from FILE: a regular file of\n"
           "                              yours, mode 600 or 400 (one trailing newline is\n"
           "                              dropped)\n"
           "  --interval SECONDS          time between rounds (default 300, at least 60)\n"
           "  --once                      one round, then exit\n"
           "  --dry-run                   print the modification instead of sending it;\n"
           "                              writes nothing to disk\n"
           "  --status                    send nothing: print the last round, the target,\n"
           "                              the IP, the last change and the next round from\n"
           "                              the state file; exit 0 when the last round ended\n"
           "                              well and the next is not overdue, else 1\n"
           "  --store-password            read the password (no echo on a terminal, else\n"
           "                              standard input) and keep it in the Secret Service\n"
           "  --service-host HOST[:PORT]  the forwarding service\n"
           "  --ip-host HOST[:PORT]       the public-IP lookup page\n"
           "  --ip-url URL                an IP page asked after the built-in one, in the\n"
           "                              order given (repeatable); http:// only\n"
           "  --on-event COMMAND          run COMMAND (split as a shell would, run without\n"
           "                              one) after a round that ends in changed, refused,\n"
           "                              not-read, not-verified or bad-ip; QIV_EVENT,\n"
           "                              QIV_DOMAIN, QIV_IP, QIV_OLD_TARGET, QIV_NEW_TARGET\n"
           "                              and QIV_MESSAGE say what; killed with its process\n"
           "                              group after 30 s\n"
           "  --ad-host HOST[:PORT]       accepted as by qiv-forward; not used\n"
           "  -h, --help                  show this help and exit\n"
           "      --version               show the version and exit\n"
           "\n"
           "The password comes from --password-file; else, with --config X.conf, from\n"
           "X.password beside it when that file exists; else from\n"
           "$CREDENTIALS_DIRECTORY/qiv-follow-password when that exists; else from the\n"
           "Secret Service. Name, suffix, interval, ip-url (one page a line) and on-event\n"
           "may also stand in the config file as key = value lines; options win.\n"
           "\n" +
           config::hostsHelp(hosts) +
           "The account's config file may set service-host, ip-host and ad-host too,\n"
           "between the options and the first hosts file (shown above when it does).\n"
           "\n"
           "Only an address a visitor can reach is followed: loopback, private, shared\n"
           "(carrier-grade NAT 100.64.0.0/10), link-local, multicast and reserved IPv4 and\n"
           "IPv6 ranges are refused and logged; the documentation ranges are allowed.\n"
           "Before it writes, the account page is read strictly: nothing is sent when a\n"
           "value holds a double quote or a character reference (&name; &#N; &#xN;), or\n"
           "the hide row is missing. After a change a fresh login must show all six\n"
           "values and the hide flag as sent, else the change is not verified.\n"
           "\n"
           "Each event is one line on standard output and in the account's own history,\n"
           "~/.local/state/qiv-forward/follow/NAME.SUFFIX.history.log; the lock that\n"
           "keeps one follower per account is in the same folder, which must be yours\n"
           "with mode 700. Its state, for --status, is\n"
           "~/.local/state/qiv-forward/NAME.SUFFIX.state.\n"
           "\n"
           "A changed and verified target, a refused login, a page not read whole, a\n"
           "change not verified and no usable public IP are shown as desktop\n"
           "notifications when the session bus has a notification server; a failure\n"
           "that repeats is shown once.\n"
           "\n"
           "After a refused login the next try waits 1 hour, then twice as long after\n"
           "each further refusal, up to 24 hours. SIGHUP re-reads the config file and the\n"
           "password and tries again at once; so does a change of the password file.\n"
           "SIGTERM or SIGINT ends it within a second, whatever it is doing.\n"
           "\n"
           "Exit status with --once: 0 nothing to change or changed and verified, 1 login\n"
           "refused, no address to follow, page not read whole, modification failed or\n"
           "not verified, 2 usage, config or password problem, 3 no reply at all.\n"
           "Without --once it runs until SIGTERM.\n";
}

std::string versionText()
{
    return "qiv-follow " QIV_VERSION "\n";
}

std::chrono::seconds nextWait(int interval, int failedModificationsInARow)
{
    const long long cap = std::max<long long>(interval, 6 * 3600);
    long long wait = interval;
    for (int i = 1; i < failedModificationsInARow && wait < cap; ++i)
        wait *= 2;
    return std::chrono::seconds(std::min(wait, cap));
}

} // namespace qiv::follow
