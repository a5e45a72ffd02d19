#pragma once

#include "devserver/account_store.h"
#include "text/gbk.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The reply pages of the service, the IP lookup and the advertisement host.
// Every page is GBK; the texts here are written in UTF-8 and converted. The
// marker texts clients search for are listed with each reply so that the
// fault switches can damage exactly them.
namespace qiv::devserver {

inline constexpr const char* kHtmlContentType = "text/html; charset=gbk";

struct Reply {
    int status = 200;
    std::string body; // GBK bytes
    // Marker texts (GBK) a client looks for in this body, in page order.
    std::vector<std::string> markers;
    // Extra response headers, e.g. the session cookie.
    std::vector<std::pair<std::string, std::string>> headers;
};

// Bytes for a double-quoted HTML attribute. Stored values keep the bytes the
// client sent; only a double quote is written as &quot; so that it cannot
// end the attribute early (a client cutting value="..." at the next quote
// would otherwise lose the rest). Every other byte is written as stored.
std::string attributeValue(std::string_view bytes);

// One advertisement box of the client and its page.
struct AdBox {
    std::string_view name; // the file name without the leading "/\", e.g. "280.html"
    int width;
    int height;
};
const std::vector<AdBox>& adBoxes();

// Each suffix is written as page text, or with escape false as it is (for
// the fault that puts markup into the options).
Reply suffixListPage(const std::vector<std::string>& suffixes, bool escape = true);
Reply userCountPage(std::size_t count);
// The count script writing countText as it is.
Reply countTextPage(std::string_view countText);
Reply availablePage(std::string_view name, std::string_view suffix);
// A name that cannot be registered; reasonGbk says why.
Reply unavailablePage(std::string_view name, std::string_view suffix, std::string_view reasonGbk);
Reply registeredPage(const Account& account);
Reply registrationErrorPage(const std::vector<std::string>& reasonsGbk);
Reply wrongPasswordPage();
// The account form a successful login answers with; rawQuotes writes the
// values as stored, without &quot;, and hideRow false leaves out the hide
// flag's row.
Reply accountPage(const Account& account, bool rawQuotes = false, bool hideRow = true);
Reply modifiedPage();
// A page whose script alerts reasonGbk.
Reply alertPage(std::string_view reasonGbk);
Reply deletedPage();
Reply ipPage(std::string_view text);
Reply adPage(const AdBox& box);
// The path of an ordinary animated advertisement on the ad host, and its
// page: a CSS animation and a small canvas drawn 30 times a second, what a
// client has to bear from any ad.
inline constexpr std::string_view kAnimatedAdPath = "/animated.html";
Reply animatedAdPage();
Reply notFoundPage();
Reply methodNotAllowedPage();
// The answer to a request over the size the server reads.
Reply tooLargePage();
// A plausible page of the service that carries none of the markers: what a
// busy or broken service answers instead of the real page.
Reply busyPage();

} // namespace qiv::devserver
