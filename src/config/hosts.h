#pragma once

#include <string>

// The three outside hosts the client talks to, each "host" or "host:port".
namespace qiv::config {

struct Hosts {
    std::string service;  // the forwarding service
    std::string ipLookup; // the public-IP page
    std::string ad;       // the advertisement pages
};

// The hosts fixed when the program was built.
Hosts builtInHosts();

} // namespace qiv::config
