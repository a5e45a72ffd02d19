#pragma once

#include <string>
#include <string_view>

// Splitting of request URLs into host, port and path, and the one rule of
// what a host name may be. Pure functions over byte strings; every input
// yields a result.
namespace qiv {

std::string urlHost(std::string_view url);
int urlPort(std::string_view url);
std::string urlPath(std::string_view url);

// What is wrong with `name` as the host of a request, for every host the
// programs reach (the service, the IP pages, a redirect's target): ASCII
// letters, digits, '-', '_' and '.', at most 253 bytes, each label between
// dots 1 to 63 bytes; an IPv4 address is such a name. The '_' is taken as
// curl and the resolver take it: real names have it in their subdomains.
// Empty when the name is good.
std::string hostNameError(std::string_view name);

} // namespace qiv
