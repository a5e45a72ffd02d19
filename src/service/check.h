#pragma once

// Waits on the network: checkAvailability (the client's name check),
// handling the window's events meanwhile.
namespace qiv {

class MainWindow;
struct ProgramState;

// "检查域名": asks the service whether the name typed on the registration
// page is free under the chosen suffix and shows the answer beside the button.
void checkAvailability(MainWindow& window, ProgramState& state);

} // namespace qiv
