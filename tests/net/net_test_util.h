#pragma once

#include <string>

// Texts the engine must put on the wire, written out here independently of
// the engine's own constants.
namespace qiv::test {

inline const std::string userAgentLine =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
inline const std::string acceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
inline const std::string languageLine = "Accept-Language: zh-cn\r\n";
inline const std::string formTypeLine = "Content-Type: application/x-www-form-urlencoded\r\n";

inline std::string refererLine(const std::string& url)
{
    return "Referer: " + url + "\r\n";
}

// The whole request as it must arrive: the lines the client writes itself
// (request line, Host, User-Agent, Cookie), then `block`, then what curl
// adds at the end (Content-Length of an empty POST), the blank line and the
// body.
inline std::string wireRequest(const std::string& requestLine, const std::string& host,
                               const std::string& block, const std::string& body = {},
                               const std::string& cookie = {}, const std::string& trailer = {})
{
    std::string request = requestLine + "\r\n";
    request += "Host: " + host + "\r\n";
    request += userAgentLine;
    if (!cookie.empty())
        request += "Cookie: " + cookie + "\r\n";
    request += block;
    request += trailer;
    request += "\r\n";
    request += body;
    return request;
}

} // namespace qiv::test
