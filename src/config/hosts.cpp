#include "config/hosts.h"

namespace qiv::config {

Hosts builtInHosts()
{
    return {QIV_DEFAULT_SERVICE_HOST, QIV_DEFAULT_IP_LOOKUP_HOST, QIV_DEFAULT_AD_HOST};
}

} // namespace qiv::config
