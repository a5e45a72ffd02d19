#include "service/requests.h"

#include "net/timed_request.h"
#include "service/program_state.h"

namespace qiv {

std::string serviceUrl(const ProgramState& state, std::string_view page)
{
    std::string url = "http://" + state.hosts.service;
    url += '/';
    url += page;
    return url;
}

Text postToService(ProgramState& state, std::string_view page, const Text& body)
{
    return timedRequest(state.network, serviceUrl(state, page), "POST", {}, {}, body);
}

} // namespace qiv
