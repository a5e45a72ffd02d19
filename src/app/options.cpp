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

// The options' hosts over `below`, into `line`.
CommandLine withHosts(CommandLine line, const config::SourcedHosts& options,
                      const config::SourcedHosts& below)
{
    const config::SourcedHosts hosts = config::layered({&options, &below});
    line.hosts = hosts.value;
    line.hostsFrom = hosts.from;
    return line;
}

} // namespace

CommandLine readCommandLine(const std::vector<std::string>& args, const config::SourcedHosts& below)
{
    CommandLine result;
    config::SourcedHosts options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help")
            return withHosts(ending(CommandLine::Action::Help), options, below);
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
        if (std::string error = config::setHostKey(&options, *option, value, name); !error.empty())
            return failed(name + " " + error);
    }
    return withHosts(std::move(result), options, below);
}

std::string usage(const config::SourcedHosts& hosts)
{
    using config::Hosts;
    return "Usage: qiv-forward [OPTION]...\n"
           "Register and manage a domain of the Qiv free domain forwarding service.\n"
           "\n"
           "  --service-host HOST[:PORT]  the forwarding service\n"
           "  --ip-host HOST[:PORT]       the public-IP lookup page\n"
           "  --ad-host HOST[:PORT]       the advertisement pages\n"
           "                              HOST is a name or an IPv4 address; PORT is\n"
           "                              1 to 65535, 80 when not given.\n"
           "      --ads-without-sandbox   show the advertisement pages even where the\n"
           "                              browser engine has no sandbox (as root, or\n"
           "                              when it is turned off); without it their\n"
           "                              boxes stay empty there\n"
           "  -h, --help                  show this help and exit\n"
           "      --version               show the version and exit\n"
           "\n"
           "\n" +
           hostsHelp(hosts) +
           "\n"
           "Exit status: 0 when the window is closed, 2 on a bad option or a refused\n"
           "hosts file.\n";
}

std::string versionText()
{
    return "qiv-forward " QIV_VERSION "\n";
}

int finishCommandLine(const CommandLine& commandLine)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(usage({commandLine.hosts, commandLine.hostsFrom}).c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
    case CommandLine::Action::Run:
        break;
    }
    std::fprintf(stderr, "qiv-forward: %s\n%s", commandLine.error.c_str(),
                 usage({commandLine.hosts, commandLine.hostsFrom}).c_str());
    return kExitUsage;
}

} // namespace qiv
