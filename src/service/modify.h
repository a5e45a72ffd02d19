#pragma once

#include "text/text.h"

namespace qiv {

class MainWindow;
struct ProgramState;

// "修改": sends the account page's values and, on success, reloads them.
void modifyAccount(MainWindow& window, ProgramState& state);

// Posts the nine account texts to modify_in.php (the hide box is read from
// the account page), logs the outcome and refreshes after a success.
void submitAccountChanges(MainWindow& window, ProgramState& state, const Text& userName,
                          const Text& suffix, const Text& password, const Text& title,
                          const Text& sendUrl, const Text& email, const Text& regName,
                          const Text& linkTel, const Text& address);

// "刷新": logs in again with the login page's credentials and refills the
// account page.
void refreshAccount(MainWindow& window, ProgramState& state);

} // namespace qiv
