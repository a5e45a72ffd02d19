#include "devserver/faults.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace qiv::devserver {
namespace {

struct PageEntry {
    Page page;
    std::string_view name;
};
constexpr std::array<PageEntry, kPageCount> kPageNames{{
    {Page::RegCheck, "regcheck"},
    {Page::Reg, "reg"},
    {Page::Login, "login"},
    {Page::ModifyIn, "modify_in"},
    {Page::ModifyHtml, "modify_html"},
    {Page::CountUser, "count_user"},
    {Page::GetIp, "getip"},
    {Page::Ads, "ads"},
}};

struct KindEntry {
    FaultKind kind;
    std::string_view name;
};
constexpr std::array<KindEntry, 18> kKindNames{{
    {FaultKind::None, "none"},
    {FaultKind::Empty, "empty"},
    {FaultKind::Drop, "drop"},
    {FaultKind::NoMarker, "no-marker"},
    {FaultKind::LongHeaders, "long-headers"},
    {FaultKind::ZeroByte, "zero-byte"},
    {FaultKind::Huge, "huge"},
    {FaultKind::Truncated, "truncated"},
    {FaultKind::BadGbk, "bad-gbk"},
    {FaultKind::Endless, "endless"},
    {FaultKind::Flood, "flood"},
    {FaultKind::Markup, "markup"},
    {FaultKind::RawQuotes, "raw-quotes"},
    {FaultKind::Entity, "entity"},
    {FaultKind::NoHideRow, "no-hide-row"},
    {FaultKind::Stale, "stale"},
    {FaultKind::Altered, "altered"},
    {FaultKind::FlipHide, "flip-hide"},
}};

// 0xFF is never part of a GBK character; 0x81 is a lead byte that 0xFF
// cannot follow. Neither can join the marker's own first or last byte into a
// valid character, so the marker's bytes stay intact.
constexpr std::string_view kBadBefore = "\xFF";
constexpr std::string_view kBadAfter = "\x81\xFF";

const char kCommentOpen[] = "<!--";
const char kCommentClose[] = "-->\r\n";

} // namespace

const std::array<Page, kPageCount>& allPages()
{
    static const std::array<Page, kPageCount> pages = [] {
        std::array<Page, kPageCount> out{};
        for (std::size_t i = 0; i < kPageCount; ++i)
            out[i] = kPageNames[i].page;
        return out;
    }();
    return pages;
}

std::string_view pageName(Page page)
{
    for (const PageEntry& e : kPageNames) {
        if (e.page == page)
            return e.name;
    }
    return {};
}

std::optional<Page> pageFromName(std::string_view name)
{
    for (const PageEntry& e : kPageNames) {
        if (e.name == name)
            return e.page;
    }
    return std::nullopt;
}

std::string_view faultKindName(FaultKind kind)
{
    for (const KindEntry& e : kKindNames) {
        if (e.kind == kind)
            return e.name;
    }
    return {};
}

std::optional<FaultKind> faultKindFromName(std::string_view name)
{
    for (const KindEntry& e : kKindNames) {
        if (e.name == name)
            return e.kind;
    }
    return std::nullopt;
}

std::optional<FaultSetting> parseFaultSetting(std::string_view text, std::string* error)
{
    auto fail = [&](std::string message) -> std::optional<FaultSetting> {
        if (error != nullptr)
            *error = std::move(message);
        return std::nullopt;
    };
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return fail("fault '" + std::string(text) + "' is not PAGE=KIND[:ms]");
    const std::string_view pageText = text.substr(0, eq);
    std::string_view kindText = text.substr(eq + 1);

    FaultSetting setting;
    if (pageText != "all") {
        setting.page = pageFromName(pageText);
        if (!setting.page)
            return fail("unknown page '" + std::string(pageText) + "' in fault '" +
                        std::string(text) + "'");
    }

    std::optional<int> delay;
    if (const std::size_t colon = kindText.find(':'); colon != std::string_view::npos) {
        const std::string_view msText = kindText.substr(colon + 1);
        int ms = -1;
        const auto [end, ec] = std::from_chars(msText.data(), msText.data() + msText.size(), ms);
        if (msText.empty() || ec != std::errc() || end != msText.data() + msText.size() || ms < 0)
            return fail("bad delay '" + std::string(msText) + "' in fault '" + std::string(text) +
                        "' (milliseconds, 0 or more)");
        delay = ms;
        kindText = kindText.substr(0, colon);
    }
    if (kindText == "delay") {
        if (!delay)
            return fail("fault '" + std::string(text) + "': delay needs :ms");
        setting.fault = Fault{FaultKind::None, *delay};
        return setting;
    }
    const std::optional<FaultKind> kind = faultKindFromName(kindText);
    if (!kind)
        return fail("unknown fault kind '" + std::string(kindText) + "' in fault '" +
                    std::string(text) + "'");
    setting.fault = Fault{*kind, delay.value_or(0)};
    return setting;
}

