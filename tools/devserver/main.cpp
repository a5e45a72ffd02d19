// qiv-devserver: serves the forwarding service, the IP lookup page and the
// advertisement pages on loopback for development and tests.

#include "devserver/dev_server.h"
#include "devserver/form.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using qiv::devserver::DevServer;
using qiv::devserver::Options;

constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: qiv-devserver [OPTION]...\n"
    "Serve the Qiv forwarding service, its public-IP lookup page and its advertisement\n"
    "pages on loopback addresses, until SIGINT or SIGTERM.\n"
    "\n"
    "  --service IP:PORT    forwarding service address (default 127.0.0.1:8090)\n"
    "  --ip IP:PORT         IP lookup address (default 127.0.0.2:8091)\n"
    "  --ads IP:PORT        advertisement address (default 127.0.0.3:8092)\n"
    "                       Only 127.0.0.0/8 is accepted; port 0 picks a free port.\n"
    "  --suffixes A,B,...   domain suffixes offered (default qiv.cn,qiv.net,qiv.org)\n"
    "  --db FILE            keep the accounts in this SQLite file (default: in memory)\n"
    "  --fault PAGE=KIND[:MS]\n"
    "                       answer PAGE badly, after MS milliseconds if given;\n"
    "                       repeatable, the last setting of a page wins.\n"
    "                       PAGE: regcheck reg login modify_in modify_html count_user\n"
    "                             getip ads all\n"
    "                       KIND: delay:MS   the normal reply after MS milliseconds\n"
    "                             empty      200 with an empty body\n"
    "                             drop       close the connection without a reply\n"
    "                             no-marker  a page without the texts clients look for\n"
    "                             long-headers  over 4 KiB of extra header lines\n"
    "                             zero-byte  a zero byte before the page's first marker\n"
    "                             huge       a 50 MiB body ending with the page\n"
    "                             truncated  the page cut in the middle of a marker\n"
    "                             bad-gbk    invalid GBK bytes around every marker\n"
    "                             endless    200 with a body that never ends\n"
    "                             flood      200000 suffixes or reasons, 200000-byte\n"
    "                                        count, alert, IP and account texts\n"
    "                             markup     HTML markup in every text clients show\n"
    "                             raw-quotes (login) values with unescaped quotes\n"
    "                             entity     (login) the title behind &#x4F60;\n"
    "                             no-hide-row  (login) no hide flag row\n"
    "                             stale      (modify_in) accepted, nothing stored\n"
    "                             altered    (modify_in) the title stored altered\n"
    "                             flip-hide  (modify_in) the hide flag stored reversed\n"
    "                       empty, drop, no-marker, endless, stale and reg=flood\n"
    "                       leave the accounts unchanged.\n"
    "  --ip-reply TEXT      the IP page answers TEXT instead of 198.51.100.1;\n"
    "                       \\r \\n \\t \\\\ and \\xHH are unescaped\n"
    "                       While it runs, POST /control/ip on the IP lookup\n"
    "                       address (from loopback) makes the request's body the\n"
    "                       reply; an empty body gives back 198.51.100.1.\n"
    "  --ad-body FILE       every advertisement page answers the bytes of FILE\n"
    "                       (at most 1 MiB) as its body\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "\n"
    "Each request is logged on standard error: role, client, method, path, status.\n"
    "Exit status: 0 after a signal, 1 when an address cannot be bound, 2 on a bad option.\n";

[[noreturn]] void usageError(const std::string& message)
{
    std::fprintf(stderr, "qiv-devserver: %s\nTry 'qiv-devserver --help'.\n", message.c_str());
    std::exit(kExitUsage);
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = qiv::devserver::hexValue(text[i + 1]);
            const int low = qiv::devserver::hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string> splitSuffixes(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(start, comma - start);
        if (item.empty())
            usageError("--suffixes: empty suffix in '" + std::string(text) + "'");
        out.emplace_back(item);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return out;
}

// A file's bytes, when it can be read and holds at most 1 MiB.
std::optional<std::string> readSmallFile(const std::string& path)
{
    constexpr std::size_t kMaxBytes = 1 << 20;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string bytes(kMaxBytes + 1, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || bytes.size() > kMaxBytes)
        return std::nullopt;
    return bytes;
}

Options parseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (arg == "--version") {
            std::fputs("qiv-devserver " QIV_VERSION "\n", stdout);
            std::exit(0);
        }
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                usageError("option " + arg + " needs a value");
            return argv[++i];
        };
        std::string error;
        if (arg == "--service" || arg == "--ip" || arg == "--ads") {
            const std::string address = value();
            if (!qiv::devserver::parseListenAddress(address, &error))
                usageError(arg + ": " + error);
            (arg == "--service" ? options.serviceAddress
             : arg == "--ip"    ? options.ipAddress
                                : options.adAddress) = address;
        } else if (arg == "--suffixes") {
            options.suffixes = splitSuffixes(value());
        } else if (arg == "--db") {
            options.dbPath = value();
            if (options.dbPath.empty())
                usageError("--db needs a file name");
        } else if (arg == "--fault") {
            const std::optional<qiv::devserver::FaultSetting> setting =
                qiv::devserver::parseFaultSetting(value(), &error);
            if (!setting)
                usageError("--fault: " + error);
            options.faults.push_back(*setting);
        } else if (arg == "--ip-reply") {
            const std::string text = value();
            options.ipReply = unescape(text);
            if (!options.ipReply)
                usageError("--ip-reply: bad escape in '" + text + "'");
        } else if (arg == "--ad-body") {
            const std::string file = value();
            options.adBody = readSmallFile(file);
            if (!options.adBody)
                usageError("--ad-body: cannot read '" + file + "' (or over 1 MiB)");
        } else {
            usageError("unknown option '" + arg + "'");
        }
    }
    return options;
}

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms.count()));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    Options options = parseArguments(argc, argv);
    options.log = [](const std::string& line) {
        std::fprintf(stderr, "%s %s\n", timestamp().c_str(), line.c_str());
    };

    // The signals are taken by sigwait below; every serving thread inherits
    // the blocked mask, so none of them is interrupted.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    DevServer server(options);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "qiv-devserver: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "qiv-devserver: listening service=%s:%d ip=%s:%d ads=%s:%d accounts=%s\n",
                 options.serviceAddress.substr(0, options.serviceAddress.rfind(':')).c_str(),
                 server.servicePort(),
                 options.ipAddress.substr(0, options.ipAddress.rfind(':')).c_str(), server.ipPort(),
                 options.adAddress.substr(0, options.adAddress.rfind(':')).c_str(), server.adPort(),
                 options.dbPath.empty() ? "memory" : options.dbPath.c_str());

    int received = 0;
    sigwait(&signals, &received);
    std::fprintf(stderr, "qiv-devserver: %s, stopping\n",
                 received == SIGINT ? "SIGINT" : "SIGTERM");
    server.stop();
    return 0;
}
