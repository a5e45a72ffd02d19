#pragma once

#include "text/text.h"

// Waits on the network: deleteDomain (the deletion request), handling the window's
// events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// "删除此域名": deletes the domain at the service (no confirmation) and goes
// back to the login page.
void deleteDomain(MainWindow& window, ProgramState& state);

} // namespace qiv
