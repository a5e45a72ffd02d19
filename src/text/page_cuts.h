#pragma once

#include "text/text.h"

#include <cstddef>
#include <vector>

// The cuts that read the service's replies. Pure functions over GBK bytes,
// with no window behind them.
namespace qiv {

// What one reply can put into the window is bounded, whatever its size.
// A suffix is a domain name, at most 255 bytes; the service offers a handful,
// so a thousand is far beyond a real list and still fills a combo box at once.
inline constexpr std::size_t kMaxSuffixes = 1000;
inline constexpr std::size_t kMaxSuffixBytes = 255;
// A registration is refused for a few reasons of a line each.
inline constexpr std::size_t kMaxReasons = 100;
inline constexpr std::size_t kMaxReasonBytes = 256;
// The user count and the modification's alert text: one line each.
inline constexpr std::size_t kMaxShownBytes = 1024;

// At most `maxBytes` bytes from the start of `text`, never half a GBK
// character.
Text gbkPrefix(std::string_view text, std::size_t maxBytes);

// The six account texts as last read from the account page; the deletion
// sends these rather than the edit boxes.
struct AccountSnapshot {
    Text Title;
    Text SendUrl;
    Text EmailAdr;
    Text RegName;
    Text LinkTel;
    Text Address;
};

// What the cuts read out of a login reply.
struct AccountPage {
    AccountSnapshot values;
    // The text between name="State" value=" and ">是否隐藏真实URL？; the hide
    // box is unticked exactly when this is "1".
    Text state;
    // Whether the reply holds the whole account section (start and end marker).
    bool hasSection = false;
    // Whether each of the six rows was found in the section with its label,
    // its end text and a whole value="..." between them (the value may be
    // empty).
    bool allValues = false;
    // Whether the hide flag's start marker name="State" value=" and its end
    // marker ">是否隐藏真实URL？ both stand in the section, in that order.
    bool hasHideRow = false;
    // With AccountReading::Strict: why the page is not read whole, naming the
    // value; empty when it is.
    std::string problem;
};

// The window reads an account page as the service has always been read. The
// follower writes back what it read, so it reads strictly: beyond the
// section and the six rows, each value must end at the quote the markup
// closes it with (a value holding a double quote is refused wherever the
// quote stands), no value may hold a character reference (&name; &#N;
// &#xN;), since the service may or may not decode it, and the hide row must
// be there with both its markers.
enum class AccountReading { Window, Strict };

AccountPage cutAccountPage(std::string_view page, AccountReading reading = AccountReading::Window);

// Suffixes from the suffix list page: the value='...'> of every option
// between the first domainname"> and the next </select>, empty values
// skipped. False when the list holds no "<option" (a failed try). At most
// kMaxSuffixes, each at most kMaxSuffixBytes; later options are ignored.
bool cutDomainSuffixes(std::string_view page, std::vector<Text>& suffixes);

// The count text of the user count page: what document.write(' writes, cut to
// kMaxShownBytes. Empty for a failed try.
Text cutUserCount(std::string_view reply);

// The text of the first alert('...'); of a refused modification, cut to
// kMaxShownBytes.
Text cutModifyAlert(std::string_view reply);

// A public-IP reply counts only when, white space around it ignored, it is
// one IPv4 or IPv6 address.
bool isPublicIpReply(std::string_view reply);

// The result text of a failed registration: the heading, then one
// "\r\n* reason" line per reason the service listed, in its order: at most
// kMaxReasons, each cut to kMaxReasonBytes.
Text registrationFailureMessage(std::string_view reply);

} // namespace qiv
