#include "config/hosts.h"

#include <mutex>

namespace qiv::config {
namespace {

struct Hosts {
    std::mutex mutex;
    std::string service = QIV_DEFAULT_SERVICE_HOST;
    std::string ipLookup = QIV_DEFAULT_IP_LOOKUP_HOST;
    std::string ad = QIV_DEFAULT_AD_HOST;
};

// Never destroyed: the background thread and request workers read it to the
// very end, also while exit() runs the static destructors.
Hosts& hosts()
{
    static Hosts& h = *new Hosts;
    return h;
}

std::string read(std::string Hosts::*field)
{
    std::lock_guard lock(hosts().mutex);
    return hosts().*field;
}

void write(std::string Hosts::*field, std::string value)
{
    std::lock_guard lock(hosts().mutex);
    hosts().*field = std::move(value);
}

} // namespace

std::string serviceHost()
{
    return read(&Hosts::service);
}
std::string ipLookupHost()
{
    return read(&Hosts::ipLookup);
}
std::string adHost()
{
    return read(&Hosts::ad);
}

void setServiceHost(std::string host)
{
    write(&Hosts::service, std::move(host));
}
void setIpLookupHost(std::string host)
{
    write(&Hosts::ipLookup, std::move(host));
}
void setAdHost(std::string host)
{
    write(&Hosts::ad, std::move(host));
}

} // namespace qiv::config
