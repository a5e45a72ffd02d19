#pragma once

#include <string>

// The three outside hosts the client talks to, each "host" or "host:port".
// Their values are fixed when the program is built; tests may replace them
// in-process. Safe to call from any thread.
namespace qiv::config {

std::string serviceHost();
std::string ipLookupHost();
std::string adHost();

void setServiceHost(std::string host);
void setIpLookupHost(std::string host);
void setAdHost(std::string host);

} // namespace qiv::config
