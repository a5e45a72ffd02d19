#pragma once

#include "text/text.h"

// Waits on the network: logIn (the login request, then the public-IP lookup
// of fillAccountPage), handling the window's events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// "登 录" (or Enter in the login password box): logs in with name, suffix
// and password and lands on the filled account page.
void logIn(MainWindow& window, ProgramState& state);

// Whether the machine has a network connection besides loopback. Only used
// to warn before a login (ProgramState::connectivityCheck).
bool isConnectedToNetwork();

} // namespace qiv
