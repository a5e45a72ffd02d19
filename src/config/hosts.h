#pragma once

#include <string>
#include <string_view>

// The three outside hosts the client talks to, each "host" or "host:port".
namespace qiv::config {

struct Hosts {
    std::string service;  // the forwarding service
    std::string ipLookup; // the public-IP page
    std::string ad;       // the advertisement pages
};

// The hosts fixed when the program was built.
Hosts builtInHosts();

// The command-line options that replace them for one run, the same in every
// program.
struct HostOption {
    const char* name;
    std::string Hosts::*host;
};
inline constexpr HostOption kHostOptions[] = {
    {"--service-host", &Hosts::service},
    {"--ip-host", &Hosts::ipLookup},
    {"--ad-host", &Hosts::ad},
};

// Checks a host given at run time: "host" or "host:port", where host is a
// name or IPv4 address as hostNameError takes it and port is 1 to 65535. The value is used as it
// stands, between "http://" and the page's path, so nothing that is no part of a host may pass.
// Returns the empty text when the value is good, else what is wrong with it.
std::string hostValueError(std::string_view value);

// `text` for a message on a terminal: control bytes as \xHH.
std::string shownText(std::string_view text);

// The host option called `name`; null when there is none.
const HostOption* hostOptionNamed(std::string_view name);
// Sets the option's host to `value` once it is a good host value; else
// leaves `hosts` as they are and returns the message for the user.
std::string setHostOption(Hosts& hosts, const HostOption& option, const std::string& value);

} // namespace qiv::config
