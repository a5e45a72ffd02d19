#pragma once

#include "text/text.h"

namespace qiv {

class MainWindow;
struct ProgramState;

// "登 录" (or Enter in the login password box): posts name, suffix and
// password to login.php and lands on the filled account page.
void logIn(MainWindow& window, ProgramState& state);

// The login form's body (also the refresh's), values form-encoded.
Text loginBody(const Text& name, const Text& suffix, const Text& password);

// Whether the machine has a network connection besides loopback. Only used
// to warn before a login (ProgramState::connectivityCheck).
bool isConnectedToNetwork();

} // namespace qiv
