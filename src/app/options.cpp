#include "app/options.h"

#include <cstdio>

namespace qiv {

namespace {

constexpr int kExitUsage = 2;

// A command line that ends the program before its window.
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

} // namespace

CommandLine readCommandLine(const std::vector<std::string>& args, config::Hosts builtIn)
{
    CommandLine result;
    result.hosts = std::move(builtIn);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help")
            return ending(CommandLine::Action::Help);
        if (arg == "--version")
            return ending(CommandLine::Action::Version);
        if (arg == "--ads-without-sandbox") {
            result.adsWithoutSandbox = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const config::HostOption* option = config::hostOptionNamed(name);
        if (!option)
            return failed("unknown option '" + config::shownText(arg) + "'");
        std::string value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        else
            return failed("option " + name + " needs a value");
        if (std::string error = config::setHostOption(result.hosts, *option, value); !error.empty())
            return failed(std::move(error));
    }
    return result;
}

std::string usage()
{
    const config::Hosts hosts = config::builtInHosts();
    return "Usage: qiv-forward [OPTION]...\n"
           "Register and manage a domain of the Qiv free domain forwarding service.\n"
           "\n"
           "  --service-host HOST[:PORT]  the forwarding service (built in: " +
           hosts.service +
           ")\n"
           "  --ip-host HOST[:PORT]       the public-IP lookup page (built in: " +
           hosts.ipLookup +
           ")\n"
           "  --ad-host HOST[:PORT]       the advertisement pages (built in: " +
           hosts.ad +
           ")\n"
           "                              HOST is a name or an IPv4 address; PORT is\n"
           "                              1 to 65535, 80 when not given.\n"
           "      --ads-without-sandbox   show the advertisement pages even where the\n"
           "                              browser engine has no sandbox (as root, or\n"
           "                              when it is turned off); without it their\n"
           "                              boxes stay empty there\n"
           "  -h, --help                  show this help and exit\n"
           "      --version               show the version and exit\n"
           "\n"
           "Exit status: 0 when the window is closed, 2 on a bad option.\n";
}

std::string versionText()
{
    return "qiv-forward " QIV_VERSION "\n";
}

int finishCommandLine(const CommandLine& commandLine)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(usage().c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
    case CommandLine::Action::Run:
        break;
    }
    std::fprintf(stderr, "qiv-forward: %s\n%s", commandLine.error.c_str(), usage().c_str());
    return kExitUsage;
}

} // namespace qiv
