#pragma once

#include "text/page_cuts.h"

// Waits on the network: registerDomain (the client's registration),
// handling the window's events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// "提交注册": sends the registration form to the service and shows the
// outcome on the registration result page.
void registerDomain(MainWindow& window, ProgramState& state);

} // namespace qiv
