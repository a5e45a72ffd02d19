#pragma once

#include "config/hosts.h"
#include "net/timed_request.h"
#include "text/account_forms.h"
#include "text/ip_target.h"
#include "text/page_cuts.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The conversations with the service, one function each: what it sends,
// byte for byte, and how it reads the reply. Every value in and out is GBK
// bytes as they travel; nothing here touches a widget. Each call waits as
// timedRequest does: a thread with an event loop (the window's) handles its
// events meanwhile, any other thread (qiv-follow's, the start-up fetches)
// blocks until the reply or the limit.
namespace qiv::client {

// Where the requests go and what they share.
struct Connection {
    Network& network;
    const config::Hosts& hosts;
    // The limit of each request; 0 stands for network.requestLimit.
    int requestSeconds = 0;
};

// The pages spoken to, for the log lines that name them.
enum class Page { Check, Register, Login, Modify, Suffixes, UserCount, PublicIp };
// "host/page" on the host that serves it.
std::string pageAddress(const config::Hosts& hosts, Page page);
// "http://host/page".
std::string pageUrl(const config::Hosts& hosts, Page page);

// Whether `name` is free under `suffix`: a GET with both form-encoded in the
// query. No reply reads as taken.
enum class NameCheck { Free, Taken };
NameCheck checkName(const Connection& to, std::string_view name, std::string_view suffix);

// The registration form, every text as typed; the hide box sends the raw
// State=1 after SendUrl when ticked.
struct Registration {
    Text name, suffix, password, confirmation, title, target;
    bool hide = false;
    Text email, regName, phone, address;
};
struct RegistrationResult {
    bool registered = false;
    // Without success: the heading and the service's reasons, one a line.
    Text failure;
};
RegistrationResult registerDomain(const Connection& to, const Registration& form);

struct Credentials {
    Text name, suffix, password;
};
enum class LoginOutcome {
    Account,    // the account page, read as the caller asked
    Refused,    // wrong password, or no such domain
    NoReply,    // the empty reply: no network, the limit, an error
    NotAccount, // a reply, but not the account page (see page.problem)
};
struct Login {
    LoginOutcome outcome = LoginOutcome::NoReply;
    // The reply read as an account page, whatever the outcome: with a
    // strict reading its problem says why it is not one.
    AccountPage page;
};
// The window takes a reply with the account section as the account page; a
// strict reading takes only a page read whole (isAccountPageWhole).
Login logIn(const Connection& to, const Credentials& account,
            AccountReading reading = AccountReading::Window);

enum class ModifyOutcome { Accepted, Refused, NoReply };
struct Modification {
    ModifyOutcome outcome = ModifyOutcome::NoReply;
    // The service's alert text of a refusal; empty otherwise.
    Text alert;
};
Modification modify(const Connection& to, const AccountChange& change);

// Deletes the domain, sending `values` (the account page as last read) with
// the raw delinfo marker. True when the service says it is gone.
bool deleteDomain(const Connection& to, std::string_view name, std::string_view suffix,
                  const AccountSnapshot& values);

// The suffixes the service offers; nothing when the reply holds no list.
std::optional<std::vector<Text>> domainSuffixes(const Connection& to);

// The count of accounts as the page writes it; empty when not read.
Text userCount(const Connection& to);

struct IpReply {
    Text reply; // as it came, for the window to show and the log to quote
    std::optional<IpAddress> address;
};
// The built-in public-IP page, on the IP lookup host.
IpReply publicIp(const Connection& to);
// Another IP page, given whole ("http://host/path").
IpReply publicIp(const Connection& to, const std::string& url);

} // namespace qiv::client
