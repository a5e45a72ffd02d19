#pragma once

#include "text/page_cuts.h"
#include "text/text.h"

#include <string>
#include <string_view>

// The forms the account operations send and the verdicts on the service's
// replies to them. The window and qiv-follow both build and judge with these,
// so the bytes on the wire and the reading of a reply cannot drift apart.
namespace qiv {

// The login form, also sent by every refresh: username, domainname and
// password form-encoded, then the fixed Submit.x=86&Submit.y=24.
Text loginFormBody(std::string_view name, std::string_view suffix, std::string_view password);

// What one modification sends. `password` is the new password; empty keeps
// the old one.
struct AccountChange {
    Text name;
    Text suffix;
    Text password;
    AccountSnapshot values;
    // The hide box (选择框2): ticked sends the raw pair State=1 right after
    // SendUrl, unticked sends no State pair at all.
    bool hide = false;
};

// username, domainname, psw, Title, SendUrl, [State=1,] EmailAdr, RegName,
// LinkTel, Address, in this order, values form-encoded.
Text modifyFormBody(const AccountChange& change);

// The hide box as the window ticks it from an account page: unticked exactly
// when the page's State text is "1".
bool hideBoxTicked(std::string_view stateText);

// A login reply that refuses the password ("您输入的密码错误" anywhere).
bool isWrongPasswordReply(std::string_view reply);

// An account page the window takes as a login: the whole account section.
bool isAccountPage(const AccountPage& page);

// The stricter rule before qiv-follow writes: the whole section and each of
// the six values in it, so that nothing it sends back is a value it could
// not read; with a strict reading, also no problem it found.
bool isAccountPageWhole(const AccountPage& page);

// The first field the account page shows otherwise than `change` sent it:
// "Title", "SendUrl", "EmailAdr", "RegName", "LinkTel", "Address", or
// "State" for the hide flag; empty when the page shows everything as sent.
std::string changeDifference(const AccountChange& change, const AccountPage& page);

// A modification reply that accepts the change ("您的资料修改成功").
bool isModifyAccepted(std::string_view reply);

} // namespace qiv
