#pragma once

#include "config/host_files.h"

#include <string>
#include <vector>

// The command line of qiv-forward. It is read before anything of the GUI
// exists, so that help, the version and a bad option need no display.
namespace qiv {

struct CommandLine {
    enum class Action {
        Run,     // start the program on `hosts`
        Help,    // print usage() on standard output, exit 0
        Version, // print versionText() on standard output, exit 0
        Error,   // print `error` and usage() on standard error, exit 2
    };
    Action action = Action::Run;
    config::Hosts hosts;
    // Where each of `hosts` was set: an option, a file or "built in".
    config::Hosts hostsFrom;
    // The message when a hosts file is refused: the run ends with status 2.
    std::string hostsError;
    // --ads-without-sandbox: the advertisement pages are shown even where
    // the browser engine runs without its sandbox.
    bool adsWithoutSandbox = false;
    std::string error;
};

// Reads the arguments after the program name over `below` (the hosts files
// and the hosts built in): --service-host, --ip-host and --ad-host, each
// "--name VALUE" or "--name=VALUE" and checked by config::hostValueError;
// the last of a kind wins; and --ads-without-sandbox. -h/--help and
// --version end the reading.
CommandLine readCommandLine(const std::vector<std::string>& args,
                            const config::SourcedHosts& below);

// The help text, with the hosts that apply and where each was set.
std::string usage(const config::SourcedHosts& hosts);
// "qiv-forward <version>".
std::string versionText();

// Prints what the command line asks for and returns the exit status, for
// every action but Run.
int finishCommandLine(const CommandLine& commandLine);

} // namespace qiv
