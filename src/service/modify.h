#pragma once

#include "text/account_forms.h"

// Waits on the network: all three (the modification, then the refresh's
// login and public-IP lookup), handling the window's events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// "修改": sends the account page's values and, on success, reloads them.
void modifyAccount(MainWindow& window, ProgramState& state);

// Sends the account's name, suffix, new password and six values as a
// modification (the hide box is read from the account page as it stands),
// logs the outcome and refreshes after a success.
void submitAccountChanges(MainWindow& window, ProgramState& state, AccountChange change);

// "刷新": logs in again with the login page's credentials and refills the
// account page.
void refreshAccount(MainWindow& window, ProgramState& state);

} // namespace qiv
