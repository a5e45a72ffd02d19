// URL splitting: any bytes are a URL; the three parts always come out
// well-formed, and a URL put together from them splits back into them.

#include "fuzz_check.h"
#include "text/url.h"

#include <string>

using qiv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view url = qiv::fuzz::view(data, size);
    std::string host = qiv::urlHost(url);
    int port = qiv::urlPort(url);
    std::string path = qiv::urlPath(url);

    require(!path.empty() && path.front() == '/', "urlPath starts with /");
    require(path == "/" || url.ends_with(path), "urlPath is the URL's tail");
    require(host.find_first_of(":/") == std::string::npos, "urlHost has no : or /");
    for (char c : host)
        require(!(c >= 'A' && c <= 'Z'), "urlHost has no upper-case ASCII");
    require(host.size() <= url.size(), "urlHost is not longer than the URL");
    require(port >= 0 && port <= 65535, "urlPort is a 16-bit port");

    std::string lowered(url);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    require(qiv::fuzz::contains(lowered, host), "urlHost is part of the lower-cased URL");

    // Reassembled with scheme, explicit port and path, the URL splits back
    // into the same parts.
    std::string again = "http://" + host + ":" + std::to_string(port) + path;
    require(qiv::urlHost(again) == host, "host survives reassembly");
    require(qiv::urlPort(again) == port, "port survives reassembly");
    require(qiv::urlPath(again) == path, "path survives reassembly");
    return 0;
}
