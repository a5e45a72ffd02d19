#pragma once

#include "text/page_cuts.h"

// Waits on the network: fillAccountPage (its public-IP lookup), handling
// the window's events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// Fills the account page from a login reply: the domain link, the
// registration target box, the six values (page and snapshot), the hide box,
// then the public IP (waiting until a lookup succeeds), and shows page 3.
void fillAccountPage(MainWindow& window, ProgramState& state, std::string_view page);
// The same, from a reply already cut.
void fillAccountPage(MainWindow& window, ProgramState& state, const AccountPage& cut);

} // namespace qiv
