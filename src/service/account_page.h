#pragma once

#include "service/text.h"

namespace qiv {

class MainWindow;

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

// The program-wide snapshot. Only touched on the UI thread.
AccountSnapshot& accountSnapshot();

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

// Fills the account page from a login reply: the domain link, the
// registration target box, the six values (page and snapshot), the hide box,
// then the public IP (waiting until a lookup succeeds), and shows page 3.
void fillAccountPage(MainWindow& window, std::string_view page);

} // namespace qiv