namespace {

// Each line is about 120 bytes: well over 4 KiB in all, and no line long
// enough to be refused by itself.
void addLongHeaders(Reply& reply)
{
    for (std::size_t i = 0; i < kLongHeaderLines; ++i) {
        char name[32];
        const int n = std::snprintf(name, sizeof name, "X-Qiv-Padding-%02zu", i + 1);
        reply.headers.emplace_back(std::string(name, static_cast<std::size_t>(n)),
                                   std::string(100, static_cast<char>('a' + i % 26)));
    }
}

void insertZeroByte(Reply& reply)
{
    std::string& body = reply.body;
    std::size_t at = std::string::npos;
    for (const std::string& marker : reply.markers)
        at = std::min(at, body.find(marker));
    if (at == std::string::npos)
        at = body.size() / 2;
    body.insert(at, 1, '\0');
}

void truncateInLastMarker(Reply& reply)
{
    std::string& body = reply.body;
    for (auto it = reply.markers.rbegin(); it != reply.markers.rend(); ++it) {
        if (const std::size_t pos = body.find(*it); pos != std::string::npos) {
            body.resize(pos + std::max<std::size_t>(1, it->size() / 2));
            return;
        }
    }
    body.resize(body.size() / 2);
}

void surroundMarkersWithBadGbk(Reply& reply)
{
    std::string& body = reply.body;
    bool any = false;
    for (const std::string& marker : reply.markers) {
        const std::size_t pos = body.find(marker);
        if (pos == std::string::npos || marker.empty())
            continue;
        std::string damaged(kBadBefore);
        damaged += marker;
        damaged += kBadAfter;
        body.replace(pos, marker.size(), damaged);
        any = true;
    }
    if (!any) {
        std::string bad(kBadBefore);
        bad += kBadAfter;
        body.insert(body.size() / 2, bad);
    }
}

} // namespace

void damageReply(Reply& reply, FaultKind kind)
{
    switch (kind) {
    case FaultKind::LongHeaders:
        addLongHeaders(reply);
        return;
    case FaultKind::ZeroByte:
        insertZeroByte(reply);
        return;
    case FaultKind::Truncated:
        truncateInLastMarker(reply);
        return;
    case FaultKind::BadGbk:
        surroundMarkersWithBadGbk(reply);
        return;
    case FaultKind::None:
    case FaultKind::Empty:
    case FaultKind::Drop:
    case FaultKind::NoMarker:
    case FaultKind::Huge:
    case FaultKind::Endless:
    case FaultKind::Flood:
    case FaultKind::Markup:
    case FaultKind::RawQuotes:
    case FaultKind::Entity:
    case FaultKind::NoHideRow:
    case FaultKind::Stale:
    case FaultKind::Altered:
    case FaultKind::FlipHide:
        return;
    }
}

namespace {

// count items "<letter>000000<tail>", "<letter>000001<tail>", ...
std::vector<std::string> numberedTexts(char letter, std::string_view tail, std::size_t count)
{
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%c%06zu", letter, i);
        out.emplace_back(text, static_cast<std::size_t>(n));
        out.back() += tail;
    }
    return out;
}

} // namespace

std::vector<std::string> shownSuffixes(FaultKind kind, const std::vector<std::string>& normal)
{
    if (kind == FaultKind::Flood)
        return numberedTexts('s', ".cn", kFloodOptions);
    std::vector<std::string> out;
    if (kind == FaultKind::Markup)
        out.emplace_back(kMarkupSuffix);
    out.insert(out.end(), normal.begin(), normal.end());
    return out;
}

std::vector<std::string> shownReasons(FaultKind kind, std::vector<std::string> normal)
{
    if (kind == FaultKind::Flood)
        return numberedTexts('r', "", kFloodOptions);
    if (kind == FaultKind::Markup)
        std::fill(normal.begin(), normal.end(), std::string(kMarkupReason));
    return normal;
}

std::string shownText(FaultKind kind, std::string normal, std::string_view markup)
{
    if (kind == FaultKind::Flood)
        return std::string(kFloodTextBytes, '9');
    if (kind == FaultKind::Markup)
        return std::string(markup);
    return normal;
}

Account shownAccount(FaultKind kind, Account account)
{
    for (std::string* value : {&account.title, &account.sendUrl, &account.email, &account.regName,
                               &account.linkTel, &account.address})
        *value = shownText(kind, std::move(*value), kMarkupValue);
    if (kind == FaultKind::Entity)
        account.title.insert(0, kEntityPrefix);
    return account;
}

std::string hugeBodyPart(std::string_view page, std::size_t total, std::size_t offset,
                         std::size_t length)
{
    const std::size_t open = sizeof kCommentOpen - 1;
    const std::size_t close = sizeof kCommentClose - 1;
    // The filler is the comment: open, dots, close; the page follows.
    const std::size_t fillerSize =
        total > page.size() + open + close ? total - page.size() : open + close;
    const std::size_t size = fillerSize + page.size();
    std::string out;
    if (offset >= size)
        return out;
    length = std::min(length, size - offset);
    out.reserve(length);
    for (std::size_t at = offset; at < offset + length;) {
        if (at < open) {
            out.push_back(kCommentOpen[at]);
            ++at;
        } else if (at < fillerSize - close) {
            const std::size_t n = std::min(offset + length, fillerSize - close) - at;
            out.append(n, '.');
            at += n;
        } else if (at < fillerSize) {
            out.push_back(kCommentClose[at - (fillerSize - close)]);
            ++at;
        } else {
            const std::size_t n = offset + length - at;
            out.append(page.substr(at - fillerSize, n));
            at += n;
        }
    }
    return out;
}

std::string endlessBodyPart(std::size_t offset, std::size_t length)
{
    // A huge body as long as offsets go, with nothing after its comment:
    // its close would come after 2^64 bytes.
    return hugeBodyPart({}, std::numeric_limits<std::size_t>::max(), offset, length);
}

} // namespace qiv::devserver
