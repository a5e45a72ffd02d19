#pragma once

#include "client/service_client.h"
#include "config/hosts.h"
#include "follow/event_log.h"
#include "net/timed_request.h"
#include "text/account_forms.h"
#include "text/ip_target.h"
#include "text/page_cuts.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One round of qiv-follow: the public IP, the login, the decision, the
// modification and its check.
namespace qiv::follow {

enum class Outcome {
    Current,      // the target already points at the public IP
    HostName,     // the target's host is a name: left alone
    OtherFamily,  // the target's address is of the other family: left alone
    DryRun,       // would have changed it; printed instead
    Changed,      // changed, and the page shows the new target
    Refused,      // the login was refused
    NotWhole,     // the account page was not read whole, strictly
    ModifyFailed, // the service did not accept the modification
    NotVerified,  // accepted, but the page does not show everything as sent
    BadIpReply,   // the IP pages answered, but never an address that may be followed
    Unreachable,  // every try got the empty reply
    Stopped,      // SIGTERM came during the round
};

// The exit status of a --once run with this outcome.
int exitStatus(Outcome outcome);
// Whether the outcome is a modification that failed (for the back-off).
bool isFailedModification(Outcome outcome);

// What the last round saw, as shown text: empty where it did not get so far.
struct RoundFacts {
    std::string ip;        // the public IP it followed
    std::string target;    // the target as the account page showed it
    std::string newTarget; // the target it sent
};

struct Account {
    std::string shownName;              // "name.suffix" as given, for messages
    std::string name, suffix, password; // GBK, as sent
};

struct RoundSettings {
    config::Hosts hosts;
    bool dryRun = false;
    // The IP pages asked after the built-in one, in order, each with its own
    // tries, until one answers an address that may be followed.
    std::vector<std::string> ipUrls;
    // The IP lookup: this many tries, the pause doubling from the first.
    int ipTries = 3;
    std::chrono::milliseconds firstPause{1500};
    // The limit of each request.
    int requestSeconds = 30;
};

class Follower {
public:
    // `pause` waits the given time and returns false when the program stops
    // meanwhile.
    using Pause = std::function<bool(std::chrono::milliseconds)>;

    Follower(Network& network, RoundSettings settings, Account account, EventLog& log, Pause pause);

    Outcome runRound();
    const RoundFacts& facts() const { return facts_; }

private:
    // The steps of a round. Each that returns an outcome ends the round with
    // it; nothing means the round goes on.
    std::optional<Outcome> lookUpPublicIp(IpAddress* ip);
    // One IP page with its tries: an allowed address, or nothing with
    // `anyReply` set when some try got a reply; Stopped ends the round.
    std::optional<Outcome> askIpPage(const std::string& url, std::optional<IpAddress>* found,
                                     bool* anyReply);
    // Logs a refused address once until the page's reply changes.
    void noteRefused(const std::string& url, const IpAddress& address, const std::string& reason);
    std::optional<Outcome> logIn(AccountPage* page);
    // The target is left as it is: a host name, the other family, or
    // already the public IP.
    std::optional<Outcome> leaveAlone(const std::string& target, const IpAddress& ip);
    std::optional<Outcome> modify(const AccountChange& change, const std::string& target);
    // A fresh login, to see the new target on the account page.
    Outcome verify(const AccountChange& change);

    client::Connection service() const;
    client::Credentials credentials() const;
    bool stopped() const;

    Network& network_;
    RoundSettings settings_;
    Account account_;
    EventLog& log_;
    Pause pause_;
    // The host-name notice is given once for each target text.
    std::string notedNameTarget_;
    // The refused address last logged for each IP page.
    std::map<std::string, std::string> notedRefused_;
    RoundFacts facts_;
};

} // namespace qiv::follow
