#pragma once

#include <string>
#include <string_view>

// Splitting of request URLs into host, port and path. Pure functions over
// byte strings; every input yields a result.
namespace qiv {

std::string urlHost(std::string_view url);
int urlPort(std::string_view url);
std::string urlPath(std::string_view url);

} // namespace qiv
