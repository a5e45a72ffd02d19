#pragma once

#include "service/text.h"

#include <vector>

// The cuts that read the service's replies. Pure functions over GBK bytes,
// with no window behind them.
namespace qiv {

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
};

AccountPage cutAccountPage(std::string_view page);

// Suffixes from the modify.html page: the value='...'> of every option
// between the first domainname"> and the next </select>, empty values
// skipped. False when the list holds no "<option" (a failed try).
bool cutDomainSuffixes(std::string_view page, std::vector<Text>& suffixes);

// A public-IP reply counts only when, white space around it ignored, it is
// one IPv4 or IPv6 address.
bool isPublicIpReply(std::string_view reply);

// The result text of a failed registration: the heading, then one
// "\r\n* reason" line per reason the service listed, in its order.
Text registrationFailureMessage(std::string_view reply);

} // namespace qiv
