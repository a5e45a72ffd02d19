#include "config/hosts.h"

#include "text/url.h"

#include <algorithm>

namespace qiv::config {

Hosts builtInHosts()
{
    return {QIV_DEFAULT_SERVICE_HOST, QIV_DEFAULT_IP_LOOKUP_HOST, QIV_DEFAULT_AD_HOST};
}

namespace {

constexpr std::string_view kForm = "; give host or host:port";

std::string portError(std::string_view port)
{
    if (port.empty())
        return "no port after ':'";
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos)
        return "the port must be a number from 1 to 65535";
    const int number = std::stoi(std::string(port));
    if (number < 1 || number > 65535)
        return "the port must be a number from 1 to 65535";
    return {};
}

} // namespace

std::string shownText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        else
            shown += c;
    }
    return shown;
}

std::string hostValueError(std::string_view value)
{
    if (value.empty())
        return "empty" + std::string(kForm);
    if (value.find("://") != std::string_view::npos)
        return "a scheme is no part of a host" + std::string(kForm);
    if (value.find_first_of("/?#") != std::string_view::npos)
        return "a path is no part of a host" + std::string(kForm);
    // The request engine reaches hosts by name or IPv4 address only.
    if (value.front() == '[')
        return "IPv6 addresses are not supported" + std::string(kForm);
    const size_t colon = value.find(':');
    if (colon != std::string_view::npos && value.find(':', colon + 1) != std::string_view::npos)
        return "more than one ':'" + std::string(kForm);
    std::string error =
        colon == 0 ? "no host name before the port" : hostNameError(value.substr(0, colon));
    if (error.empty() && colon != std::string_view::npos)
        error = portError(value.substr(colon + 1));
    return error;
}

const HostOption* hostOptionNamed(std::string_view name)
{
    for (const HostOption& option : kHostOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

std::string setHostOption(Hosts& hosts, const HostOption& option, const std::string& value)
{
    if (const std::string error = hostValueError(value); !error.empty())
        return std::string(option.name) + " '" + shownText(value) + "': " + error;
    hosts.*option.host = value;
    return {};
}

} // namespace qiv::config
