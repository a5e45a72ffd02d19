#pragma once

#include "devserver/account_store.h"
#include "devserver/pages.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Fault switches: per page, a way to answer badly, for the client's tests.
namespace qiv::devserver {

// The pages a fault can be set on.
enum class Page {
    RegCheck,   // /regcheck.php
    Reg,        // /reg.php
    Login,      // /login.php
    ModifyIn,   // /modify_in.php (modification and deletion)
    ModifyHtml, // /modify.html (suffix list)
    CountUser,  // /countUser.php
    GetIp,      // /getip/getip.asp on the IP lookup address
    Ads,        // the four advertisement pages
};
inline constexpr std::size_t kPageCount = 8;
const std::array<Page, kPageCount>& allPages();

// "regcheck", "reg", "login", "modify_in", "modify_html", "count_user",
// "getip", "ads".
std::string_view pageName(Page page);
std::optional<Page> pageFromName(std::string_view name);

enum class FaultKind {
    None,        // the normal reply (after the delay, if any)
    Empty,       // 200 with an empty body; the request changes nothing
    Drop,        // the connection is closed without any reply; changes nothing
    NoMarker,    // a plausible page without any marker; changes nothing
    LongHeaders, // the normal reply with more than 4 KiB of extra header lines
    ZeroByte,    // the normal body with a zero byte just before its first marker
    Huge,        // 50 MiB of HTML comment, then the normal body
    Truncated,   // the normal body cut in the middle of its last marker
    BadGbk,      // invalid GBK bytes right before and after every marker
    Endless,     // 200 with a body that never ends; changes nothing
    Flood,       // the normal reply with a huge number (or size) of shown items
    Markup,      // the normal reply with HTML markup in every text a client shows
    // The account page (login) as a service might write it otherwise:
    RawQuotes, // the values as stored, a double quote not written as &quot;
    Entity,    // the title behind a character reference (kEntityPrefix)
    NoHideRow, // no hide flag (State) row
    // The modification (modify_in) accepted, but a later login shows
    // another account than was sent:
    Stale,    // nothing is stored
    Altered,  // the title is stored with kAlteredTail behind it
    FlipHide, // the hide flag is stored the other way round
};
std::string_view faultKindName(FaultKind kind);
std::optional<FaultKind> faultKindFromName(std::string_view name);

// A fault is a kind and a delay before answering; the two compose: "drop
// after 500 ms" is {Drop, 500}, a plain delay is {None, ms}.
struct Fault {
    FaultKind kind = FaultKind::None;
    int delayMs = 0;

    bool active() const { return kind != FaultKind::None || delayMs > 0; }
    bool operator==(const Fault&) const = default;
};

// One --fault setting: "PAGE=KIND[:ms]", where PAGE is a page name or "all"
// (page empty) and KIND a kind name or "delay" (then ms is required).
struct FaultSetting {
    std::optional<Page> page; // nothing: every page
    Fault fault;
};
std::optional<FaultSetting> parseFaultSetting(std::string_view text, std::string* error);

inline constexpr std::size_t kHugeBodySize = 50u * 1024u * 1024u;
inline constexpr std::size_t kLongHeaderLines = 64;

// Flood: the suffix select holds kFloodOptions options ("s000000.cn" to
// "s199999.cn"), the registration error page as many reasons ("r000000"
// ...), and every single shown text (user count, alert, IP, the six account
// values) is kFloodTextBytes nines. The registration page then always
// answers the error page and stores nothing.
inline constexpr std::size_t kFloodOptions = 200000;
inline constexpr std::size_t kFloodTextBytes = 200000;

// Markup: what the pages show instead of their texts. All are ASCII, so
// equally GBK. The account values stand inside value="..." attributes and
// carry no double quote; a reason holds no "><" and starts and ends with
// text, so that the "><" and "<br" a client cuts reasons at stay the page's
// own.
inline constexpr std::string_view kMarkupCount = "<b>9</b><img src=\"file:///etc/hostname\">";
inline constexpr std::string_view kMarkupSuffix = "<b>cn</b>"; // listed first, then the others
inline constexpr std::string_view kMarkupReason = "R <b>1</b> <img src=\"file:///etc/hostname\"> R";
inline constexpr std::string_view kMarkupAlert = "<b>A</b><img src=\"file:///etc/hostname\">";
inline constexpr std::string_view kMarkupValue = "<b>T</b><img src=x>";
inline constexpr std::string_view kEntityPrefix = "&#x4F60;";
inline constexpr std::string_view kAlteredTail = " (altered)";
inline constexpr std::string_view kMarkupIp = "<b>127.0.0.1</b><img src=\"file:///etc/hostname\">";

// The texts a page shows under a fault kind: the normal ones, or for Flood
// and Markup the replacements above.
std::vector<std::string> shownSuffixes(FaultKind kind, const std::vector<std::string>& normal);
std::vector<std::string> shownReasons(FaultKind kind, std::vector<std::string> normal);
// One shown text: the user count, an alert or the IP reply.
std::string shownText(FaultKind kind, std::string normal, std::string_view markup);
// The six account values the account page shows.
Account shownAccount(FaultKind kind, Account account);

// Applies the kinds that change a normal reply's bytes (LongHeaders,
// ZeroByte, Truncated, BadGbk); the others leave the reply as it is.
void damageReply(Reply& reply, FaultKind kind);

// Bytes [offset, offset + length) of a huge body of `total` bytes: an HTML
// comment filling everything up to the page, which closes the body. The
// parts are made on demand so the body is never held in memory at once.
std::string hugeBodyPart(std::string_view page, std::size_t total, std::size_t offset,
                         std::size_t length);

// Bytes [offset, offset + length) of the endless body: an HTML comment that
// is never closed.
std::string endlessBodyPart(std::size_t offset, std::size_t length);

} // namespace qiv::devserver
